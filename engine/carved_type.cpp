#include "engine/carved_type.h"

#include <string_view>

#include "engine/jpeg_carving.h"
#include "engine/jpeg_structure.h"
#include "engine/mov_carving.h"
#include "engine/movie_structure.h"
#include "engine/plugin_info.h"
#include "engine/png_carving.h"
#include "engine/png_structure.h"

namespace kestrix {

namespace {

// One row per CarvedType but None, in the order of the plug-in's list; a
// member left out is false or null. MP4 takes MOV's signatures so that a
// type selected as ".mp4" leaves the engine as it always did (the signature
// rules find nothing for it).
constexpr CarvedTypeRow kCarvedTypes[] = {
    {.type = CarvedType::Jpeg,
     .extension = ".jpg",
     .signatures = &jpeg::signatures,
     .signatureRulesFind = true,
     .masksHeader = true,
     .extractionPlan = &jpeg::extractionPlan,
     .precise = PreciseSearch::Jpeg},
    {.type = CarvedType::Png,
     .extension = ".png",
     .signatures = &png::signatures,
     .signatureRulesFind = true,
     .extractionPlan = &png::extractionPlan,
     .precise = PreciseSearch::Candidate,
     .nextCandidate = &png::nextCandidate,
     .walk = &png::walkFile},
    {.type = CarvedType::Mov,
     .extension = ".mov",
     .signatures = &mov::signatures,
     .signatureRulesFind = true,
     .keepsFirstHeader = true,
     .extractionPlan = &mov::extractionPlan,
     .precise = PreciseSearch::Movie,
     .quickTime = true},
    {.type = CarvedType::Mp4,
     .extension = ".mp4",
     .signatures = &mov::signatures,
     .keepsFirstHeader = true,
     .precise = PreciseSearch::Movie},
};
constexpr size_t kRows = std::size(kCarvedTypes);

// The rows' extensions joined by ';' are the plug-in's list, exactly.
constexpr bool rowsSpellTheList() {
  std::string_view list(PluginExtensions);
  for (size_t i = 0; i < kRows; ++i) {
    if (static_cast<int>(kCarvedTypes[i].type) != static_cast<int>(i) + 1) return false;
    const std::string_view extension(kCarvedTypes[i].extension);
    if (list.substr(0, extension.size()) != extension) return false;
    list.remove_prefix(extension.size());
    if (i + 1 < kRows) {
      if (list.empty() || list.front() != ';') return false;
      list.remove_prefix(1);
    }
  }
  return list.empty() && kRows + 1 == kCarvedTypeCount;
}
static_assert(rowsSpellTheList(), "kCarvedTypes: one row per type, spelling PluginExtensions");

// Where each row's extension starts in the list.
constexpr int32_t firstPosition(size_t row) {
  int32_t position = 0;
  for (size_t i = 0; i < row; ++i) {
    position += static_cast<int32_t>(std::string_view(kCarvedTypes[i].extension).size()) + 1;
  }
  return position;
}

}  // namespace

CarvedType carvedTypeAt(int32_t position) {
  // A text found inside a row's extension or its ';' chooses that row.
  for (size_t row = kRows; row-- > 0;) {
    if (position >= firstPosition(row)) return kCarvedTypes[row].type;
  }
  return CarvedType::None;  // -1: not in the list
}

const CarvedTypeRow* carvedTypeRow(CarvedType type) {
  const int index = static_cast<int>(type) - 1;
  return index >= 0 && index < static_cast<int>(kRows) ? &kCarvedTypes[index] : nullptr;
}

std::span<const CarvedTypeRow> carvedTypeRows() { return kCarvedTypes; }

}  // namespace kestrix
