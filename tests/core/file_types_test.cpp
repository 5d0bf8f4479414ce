// The tables of file types (core/file_types.cpp, engine/carved_type.cpp,
// imaging/check/find_checker.cpp) against each other and against real
// files: a row wired to another type's walker, a type the engine registers
// that the core does not know, or a type without a checker fails here.
#include "core/file_types.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "engine/carved_type.h"
#include "engine/carving_engine.h"
#include "engine/precise_corpus.h"
#include "engine/scan_engine.h"
#include "imaging/check/find_checker.h"

namespace kestrix {
namespace {

using test::CorpusFile;

TEST(FileTypeTable, EveryTypeHasOneRowWhoseTextsLeadBackToIt) {
  std::set<std::string_view> texts;
  for (int value = 0; value < static_cast<int>(FileType::Unknown); ++value) {
    const auto type = static_cast<FileType>(value);
    const FileTypeRow* row = fileTypeRow(type);
    ASSERT_NE(row, nullptr) << value;
    EXPECT_EQ(row->type, type);
    EXPECT_EQ(fileTypeText(type), row->text);
    for (const std::string_view text : {row->text, row->extension}) {
      EXPECT_EQ(fileTypeOf(text), type) << text;
      EXPECT_EQ(fileTypeOf("." + std::string(text)), type) << text;
    }
    // No text may name two types.
    texts.insert(row->text);
    if (row->extension != row->text) texts.insert(row->extension);
    EXPECT_NE(row->walk, nullptr) << row->text << ": no structure walk";
    // The check goes by the type's text (core/candidate_check.cpp).
    EXPECT_TRUE(IsCheckedType(row->text)) << row->text << ": no checker";
    EXPECT_TRUE(IsCheckedType(row->extension)) << row->extension << ": no checker";
    EXPECT_EQ(IsMovieCheckType(row->text), row->movie) << row->text;
    EXPECT_EQ(isMovie(type), row->movie) << row->text;
  }
  EXPECT_EQ(fileTypeRows().size(), static_cast<size_t>(FileType::Unknown));
  size_t textCount = 0;
  for (const FileTypeRow& row : fileTypeRows()) textCount += row.extension == row.text ? 1 : 2;
  EXPECT_EQ(texts.size(), textCount);
  EXPECT_EQ(fileTypeRow(FileType::Unknown), nullptr);
  EXPECT_FALSE(isMovie(FileType::Unknown));
}

// The check pool asks the checkers' table whether a find's bytes go to the
// movie thumbnailer, by the extension a find carries (any letter case, with
// its dot) and by other plug-ins' movie texts.
TEST(FileTypeTable, MoviesAreKnownByExtensionInAnyCase) {
  for (const char* type : {".mov", ".MP4", "m4v", "3gp"})
    EXPECT_TRUE(IsMovieCheckType(extensionWithoutDot(type))) << type;
  for (const char* type : {".jpg", "png", "", "."})
    EXPECT_FALSE(IsMovieCheckType(extensionWithoutDot(type))) << type;
}

// The engine's rows and the core's name the same types by the same
// extensions, in the plug-in's list, and agree on which are movies.
TEST(FileTypeTable, EngineAndCoreAgreeOnEveryExtension) {
  CarvingEngine engine;
  std::string list;
  std::set<FileType> known;
  for (const CarvedTypeRow& carved : carvedTypeRows()) {
    if (!list.empty()) list += ";";
    list += carved.extension;
    const FileType type = fileTypeOf(carved.extension);
    ASSERT_NE(type, FileType::Unknown) << carved.extension << ": the core has no row";
    EXPECT_EQ("." + std::string(fileTypeRow(type)->extension), carved.extension);
    EXPECT_EQ(fileTypeRow(type)->movie, carved.precise == PreciseSearch::Movie) << carved.extension;
    known.insert(type);
    // The engine's type chosen by the text is the row's, with or without
    // its dot, and it takes the text.
    EXPECT_EQ(engine.SelectType(carved.extension), 0) << carved.extension;
    EXPECT_EQ(engine.Supports(carved.extension + 1), 1) << carved.extension;
    const std::string_view plugin = engine.GetInfo()->extensions;
    EXPECT_EQ(carvedTypeAt(static_cast<int32_t>(plugin.find(carved.extension))), carved.type);
    EXPECT_EQ(carvedTypeAt(static_cast<int32_t>(plugin.find(carved.extension + 1))), carved.type);
    if (carved.precise == PreciseSearch::Candidate) {
      EXPECT_NE(carved.nextCandidate, nullptr) << carved.extension;
      EXPECT_NE(carved.walk, nullptr) << carved.extension;
    }
    if (carved.signatureRulesFind) {
      EXPECT_NE(carved.signatures, nullptr) << carved.extension;
    }
  }
  EXPECT_EQ(list, engine.GetInfo()->extensions);
  EXPECT_EQ(known.size(), fileTypeRows().size()) << "a core type the engine does not register";
  EXPECT_EQ(carvedTypeAt(-1), CarvedType::None);
  EXPECT_EQ(engine.SelectType(".gif"), -1);
}

// Each corpus file is whole by its own type's walk and checks intact by its
// type's checker, and no other picture type's walk takes it; the engine's
// precise search of its extension finds exactly the file.
TEST(FileTypeTable, EachRowWalksChecksAndFindsItsOwnFiles) {
  std::string missing;
  const std::vector<CorpusFile>* corpus = test::preciseCorpus(missing);
  if (corpus == nullptr) GTEST_SKIP() << missing;
  std::set<FileType> seen;
  for (const CorpusFile& file : *corpus) {
    const char* extension = test::extensionOf(file.kind);
    const FileType type = fileTypeOf(extension);
    ASSERT_NE(type, FileType::Unknown) << file.name;
    seen.insert(type);
    const BoundBlock block(file.bytes.data(), file.bytes.size());
    for (const FileTypeRow& row : fileTypeRows()) {
      const StructureEnd end = row.walk(block, 0, nullptr);
      if (row.type == type) {
        EXPECT_EQ(end.verdict, StructureEnd::Verdict::Ends) << file.name;
        EXPECT_TRUE(end.whole) << file.name;
        EXPECT_EQ(end.end, file.bytes.size()) << file.name;
      } else if (!row.movie || !isMovie(type)) {
        // Movies of both brands share one walk; the brand tells them apart.
        EXPECT_EQ(end.verdict, StructureEnd::Verdict::NotAFile) << file.name << " as " << row.text;
      }
    }
    const CheckResult check = CheckFind(file.bytes.data(), file.bytes.size(), fileTypeText(type));
    EXPECT_EQ(check.verdict, Verdict::Intact) << file.name << ": " << check.reason;

    CarvingEngine engine;
    const uint64_t size = file.bytes.size();
    engine.Attach(file.bytes.data(), lowHalf(size), highHalf(size), extension, ScanModePrecise);
    uint64_t found = 0;
    EXPECT_EQ(engine.FindNext(0, 0, &found, extension), size) << file.name;
    EXPECT_EQ(found, size) << file.name;
  }
  EXPECT_EQ(seen.size(), fileTypeRows().size()) << "a type without a corpus file";
}

}  // namespace
}  // namespace kestrix
