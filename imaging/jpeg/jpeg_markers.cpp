// Input buffer, marker loop, segment parsers and scan setup.
#include "imaging/jpeg/jpeg_decoder.h"
#include "imaging/jpeg/jpeg_tables.h"

#include <algorithm>
#include <cstring>

namespace kestrix {

namespace {

constexpr int kMarkerTem = 0x01;
constexpr int kMarkerSof0 = 0xC0;
constexpr int kMarkerSof1 = 0xC1;
constexpr int kMarkerSof2 = 0xC2;
constexpr int kMarkerDht = 0xC4;
constexpr int kMarkerJpg = 0xC8;
constexpr int kMarkerSof9 = 0xC9;
constexpr int kMarkerDac = 0xCC;
constexpr int kMarkerRst0 = 0xD0;
constexpr int kMarkerRst7 = 0xD7;
constexpr int kMarkerSoi = 0xD8;
constexpr int kMarkerEoi = 0xD9;
constexpr int kMarkerSos = 0xDA;
constexpr int kMarkerDqt = 0xDB;
constexpr int kMarkerDri = 0xDD;

int CeilDiv(int value, int divisor) { return (value + divisor - 1) / divisor; }

}  // namespace

// Fills the chunk from the source and puts FF D9 pairs behind the data, so a
// look-ahead never meets stale bytes. -232 when the source reports an error.
void JpegDecoder::RefillInput() {
  std::uint8_t* data = entropy_.input.data() + kJpegInputHeadRoom;
  entropy_.chunkOffset += static_cast<std::uint64_t>(entropy_.chunkFilled);
  entropy_.chunkFilled = 0;
  entropy_.readPointer = data;
  entropy_.available = 0;
  int filled = 0;
  while (!entropy_.sourceEnded && filled < kJpegInputChunk) {
    bool endOfData = false;
    const int count = entropy_.source->Read(data + filled, kJpegInputChunk - filled, &endOfData);
    if (count < 0 || count > kJpegInputChunk - filled) Fail(kJpegReadError);
    filled += count;
    // A source that neither delivers nor ends would make us spin forever:
    // treat an empty read as the end.
    if (endOfData || count == 0) entropy_.sourceEnded = true;
  }
  entropy_.available = filled;
  entropy_.chunkFilled = filled;
  for (int i = 0; i < kJpegInputTailPadding; i += 2) {
    data[filled + i] = 0xFF;
    data[filled + i + 1] = 0xD9;
  }
}

// Past the end of the input the stream goes on as FF D9 FF D9 ..., so the
// marker loop always meets an EOI eventually.
std::uint8_t JpegDecoder::NextByte() {
  if (entropy_.available == 0) {
    RefillInput();
    if (entropy_.available == 0) {
      entropy_.inputExhausted = true;
      const std::uint8_t filler = entropy_.fillerToggle ? 0xD9 : 0xFF;
      entropy_.fillerToggle = !entropy_.fillerToggle;
      return filler;
    }
  }
  --entropy_.available;
  return *entropy_.readPointer++;
}

// The head room in front of the chunk makes this safe even right after a
// refill; at most a couple of bytes are ever put back before being re-read.
void JpegDecoder::PutBack(std::uint8_t byte) {
  if (entropy_.readPointer == entropy_.input.data())
    Fail(kJpegCorruptData);  // cannot happen: every put-back is re-read before the next
  --entropy_.readPointer;
  *entropy_.readPointer = byte;
  ++entropy_.available;
}

int JpegDecoder::ReadWord() {
  const int high = NextByte();
  return (high << 8) | NextByte();
}

// -217 when no FF D8 (followed by FF) lies within the first 513 bytes.
void JpegDecoder::FindSoi() {
  std::uint8_t previous = NextByte();
  std::uint8_t current = NextByte();
  if (previous == 0xFF && current == kMarkerSoi) return;
  // A carved fragment may carry junk in front; slide over up to 511 bytes.
  for (int i = 0; i < kJpegSoiSearchBytes; ++i) {
    previous = current;
    current = NextByte();
    if (previous == 0xFF && current == kMarkerSoi) {
      const std::uint8_t next = NextByte();
      if (next != 0xFF) Fail(kJpegNoSoi);
      PutBack(next);
      return;
    }
  }
  Fail(kJpegNoSoi);
}

// Handles tables and miscellaneous segments and returns the first frame,
// SOI, EOI or SOS marker. -216 TEM/JPG/RSTn, -215 DAC.
int JpegDecoder::NextMarker() {
  entropy_.markerSkipped = 0;
  bool counting = true;  // bytes before the first marker found are counted
  for (;;) {
    std::uint8_t byte = NextByte();
    while (byte != 0xFF) {
      entropy_.markerSkipped += counting ? 1 : 0;
      byte = NextByte();
    }
    do byte = NextByte();
    while (byte == 0xFF);
    if (byte == 0) {
      entropy_.markerSkipped += counting ? 2 : 0;
      continue;  // FF 00 is stuffed data, not a marker
    }
    counting = false;

    const int marker = byte;
    if (marker == kMarkerTem || marker == kMarkerJpg ||
        (marker >= kMarkerRst0 && marker <= kMarkerRst7))
      Fail(kJpegMarkerOutOfPlace);
    if (marker == kMarkerDac) Fail(kJpegArithmetic);
    if ((marker >= 0xC0 && marker <= 0xCF) || marker == kMarkerSoi || marker == kMarkerEoi ||
        marker == kMarkerSos) {
      if (marker != kMarkerDht) return marker;
    }
    switch (marker) {
      case kMarkerDht: ReadHuffmanTables(); break;
      case kMarkerDqt: ReadQuantisationTables(); break;
      case kMarkerDri: ReadRestartInterval(); break;
      default: SkipSegment(); break;  // APPn, COM, DNL, DHP, EXP, JPGn, reserved
    }
  }
}

// The first marker after SOI must start a supported frame: -215 SOF9,
// -218 any other frame type or a non-frame marker.
void JpegDecoder::ReadHeaders() {
  const int marker = NextMarker();
  switch (marker) {
    case kMarkerSof2: frame_.progressive = true; [[fallthrough]];
    case kMarkerSof0:
    case kMarkerSof1: ReadFrameHeader(); return;
    case kMarkerSof9: Fail(kJpegArithmetic);
    default: Fail(kJpegUnsupportedFrame);
  }
}

// T.81 B.2.2. -205 precision, -206 height, -207 width, -208 Nf, -209 length.
void JpegDecoder::ReadFrameHeader() {
  const int length = ReadWord();
  if (NextByte() != 8) Fail(kJpegBadPrecision);
  const int height = ReadWord();
  if (height == 0 || height > kJpegMaxDimension)
    Fail(kJpegBadHeight);  // DNL is not supported, so 0 is an error too
  const int width = ReadWord();
  if (width == 0 || width > kJpegMaxDimension) Fail(kJpegBadWidth);
  const int count = NextByte();
  if (count > 4) Fail(kJpegTooManyComponents);
  if (length != 8 + 3 * count) Fail(kJpegBadFrameLength);
  frame_.height = height;
  frame_.width = width;
  frame_.componentCount = count;
  for (int i = 0; i < count; ++i) {
    FrameComponent& component = frame_.components[i];
    component.id = NextByte();
    const int sampling = NextByte();
    component.h = sampling >> 4;
    component.v = sampling & 15;
    component.tq = NextByte();
  }
}

// T.81 B.2.4.2. -200 more than 255 codes, -202 length, -201 slot 8 or above.
void JpegDecoder::ReadHuffmanTables() {
  const int length = ReadWord();
  if (length < 2) Fail(kJpegDhtBadLength);
  int remaining = length - 2;
  while (remaining > 0) {
    const int classAndIndex = NextByte();
    std::uint8_t counts[17] = {};
    int total = 0;
    for (int i = 1; i <= 16; ++i) {
      counts[i] = NextByte();
      total += counts[i];
    }
    if (total > kJpegMaxHuffmanCodes) Fail(kJpegDhtTooManyCodes);
    if (remaining < 17 + total) Fail(kJpegDhtBadLength);
    const int slot = (classAndIndex & 15) + 4 * ((classAndIndex >> 4) & 1);
    if (slot >= 8) Fail(kJpegDhtBadSlot);
    if (frame_.huffmanCounts[slot] == nullptr) {
      frame_.huffmanCounts[slot] = static_cast<std::uint8_t*>(Allocate(17));
      frame_.huffmanSymbols[slot] = static_cast<std::uint8_t*>(Allocate(256));
    }
    std::memcpy(frame_.huffmanCounts[slot], counts, sizeof counts);
    for (int i = 0; i < total; ++i) frame_.huffmanSymbols[slot][i] = NextByte();
    remaining -= 17 + total;
  }
}

// T.81 B.2.4.1. -203 length, -204 index above 3, -219 table cut short.
// Entries are stored pre-scaled for the AAN IDCT: q' = (q * A + 2048) >> 12.
void JpegDecoder::ReadQuantisationTables() {
  const int length = ReadWord();
  if (length < 2) Fail(kJpegDqtShort);
  int remaining = length - 2;
  while (remaining > 0) {
    const int precisionAndIndex = NextByte();
    const int index = precisionAndIndex & 15;
    if (index > 3) Fail(kJpegDqtBadIndex);
    const bool sixteenBit = (precisionAndIndex >> 4) != 0;
    const int needed = sixteenBit ? 129 : 65;
    if (remaining < needed) Fail(kJpegDqtTruncated);
    if (frame_.quantisation[index] == nullptr)
      frame_.quantisation[index] = static_cast<std::int16_t*>(Allocate(64 * sizeof(std::int16_t)));
    for (int k = 0; k < 64; ++k) {
      const std::int64_t q = sixteenBit ? ReadWord() : NextByte();
      const int n = kJpegZigzag[k];
      const std::int64_t scaled = (q * kJpegAanScale[n] + 2048) >> 12;
      frame_.quantisation[index][n] = static_cast<std::int16_t>(static_cast<std::uint16_t>(scaled));
    }
    remaining -= needed;
  }
}

// -211 when the length is not 4.
void JpegDecoder::ReadRestartInterval() {
  if (ReadWord() != 4) Fail(kJpegBadDriLength);
  frame_.restartInterval = ReadWord();
}

// -210 when the length is below 2.
void JpegDecoder::SkipSegment() {
  const int length = ReadWord();
  if (length < 2) Fail(kJpegBadSegmentLength);
  int left = length - 2;
  while (left > 0) {
    if (entropy_.available == 0) {
      NextByte();
      --left;
      continue;
    }
    const int step = std::min(left, entropy_.available);
    entropy_.readPointer += step;
    entropy_.available -= step;
    left -= step;
  }
}

// T.81 B.2.3. -212 length or Ns, -213 unknown component.
void JpegDecoder::ReadScanHeader() {
  const int length = ReadWord();
  const int count = NextByte();
  if (count < 1 || count > 4 || length != 6 + 2 * count) Fail(kJpegBadSosLength);
  frame_.scanComponentCount = count;
  for (int i = 0; i < count; ++i) {
    const int id = NextByte();
    const int tables = NextByte();
    int found = -1;
    for (int c = 0; c < frame_.componentCount && found < 0; ++c) {
      if (frame_.components[c].id == id) found = c;
    }
    if (found < 0) Fail(kJpegUnknownComponent);
    frame_.scanComponents[i] = found;
    frame_.dcSlot[i] = tables >> 4;
    frame_.acSlot[i] = (tables & 15) + 4;
  }
  frame_.Ss = NextByte();
  frame_.Se = NextByte();
  const int approximation = NextByte();
  frame_.Ah = approximation >> 4;
  frame_.Al = approximation & 15;
  if (!frame_.progressive) {
    // Sequential scans always cover the whole band, whatever the file says.
    frame_.Ss = 0;
    frame_.Se = 63;
  }
}

// -229 an MCU of more than 10 blocks, -223 Huffman table missing,
// -222 quantisation table missing.
void JpegDecoder::SetUpScan() {
  for (int c = 0; c < frame_.componentCount; ++c) {
    FrameComponent& component = frame_.components[c];
    component.widthInBlocks = CeilDiv(CeilDiv(frame_.width * component.h, frame_.maxH), 8);
    component.heightInBlocks = CeilDiv(CeilDiv(frame_.height * component.v, frame_.maxV), 8);
  }
  if (frame_.scanComponentCount == 1) {
    const FrameComponent& component = frame_.components[frame_.scanComponents[0]];
    frame_.scanMcusPerRow = component.widthInBlocks;
    frame_.scanMcuRows = component.heightInBlocks;
  } else {
    frame_.scanMcusPerRow = CeilDiv(CeilDiv(frame_.width, 8), frame_.maxH);
    frame_.scanMcuRows = CeilDiv(CeilDiv(frame_.height, 8), frame_.maxV);
    int blocks = 0;
    for (int i = 0; i < frame_.scanComponentCount; ++i)
      blocks += frame_.components[frame_.scanComponents[i]].h *
                frame_.components[frame_.scanComponents[i]].v;
    if (blocks > kJpegMaxBlocksPerMcu) Fail(kJpegBadBlockAddress);
  }

  for (int i = 0; i < frame_.scanComponentCount; ++i) {
    if (frame_.Ss == 0 &&
        (frame_.dcSlot[i] > 3 || frame_.huffmanCounts[frame_.dcSlot[i]] == nullptr))
      Fail(kJpegMissingHuffmanTable);
    if (frame_.Se > 0 &&
        (frame_.acSlot[i] > 7 || frame_.huffmanCounts[frame_.acSlot[i]] == nullptr))
      Fail(kJpegMissingHuffmanTable);
  }
  for (int slot = 0; slot < 8; ++slot) {
    if (frame_.huffmanCounts[slot] != nullptr) BuildLookup(slot);
  }
  for (int i = 0; i < frame_.scanComponentCount; ++i) {
    const int tq = frame_.components[frame_.scanComponents[i]].tq;
    if (tq > 3 || frame_.quantisation[tq] == nullptr) Fail(kJpegMissingQuantTable);
  }

  entropy_.dcPredictor.fill(0);
  entropy_.eobRun = 0;
  entropy_.restartsToGo = frame_.restartInterval;
  entropy_.nextRestart = 0;
  ResetBitReader();
  entropy_.currentScan = -1;
  if (entropy_.scanCount < kJpegMaxRecordedScans) {
    entropy_.currentScan = entropy_.scanCount++;
    entropy_.scans[entropy_.currentScan] =
        JpegScanSpan{StreamOffset(), kJpegScanUnfinished, ZerosDecodeFlat()};
  }
}

// The symbol a table gives for a run of zero bits.
static int ZeroBitsSymbolOf(const std::array<std::uint16_t, 256>& first,
                            const std::array<std::array<std::int16_t, 2>, 512>& nodes) {
  const unsigned entry = first[0];
  if ((entry & 0x8000) == 0) return static_cast<int>(entry & 0xFF);
  int node = static_cast<int>(entry & 0x7FFF);
  for (int depth = 0; depth < 8; ++depth) {
    const int child = nodes[node][0];
    if (child <= 0) return child < 0 ? -child - 1 : 0;
    node = child - 1;
  }
  return 0;
}

// True when zero bits decode as empty blocks under this scan's tables: DC
// differences of category 0 and AC end-of-band symbols. Then a run of zero
// bytes is also what a flat area gives, and is no sign of a hole by itself.
bool JpegDecoder::ZerosDecodeFlat() const {
  for (int i = 0; i < frame_.scanComponentCount; ++i) {
    if (frame_.Ss == 0 && frame_.Ah == 0 && frame_.dcSlot[i] <= 3 &&
        ZeroBitsSymbolOf(frame_.lookups[frame_.dcSlot[i]].first,
                         frame_.lookups[frame_.dcSlot[i]].nodes) != 0)
      return false;
    if (frame_.Se > 0 && frame_.acSlot[i] <= 7) {
      const int symbol = ZeroBitsSymbolOf(frame_.lookups[frame_.acSlot[i]].first,
                                          frame_.lookups[frame_.acSlot[i]].nodes);
      if ((symbol & 15) != 0 || (symbol >> 4) == 15) return false;
    }
  }
  return true;
}

// At the end of an entropy-coded segment (before a restart marker or after a
// scan): did the blocks use bits that were not in it, and how many whole
// bytes of it did they leave? Then realigns the bit reader.
void JpegDecoder::EndEntropySegment() {
  const std::int64_t madeUp = 8 * std::int64_t(entropy_.phantomBytes + entropy_.fillerBytes);
  entropy_.segmentLeftover = 0;
  if (entropy_.bitCount < madeUp) {
    if (entropy_.fillerBytes > 0 || entropy_.markerAtEnd)
      NoteFault(JpegFault::Truncated, StreamOffset());
    else
      NoteFault(JpegFault::RanPastScan, entropy_.markerOffset);
  } else {
    entropy_.segmentLeftover = (entropy_.bitCount - madeUp) / 8;
  }
  const std::uint64_t position = StreamOffset();
  entropy_.segmentEndOffset = position > std::uint64_t(entropy_.segmentLeftover)
                                  ? position - std::uint64_t(entropy_.segmentLeftover)
                                  : 0;
  if (entropy_.currentScan >= 0) entropy_.scans[entropy_.currentScan].end = position;
  ResetBitReader();
}

// skipped: bytes passed over between the segment's end and the next marker.
void JpegDecoder::NoteTrailingBytes(int skipped) {
  if (entropy_.segmentLeftover + skipped > kJpegSegmentSlackBytes)
    NoteFault(JpegFault::DataAfterScan, entropy_.segmentEndOffset);
  entropy_.segmentLeftover = 0;
}

// SOI or a frame header where the next scan or EOI belongs: a new image
// begins inside this one.
void JpegDecoder::NoteMarkerAfterFrame(int marker) {
  if (marker == kMarkerSoi || (marker >= 0xC0 && marker <= 0xCF && marker != kMarkerDht &&
                               marker != kMarkerJpg && marker != kMarkerDac)) {
    const std::uint64_t position = StreamOffset();
    NoteFault(JpegFault::ImageInsideImage, position >= 2 ? position - 2 : 0);
  }
}

// T.81 F.1.2.3 / E.1.4: -228 when no RSTn turns up within the budget or it
// carries the wrong number. No resynchronisation to another number.
void JpegDecoder::ProcessRestart() {
  EndEntropySegment();
  // Up to kJpegRestartSearchBytes bytes that are not 0xFF may be skipped;
  // the next one must be the 0xFF.
  int budget = kJpegRestartSearchBytes;
  std::uint8_t byte = NextByte();
  while (byte != 0xFF) {
    if (budget-- == 0) StopOnFault(JpegFault::RestartOutOfOrder);
    byte = NextByte();
  }
  const int skipped = kJpegRestartSearchBytes - budget;
  do byte = NextByte();
  while (byte == 0xFF);
  if (entropy_.inputExhausted)
    NoteFault(JpegFault::Truncated, StreamOffset());  // the marker due is past the end of the data
  if (byte != kMarkerRst0 + entropy_.nextRestart) StopOnFault(JpegFault::RestartOutOfOrder);
  NoteTrailingBytes(skipped);
  entropy_.dcPredictor.fill(0);
  entropy_.eobRun = 0;
  entropy_.restartsToGo = frame_.restartInterval;
  entropy_.nextRestart = (entropy_.nextRestart + 1) & 7;
}

// After the last MCU row of a sequential image: realign and run the marker
// loop once, which normally consumes EOI.
void JpegDecoder::ReadEndOfImage() {
  EndEntropySegment();
  endMarker_ = NextMarker();
  NoteTrailingBytes(entropy_.markerSkipped);
  NoteMarkerAfterFrame(endMarker_);
}

}  // namespace kestrix
