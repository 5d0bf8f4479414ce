#include "texts/restore_list_writer.h"

#include "core/candidate_list.h"
#include "core/image_block.h"
#include "core/offset_text.h"
#include "texts/row_texts.h"

namespace kestrix {

bool writeRestoreList(const ImageBlock* image, const CandidateList& list, std::string& out) {
  if (image == nullptr) return false;
  out += "メディア情報: " + std::to_string(image->size()) + " バイト\r\n\r\n";
  out += "復元リスト：\r\n\r\n";
  const int32_t rows = list.itemCount();
  if (rows == 0) return false;
  for (int32_t row = 0; row < rows; ++row) {
    const Candidate* candidate = list.candidateAt(row + 1);
    std::string name;
    if (candidate == nullptr || !list.itemName(row, name)) return true;
    // The very texts the list shows: name, size, maker, byte order.
    const RowTexts texts = rowTexts(*candidate, name);
    using Column = RowTexts::Column;
    // Every piece is followed by one space, the last one included.
    out += texts[Column::Name] + " ";
    out += texts[Column::Size] + " ";
    out += offsetText(candidate->find().start) + " ";
    out += offsetText(candidate->find().end) + " ";
    out += texts[Column::Maker] + " ";
    out += texts[Column::Endian] + " ";
    out += "\r\n";
  }
  return true;
}

}  // namespace kestrix
