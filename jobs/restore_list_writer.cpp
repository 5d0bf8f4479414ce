#include "jobs/restore_list_writer.h"

#include <cstdio>

#include "imaging/exif_info.h"
#include "core/candidate_list.h"
#include "core/image_block.h"
#include "core/offset_text.h"

namespace kestrix {

bool writeRestoreList(const ImageBlock* image, const CandidateList& list, std::string& out) {
  if (image == nullptr) return false;
  out += "メディア情報: " + std::to_string(image->size()) + " バイト\r\n\r\n";
  out += "復元リスト：\r\n\r\n";
  const int32_t rows = list.itemCount();
  if (rows == 0) return false;
  for (int32_t row = 0; row < rows; ++row) {
    const Candidate* candidate = list.candidateAt(row + 1);
    if (candidate == nullptr) return true;
    std::string name;
    std::string sizeText;
    list.itemText(row, CandidateList::ColumnName, name);
    list.itemText(row, CandidateList::ColumnSize, sizeText);
    std::string maker = kUnknownText;
    if (const IfdEntry* entry = candidate->findInMainChain(kTagMake)) {
      candidate->valueText(*entry, candidate->isMotorola(), maker);
    }
    std::string endian = kUnknownText;
    candidate->endianText(endian);
    // Every piece is followed by one space, the last one included.
    for (const std::string* piece : {&name, &sizeText}) out += *piece + " ";
    out += offsetText(candidate->find().start) + " ";
    out += offsetText(candidate->find().end) + " ";
    out += maker + " ";
    out += endian + " ";
    out += "\r\n";
  }
  return true;
}

}  // namespace kestrix
