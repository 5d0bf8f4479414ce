// Progressive scans (T.81 Annex G.1.2), all decoded inside Start, and the
// assembly of MCU rows from the stored coefficients for ReadRow.
#include "imaging/jpeg/jpeg_decoder.h"
#include "imaging/jpeg/jpeg_entropy_inline.h"
#include "imaging/jpeg/jpeg_tables.h"

#include <cstring>

namespace kestrix {

namespace {

inline std::int16_t Wrap16(std::uint32_t value) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
}

}  // namespace

// -233 when the coefficient store would exceed kJpegMaxProgressiveBytes;
// -230/-231 bad scan parameters; -222 a component no table was ever given
// for; and every error of the scans themselves.
void JpegDecoder::DecodeProgressive() {
  AllocateCoefficientStores(true);

  bool afterScan = false;
  for (;;) {
    const int marker = NextMarker();
    if (afterScan) NoteTrailingBytes(entropy_.markerSkipped);
    if (marker == 0xD9) break;
    if (marker != 0xDA) {
      NoteMarkerAfterFrame(marker);
      Fail(kJpegMarkerOutOfPlace);
    }
    ReadScanHeader();
    SetUpScan();
    if (frame_.Se < frame_.Ss || frame_.Se > 63) Fail(kJpegBadProgression);
    if (frame_.Ss > 0 && frame_.scanComponentCount != 1)
      Fail(kJpegBadProgression);  // AC scans are never interleaved (G.1.1.1.1)
    if (frame_.Ss == 0 && frame_.Se != 0)
      Fail(kJpegBadProgression);  // DC and AC never share a scan
    if (frame_.Ah != 0 && frame_.Ah != frame_.Al + 1) Fail(kJpegBadSuccessive);
    bool complete = false;
    try {
      complete = DecodeProgressiveScan();
    } catch (const InputEndedStop&) {
      // The fault is noted as the data's end; the scans before it stay.
    }
    EndEntropySegment();
    afterScan = true;
    if (!complete || ShouldStopScans()) break;
  }

  // A component that no scan reached still goes through the IDCT.
  for (int c = 0; c < frame_.componentCount; ++c) {
    const int tq = frame_.components[c].tq;
    if (tq > 3 || frame_.quantisation[tq] == nullptr) Fail(kJpegMissingQuantTable);
  }
}

// The per-component stores in the output geometry; greyscale output uses
// 8 x 8 MCUs whatever the component's factors, so its store is the
// component's blocks. DC only (withAc false) for a sequential DC picture.
// -233 when they would exceed kJpegMaxProgressiveBytes.
void JpegDecoder::AllocateCoefficientStores(bool withAc) {
  std::size_t total = 0;
  for (int c = 0; c < frame_.componentCount; ++c) {
    ProgressiveComponent& store = entropy_.progressiveComponents[c];
    store.widthInBlocks =
        output_.mcusPerRow * (output_.colourMode == 0 ? 1 : frame_.components[c].h);
    store.heightInBlocks = output_.mcuRows * (output_.colourMode == 0 ? 1 : frame_.components[c].v);
    total += std::size_t(store.widthInBlocks) * std::size_t(store.heightInBlocks) *
             ((withAc ? 64 : 0) + 1) * sizeof(std::int16_t);
  }
  if (total > kJpegMaxProgressiveBytes) Fail(kJpegOutOfMemory);
  for (int c = 0; c < frame_.componentCount; ++c) {
    ProgressiveComponent& store = entropy_.progressiveComponents[c];
    const std::size_t blocks = std::size_t(store.widthInBlocks) * std::size_t(store.heightInBlocks);
    store.dc = static_cast<std::int16_t*>(Allocate(blocks * sizeof(std::int16_t)));
    if (withAc)
      store.coefficients = static_cast<std::int16_t*>(Allocate(blocks * 64 * sizeof(std::int16_t)));
  }
}

// False when it stopped early: the data ran out, or a check met a fault.
bool JpegDecoder::DecodeProgressiveScan() {
  const bool dcScan = frame_.Ss == 0;
  const bool refine = frame_.Ah != 0;
  for (int i = 0; i < frame_.scanComponentCount; ++i)
    entropy_.progressiveComponents[frame_.scanComponents[i]].blockRow = 0;

  // -229 when a block lies outside its component's store.
  auto decodeBlock = [&](int scanIndex, int column, int row) {
    const int c = frame_.scanComponents[scanIndex];
    ProgressiveComponent& store = entropy_.progressiveComponents[c];
    if (column < 0 || row < 0 || column >= store.widthInBlocks || row >= store.heightInBlocks)
      Fail(kJpegBadBlockAddress);
    const std::size_t block =
        std::size_t(row) * std::size_t(store.widthInBlocks) + std::size_t(column);
    if (dcScan) {
      if (refine)
        DecodeDcRefine(store.dc + block);
      else
        DecodeDcFirst(scanIndex, store.dc + block);
    } else {
      std::int16_t* coefficients = store.coefficients + block * 64;
      if (refine)
        DecodeAcRefine(coefficients);
      else
        DecodeAcFirst(coefficients);
    }
  };

  for (int mcuRow = 0; mcuRow < frame_.scanMcuRows; ++mcuRow) {
    for (int mcu = 0; mcu < frame_.scanMcusPerRow; ++mcu) {
      if (frame_.restartInterval != 0 && entropy_.restartsToGo == 0) ProcessRestart();
      if (frame_.scanComponentCount == 1) {
        decodeBlock(0, mcu, mcuRow);
      } else {
        for (int i = 0; i < frame_.scanComponentCount; ++i) {
          const FrameComponent& component = frame_.components[frame_.scanComponents[i]];
          const int blockRow = entropy_.progressiveComponents[frame_.scanComponents[i]].blockRow;
          for (int v = 0; v < component.v; ++v) {
            for (int h = 0; h < component.h; ++h)
              decodeBlock(i, mcu * component.h + h, blockRow + v);
          }
        }
      }
      if (frame_.restartInterval != 0) --entropy_.restartsToGo;
    }
    for (int i = 0; i < frame_.scanComponentCount; ++i) {
      const int step =
          frame_.scanComponentCount == 1 ? 1 : frame_.components[frame_.scanComponents[i]].v;
      entropy_.progressiveComponents[frame_.scanComponents[i]].blockRow += step;
    }
    if (ShouldStopScans()) return false;
  }
  return true;
}

// G.1.2.1: the predictor holds the unshifted value.
void JpegDecoder::DecodeDcFirst(int scanIndex, std::int16_t* dc) {
  int category = DecodeSymbol(frame_.lookups[frame_.dcSlot[scanIndex]]);
  if (category > 16) category = 16;
  const int difference = JpegReadDifference(category, GetBits(category));
  const int c = frame_.scanComponents[scanIndex];
  entropy_.dcPredictor[c] = static_cast<std::int32_t>(
      static_cast<std::uint32_t>(entropy_.dcPredictor[c]) + static_cast<std::uint32_t>(difference));
  *dc = Wrap16(static_cast<std::uint32_t>(entropy_.dcPredictor[c]) << frame_.Al);
}

void JpegDecoder::DecodeDcRefine(std::int16_t* dc) {
  if (GetBit() != 0) *dc = Wrap16(static_cast<std::uint16_t>(*dc) | (1u << frame_.Al));
}

// G.1.2.2. -227 when a run passes coefficient 63.
void JpegDecoder::DecodeAcFirst(std::int16_t* coefficients) {
  if (entropy_.eobRun > 0) {
    --entropy_.eobRun;
    return;
  }
  const HuffmanLookup& table = frame_.lookups[frame_.acSlot[0]];
  for (int k = frame_.Ss; k <= frame_.Se; ++k) {
    const int symbol = DecodeSymbol(table);
    const int run = symbol >> 4;
    const int size = symbol & 15;
    if (size != 0) {
      k += run;
      if (k > 63) StopOnFault(JpegFault::CoefficientOverrun);
      const int value = JpegExtend(GetBits(size), size);
      coefficients[kJpegZigzag[k]] = Wrap16(static_cast<std::uint32_t>(value) << frame_.Al);
    } else if (run == 15) {
      k += 15;
      if (k > 63) StopOnFault(JpegFault::CoefficientOverrun);
    } else {
      entropy_.eobRun = 1 << run;
      if (run != 0) entropy_.eobRun += GetBits(run);
      --entropy_.eobRun;  // this block is the first of the run
      return;
    }
  }
}

// G.1.2.3. -227 when a symbol's size is not 0 or 1, or a new coefficient
// would land past position 63.
void JpegDecoder::DecodeAcRefine(std::int16_t* coefficients) {
  const int p1 = 1 << frame_.Al;
  const int m1 = -(1 << frame_.Al);
  const HuffmanLookup& table = frame_.lookups[frame_.acSlot[0]];

  // Correction bit for a coefficient already non-zero: sets bit Al
  // towards its sign unless already set.
  auto correct = [&](std::int16_t& coefficient) {
    if (GetBit() != 0 && (coefficient & p1) == 0)
      coefficient = Wrap16(static_cast<std::uint32_t>(coefficient + (coefficient >= 0 ? p1 : m1)));
  };

  int k = frame_.Ss;
  if (entropy_.eobRun == 0) {
    for (; k <= frame_.Se; ++k) {
      const int symbol = DecodeSymbol(table);
      int run = symbol >> 4;
      const int size = symbol & 15;
      int value = 0;
      if (size != 0) {
        if (size != 1) StopOnFault(JpegFault::CoefficientOverrun);
        value = GetBit() != 0 ? p1 : m1;
      } else if (run != 15) {
        entropy_.eobRun = 1 << run;
        if (run != 0) entropy_.eobRun += GetBits(run);
        break;  // the rest of the band is handled below
      }
      // Skip run zero coefficients (ZRL: 16), correcting the non-zero
      // ones passed on the way.
      while (k <= frame_.Se) {
        std::int16_t& coefficient = coefficients[kJpegZigzag[k]];
        if (coefficient != 0) {
          correct(coefficient);
        } else {
          if (run == 0) break;
          --run;
        }
        ++k;
      }
      if (value != 0) {
        if (k > 63) StopOnFault(JpegFault::CoefficientOverrun);
        coefficients[kJpegZigzag[k]] = static_cast<std::int16_t>(value);
      }
    }
  }
  if (entropy_.eobRun > 0) {
    for (; k <= frame_.Se; ++k) {
      std::int16_t& coefficient = coefficients[kJpegZigzag[k]];
      if (coefficient != 0) correct(coefficient);
    }
    --entropy_.eobRun;
  }
}

void JpegDecoder::AssembleProgressiveMcuRow() {
  for (int mcu = 0; mcu < output_.mcusPerRow; ++mcu) {
    for (int b = 0; b < output_.blocksPerMcu; ++b) {
      const McuBlock& place = output_.mcuBlocks[b];
      const ProgressiveComponent& store = entropy_.progressiveComponents[place.component];
      const int h = output_.colourMode == 0 ? 1 : frame_.components[place.component].h;
      const int v = output_.colourMode == 0 ? 1 : frame_.components[place.component].v;
      const int column = mcu * h + place.h;
      const int row = output_.nextMcuRow * v + place.v;
      if (column >= store.widthInBlocks || row >= store.heightInBlocks) Fail(kJpegBadBlockAddress);
      const std::size_t index =
          std::size_t(row) * std::size_t(store.widthInBlocks) + std::size_t(column);
      std::int16_t* destination =
          output_.coefficientBlocks + (std::size_t(mcu) * output_.blocksPerMcu + b) * 64;
      std::memcpy(destination, store.coefficients + index * 64, 64 * sizeof(std::int16_t));
      destination[0] = store.dc[index];
    }
  }
}

}  // namespace kestrix
