// The words both programs show for the codes of core/ and jobs/: every code
// has its own sentence, and no two codes of one kind share one (a user
// could not tell them apart).
#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include "platform/system_error_text.h"
#include "texts/job_texts.h"

namespace kestrix {
namespace {

struct CodeTable {
  const char* name;
  std::vector<std::string> texts;  // one per code of the kind
};

std::vector<CodeTable> codeTables() {
  CodeTable notices{"copy notices", {}};
  for (const CopyNoticeCode code : kCopyNoticeCodes) notices.texts.push_back(copyNoticeText(code));
  CodeTable problems{"file problems", {}};
  for (int code = static_cast<int>(FileProblemCode::None) + 1;
       code <= static_cast<int>(kLastFileProblemCode); ++code) {
    problems.texts.push_back(fileProblemText({static_cast<FileProblemCode>(code)}));
  }
  CodeTable loads{"image loads", {}};
  for (const LoadStatus status : {LoadStatus::NotFound, LoadStatus::OpenFailed,
                                  LoadStatus::NotAnImage, LoadStatus::ReadFailed}) {
    loads.texts.push_back(loadStatusMessage(status));
  }
  CodeTable refusals{"restore refusals", {}};
  for (const RestoreRefusalKind kind :
       {RestoreRefusalKind::OnSource, RestoreRefusalKind::Unwritable,
        RestoreRefusalKind::FileTooLargeForFat, RestoreRefusalKind::NotEnoughSpace}) {
    RestoreRefusal refusal;
    refusal.kind = kind;
    refusals.texts.push_back(refusalText(refusal));
  }
  CodeTable tidy{"tidy settings", {}};
  for (const TidyProblem problem :
       {TidyProblem::DigitsInvalid, TidyProblem::PrefixTooLong, TidyProblem::PrefixUnusable}) {
    tidy.texts.push_back(tidyProblemText(problem));
  }
  return {notices, problems, loads, refusals, tidy};
}

TEST(JobTexts, EveryCodeHasItsOwnSentence) {
  for (const CodeTable& table : codeTables()) {
    std::set<std::string> seen;
    for (size_t i = 0; i < table.texts.size(); ++i) {
      EXPECT_FALSE(table.texts[i].empty()) << table.name << " #" << i;
      EXPECT_TRUE(seen.insert(table.texts[i]).second)
          << table.name << " says twice: " << table.texts[i];
    }
  }
  // A value that names no notice reads as a failed copy, unlike every notice.
  const std::string fallback = copyNoticeText(0);
  for (const CopyNoticeCode code : kCopyNoticeCodes) EXPECT_NE(copyNoticeText(code), fallback);
}

TEST(JobTexts, NothingToSayWhenNothingWentWrong) {
  EXPECT_EQ(fileProblemText({}), "");
  EXPECT_STREQ(loadStatusMessage(LoadStatus::Loaded), "");
  EXPECT_EQ(refusalText({}), "");
  EXPECT_STREQ(tidyProblemText(TidyProblem::None), "");
}

// The payloads land where the sentences always had them.
TEST(JobTexts, PayloadsJoinTheirSentences) {
  struct Case {
    const char* name;
    FileProblem problem;
    std::string expected;
  };
  const Case cases[] = {
      {"extension first",
       {FileProblemCode::NoEngine, 0, ".xyz"},
       "拡張子 .xyz に対応するスキャンエンジンがありません"},
      {"name last",
       {FileProblemCode::NameWithSeparator, 0, "a/b.jpg"},
       "ファイル名にパス区切りが含まれています: a/b.jpg"},
      {"system reason after",
       {FileProblemCode::OutputNotCreated, EROFS},
       withSystemError("出力ファイルを作成できませんでした", EROFS)},
      {"a write that took nothing", {FileProblemCode::WriteFailed, 0}, "書き込みに失敗しました"},
  };
  for (const Case& c : cases) EXPECT_EQ(fileProblemText(c.problem), c.expected) << c.name;
}

}  // namespace
}  // namespace kestrix
