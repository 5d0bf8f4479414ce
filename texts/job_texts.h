// The words for what core/ and jobs/ report as codes, shared by the window
// and the command line because both say the very same sentences. Only the
// programs call these; a job never holds a sentence of its own.
//
//   if (!file.ok) show(fileProblemText(file.problem));
//
// Each program keeps its own texts beside these (ui/widgets/window_texts.h,
// cli/cli_texts.h); a sentence lives in exactly one of the three.
#pragma once

#include <cstdint>
#include <string>

#include "core/file_problem.h"
#include "core/image_file.h"
#include "core/tidy_names.h"
#include "jobs/job_reporter.h"
#include "jobs/restore_preflight.h"

namespace kestrix {

// A copy notice (CopyNoticeCode); a failed copy's sentence for a value
// that names no notice.
const char* copyNoticeText(uint64_t code);

// Why a candidate was not restored, with the system's reason after the
// sentence when the problem carries an errno.
std::string fileProblemText(const FileProblem& problem);

// A failed open; empty for LoadStatus::Loaded.
const char* loadStatusMessage(LoadStatus status);

// A refused restore, CR LF between its lines; empty when not refused.
std::string refusalText(const RestoreRefusal& refusal);

// Tidy settings that cannot be used; empty for TidyProblem::None.
const char* tidyProblemText(TidyProblem problem);

// Shown when no plug-in could be loaded (RecoveryJob::loadPlugins returned
// 0); the program runs on and finds nothing.
inline constexpr const char* kNoPluginMessage =
    "スキャンプラグインがインストールされていません。\r\n"
    "もう一度インストールし直すか、必要なスキャンプラグインをインストールフォルダに戻してください"
    "。";

}  // namespace kestrix
