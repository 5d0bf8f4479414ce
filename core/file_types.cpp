#include "core/file_types.h"

#include "engine/jpeg_structure.h"
#include "engine/movie_structure.h"
#include "engine/png_structure.h"

namespace kestrix {

namespace {

// One row per FileType but Unknown, in enum order (fileTypeRow indexes it).
// clang-format off
constexpr FileTypeRow kFileTypes[] = {
    // type          text    extension movie  walk              from inside ends split
    {FileType::Jpeg, "jpeg", "jpg",    false, &jpeg::walkFile,  true,       false},
    {FileType::Png,  "png",  "png",    false, &png::walkFile,   false,      true},
    {FileType::Mov,  "mov",  "mov",    true,  &movie::walkFile, false,      true},
    {FileType::Mp4,  "mp4",  "mp4",    true,  &movie::walkFile, false,      false},
};
// clang-format on

constexpr bool rowsInEnumOrder() {
  for (size_t i = 0; i < std::size(kFileTypes); ++i) {
    if (static_cast<size_t>(kFileTypes[i].type) != i) return false;
  }
  return std::size(kFileTypes) == static_cast<size_t>(FileType::Unknown);
}
static_assert(rowsInEnumOrder(), "kFileTypes: one row per FileType, in enum order");

}  // namespace

std::string_view extensionWithoutDot(std::string_view extension) {
  if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
  return extension;
}

std::span<const FileTypeRow> fileTypeRows() { return kFileTypes; }

const FileTypeRow* fileTypeRow(FileType type) {
  const auto index = static_cast<size_t>(type);
  return index < std::size(kFileTypes) ? &kFileTypes[index] : nullptr;
}

FileType fileTypeOf(std::string_view extension) {
  const std::string_view text = extensionWithoutDot(extension);
  for (const FileTypeRow& row : kFileTypes) {
    if (row.text == text || row.extension == text) return row.type;
  }
  return FileType::Unknown;
}

std::string_view fileTypeText(FileType type) {
  const FileTypeRow* row = fileTypeRow(type);
  return row != nullptr ? row->text : std::string_view();
}

bool isMovie(FileType type) {
  const FileTypeRow* row = fileTypeRow(type);
  return row != nullptr && row->movie;
}

}  // namespace kestrix
