#include "core/find_structure.h"

#include "engine/bound_block.h"

namespace kestrix {

FindStructure walkFind(const ImageBlock& image, FileType type, uint64_t start, bool wantHolds) {
  FindStructure found;
  const BoundBlock block(image.data(), image.size());
  ByteSpans* holds = wantHolds ? &found.holds : nullptr;
  const FileTypeRow* row = fileTypeRow(type);
  if (row == nullptr) return found;
  const StructureEnd end = row->walk(block, start, holds);
  switch (end.verdict) {
    case StructureEnd::Verdict::NotAFile: found.kind = FindStructure::Kind::NotAFile; break;
    case StructureEnd::Verdict::Ends:
      found.kind = end.whole ? FindStructure::Kind::Whole : FindStructure::Kind::Damaged;
      found.end = end.end;
      break;
    case StructureEnd::Verdict::RanOut:
      // On the whole image "ran out" is the image's end: a cut file only when
      // what was walked before proves one.
      if (end.proven) {
        found.kind = FindStructure::Kind::Cut;
        found.end = block.size();
        found.resume = end.resume > start ? end.resume : block.size();
      } else {
        found.kind = FindStructure::Kind::NotAFile;
      }
      break;
  }
  if (found.kind != FindStructure::Kind::Whole) found.holds.clear();
  return found;
}

}  // namespace kestrix
