#include "core/find.h"

namespace kestrix {

namespace {

struct TypeName {
  FileType type;
  std::string_view text;
};
// The first row of a type is its canonical text; "jpg" is what the
// registry and the row names use for JPEG.
constexpr TypeName kTypeNames[] = {
    // type          text
    {FileType::Jpeg, "jpeg"}, {FileType::Jpeg, "jpg"}, {FileType::Png, "png"},
    {FileType::Mov, "mov"},   {FileType::Mp4, "mp4"},
};

std::string_view withoutDot(std::string_view extension) {
  if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
  return extension;
}

}  // namespace

FileType fileTypeOf(std::string_view extension) {
  const std::string_view text = withoutDot(extension);
  for (const TypeName& name : kTypeNames) {
    if (name.text == text) return name.type;
  }
  return FileType::Unknown;
}

std::string_view fileTypeText(FileType type) {
  for (const TypeName& name : kTypeNames) {
    if (name.type == type) return name.text;
  }
  return {};
}

uint64_t Find::size() const {
  if (fragments.empty()) return end >= start ? end - start : 0;
  uint64_t total = 0;
  for (const FilePiece& piece : fragments) total += piece.end - piece.start;
  return total;
}

void setFileType(Find& find, std::string_view extension) {
  find.type = fileTypeOf(extension);
  find.unknownExtension = find.type == FileType::Unknown ? std::string(withoutDot(extension)) : "";
}

std::string typeText(const Find& find) {
  return find.type == FileType::Unknown ? find.unknownExtension
                                        : std::string(fileTypeText(find.type));
}

}  // namespace kestrix
