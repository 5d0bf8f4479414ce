#include "core/find.h"

namespace kestrix {

uint64_t Find::size() const {
  if (fragments.empty()) return end >= start ? end - start : 0;
  uint64_t total = 0;
  for (const FilePiece& piece : fragments) total += piece.end - piece.start;
  return total;
}

void setFileType(Find& find, std::string_view extension) {
  find.type = fileTypeOf(extension);
  find.unknownExtension =
      find.type == FileType::Unknown ? std::string(extensionWithoutDot(extension)) : "";
}

std::string typeText(const Find& find) {
  return find.type == FileType::Unknown ? find.unknownExtension
                                        : std::string(fileTypeText(find.type));
}

}  // namespace kestrix
