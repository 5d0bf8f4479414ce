#include "imaging/jpeg/jpeg_decoder.h"

#include "imaging/jpeg/jpeg_idct.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

namespace kestrix {

namespace {

// Thrown by Fail and caught only at Open, Start and ReadRow. Everything in
// between allocates through the slot table, so unwinding leaks nothing.
struct JpegFailure {
  int code;
};

}  // namespace

JpegDecoder::JpegDecoder() = default;

JpegDecoder::~JpegDecoder() { Close(); }

void JpegDecoder::Fail(int code) { throw JpegFailure{code}; }

void JpegDecoder::EnterFailedState(int code) {
  if (errorCode_ == 0) {
    errorCode_ = code;
    errorOffset_ = StreamOffset();
  }
  FreeAll();
  if (entropy_.source != nullptr) {
    entropy_.source->Release();
    entropy_.source = nullptr;
  }
  started_ = false;
}

// -221: all slots in use; -233: the allocation failed. The memory is zeroed
// and 8-byte aligned.
void JpegDecoder::NoteFault(JpegFault fault, std::uint64_t offset) {
  if (fault_ != JpegFault::None) return;
  // Past the end of the input the decoder reads bytes it made up: whatever
  // they provoke says only that the data ended.
  if (entropy_.inputExhausted) {
    fault = JpegFault::Truncated;
    offset = StreamOffset();
  }
  fault_ = fault;
  faultOffset_ = offset;
}

void JpegDecoder::StopOnFault(JpegFault fault) {
  NoteFault(fault, EntropyOffset());
  if (frame_.progressive && entropy_.inputExhausted && !started_) throw InputEndedStop{};
  Fail(JpegFaultStopCode(fault));
}

// Offset of the next byte the input buffer gives.
std::uint64_t JpegDecoder::StreamOffset() const {
  const std::int64_t inChunk = entropy_.readPointer - (entropy_.input.data() + kJpegInputHeadRoom);
  const std::int64_t offset = static_cast<std::int64_t>(entropy_.chunkOffset) + inChunk;
  return offset < 0 ? 0 : static_cast<std::uint64_t>(offset);
}

// Roughly the byte the entropy decoder is at: the buffer position less the
// whole bytes still waiting in the bit register.
std::uint64_t JpegDecoder::EntropyOffset() const {
  const std::uint64_t ahead = static_cast<std::uint64_t>(entropy_.bitCount / 8);
  const std::uint64_t offset = StreamOffset();
  return offset > ahead ? offset - ahead : 0;
}

void* JpegDecoder::Allocate(std::size_t size) {
  std::size_t slot = 0;
  while (slot < allocations_.size() && allocations_[slot]) ++slot;
  if (slot == allocations_.size()) Fail(kJpegTooManyAllocations);
  if (size > std::numeric_limits<std::size_t>::max() - 8) Fail(kJpegOutOfMemory);
  auto* raw = static_cast<std::uint8_t*>(std::calloc(size + 8, 1));
  if (raw == nullptr) Fail(kJpegOutOfMemory);
  allocations_[slot].reset(raw);
  const auto address = reinterpret_cast<std::uintptr_t>(raw);
  return raw + ((8 - (address & 7)) & 7);
}

void JpegDecoder::FreeAll() {
  for (auto& allocation : allocations_) allocation.reset();
  // Forget every pointer into the freed memory.
  frame_.huffmanCounts.fill(nullptr);
  frame_.huffmanSymbols.fill(nullptr);
  frame_.quantisation.fill(nullptr);
  entropy_.progressiveComponents.fill(ProgressiveComponent{});
  output_.coefficientBlocks = nullptr;
  output_.samples = nullptr;
  output_.rowBuffers.fill(nullptr);
}

void JpegDecoder::Open(ByteSource* source) {
  Close();
  frame_.width = 0;
  frame_.height = 0;
  frame_.progressive = false;
  output_.colourMode = 0;
  frame_.componentCount = 0;
  frame_.components.fill(FrameComponent{});
  frame_.maxH = 1;
  frame_.maxV = 1;
  frame_.scanComponentCount = 0;
  frame_.Ss = frame_.Se = frame_.Ah = frame_.Al = 0;
  output_.mcuWidth = output_.mcuHeight = 8;
  output_.blocksPerMcu = output_.blocksPerMcuRow = output_.mcusPerRow = output_.mcuRows =
      output_.nextMcuRow = 0;
  output_.rowsToDeliver = output_.rowsLeftInMcuRow = output_.rowBytes = output_.rowBufferSize =
      output_.bytesPerPixel = 0;
  entropy_.eobRun = 0;
  entropy_.available = 0;
  entropy_.readPointer = entropy_.input.data() + kJpegInputHeadRoom;
  entropy_.fillerToggle = false;
  entropy_.sourceEnded = false;
  entropy_.bitCount = 0;
  entropy_.bitBuffer = 0;
  entropy_.markerReached = false;
  frame_.restartInterval = entropy_.restartsToGo = entropy_.nextRestart = 0;
  entropy_.dcPredictor.fill(0);
  errorCode_ = 0;
  started_ = false;
  output_.lastIndex.fill(64);
  entropy_.chunkOffset = 0;
  entropy_.chunkFilled = 0;
  entropy_.phantomBytes = entropy_.fillerBytes = 0;
  entropy_.markerAtEnd = false;
  entropy_.markerOffset = 0;
  entropy_.inputExhausted = false;
  entropy_.segmentLeftover = 0;
  entropy_.segmentEndOffset = 0;
  entropy_.markerSkipped = 0;
  fault_ = JpegFault::None;
  faultOffset_ = 0;
  errorOffset_ = 0;
  endMarker_ = 0;
  checkMode_ = false;
  entropy_.scanCount = 0;
  entropy_.currentScan = -1;

  try {
    if (source == nullptr) Fail(kJpegReadError);
    entropy_.source = source;
    entropy_.source->Reset();
    RefillInput();
    FindSoi();
    ReadHeaders();
  } catch (const JpegFailure& failure) {
    EnterFailedState(failure.code);
  }
}

int JpegDecoder::Start() {
  if (started_) return 0;
  if (errorCode_ != 0 || entropy_.source == nullptr) return -1;
  try {
    ChooseColourMode();
    AllocateOutput();
    BuildColourTables();
    if (frame_.progressive) {
      DecodeProgressive();
    } else {
      const int marker = NextMarker();
      if (marker != 0xDA) Fail(kJpegMarkerOutOfPlace);  // EOI or a frame marker: no scan to decode
      ReadScanHeader();
      // Only the first scan is decoded and the output stage takes its
      // blocks as whole MCUs of every component, so that scan must
      // interleave all components in frame order (T.81 B.2.3 asks for
      // that order). A partial or non-interleaved first scan cannot
      // give a picture here.
      if (frame_.scanComponentCount != frame_.componentCount) Fail(kJpegBadSampling);
      for (int i = 0; i < frame_.scanComponentCount; ++i) {
        if (frame_.scanComponents[i] != i) Fail(kJpegBadSampling);
      }
      SetUpScan();
    }
    output_.rowsToDeliver = frame_.height;
    output_.rowsLeftInMcuRow = 0;
    output_.nextMcuRow = 0;
    started_ = true;
    return 0;
  } catch (const JpegFailure& failure) {
    EnterFailedState(failure.code);
    return -1;
  }
}

int JpegDecoder::ReadRow(const std::uint8_t** row, int* byteCount) {
  if (errorCode_ != 0 || !started_) return -1;
  if (output_.rowsToDeliver == 0) return 1;
  try {
    return DeliverRow(row, byteCount);
  } catch (const JpegFailure& failure) {
    EnterFailedState(failure.code);
    return kJpegCorruptData;
  }
}

int JpegDecoder::DecodeDc(JpegDcImage* image) {
  *image = JpegDcImage{};
  if (started_ || errorCode_ != 0 || entropy_.source == nullptr) return -1;
  checkMode_ = true;
  if (Start() != 0) return -1;
  int decodedMcuRows = 0;
  try {
    if (frame_.progressive) {
      decodedMcuRows = output_.mcuRows;
    } else {
      AllocateCoefficientStores(false);
      for (; decodedMcuRows < output_.mcuRows && !ShouldStopChecking(); ++decodedMcuRows) {
        DecodeSequentialMcuRow();
        StoreSequentialDc(decodedMcuRows);
      }
      if (!ShouldStopChecking()) ReadEndOfImage();
    }
    if (entropy_.inputExhausted)
      NoteFault(JpegFault::Truncated, StreamOffset());  // stopped early for it, or EOI was made up
    BuildDcImage(image, decodedMcuRows);
  } catch (const JpegFailure& failure) {
    // The blocks decoded before the error still make a picture.
    try {
      BuildDcImage(image, decodedMcuRows);
    } catch (const std::bad_alloc&) {
      *image = JpegDcImage{};
    }
    EnterFailedState(failure.code);
    return -1;
  } catch (const std::bad_alloc&) {
    *image = JpegDcImage{};
    EnterFailedState(kJpegOutOfMemory);
    return -1;
  }
  output_.rowsToDeliver = 0;
  return 0;
}

void JpegDecoder::Close() {
  if (entropy_.source != nullptr) {
    entropy_.source->Release();
    entropy_.source = nullptr;
  }
  FreeAll();
  started_ = false;
}

void JpegDecoder::AllocateOutput() {
  output_.mcusPerRow = (frame_.width + output_.mcuWidth - 1) / output_.mcuWidth;
  output_.mcuRows = (frame_.height + output_.mcuHeight - 1) / output_.mcuHeight;
  output_.blocksPerMcuRow = output_.blocksPerMcu * output_.mcusPerRow;
  if (output_.blocksPerMcuRow > kJpegMaxBlocksPerMcuRow) Fail(kJpegBadBlockAddress);
  output_.coefficientBlocks = static_cast<std::int16_t*>(
      Allocate(std::size_t(output_.blocksPerMcuRow) * 64 * sizeof(std::int16_t)));
  output_.samples = static_cast<std::uint8_t*>(Allocate(std::size_t(output_.blocksPerMcuRow) * 64));
  output_.rowBytes = frame_.width * output_.bytesPerPixel;
  // ConvertRow writes whole MCUs: up to 31 pixels beyond the width.
  output_.rowBufferSize =
      std::max((frame_.width + 15) & ~15, output_.mcusPerRow * output_.mcuWidth) *
      output_.bytesPerPixel;
  for (auto& buffer : output_.rowBuffers)
    buffer = static_cast<std::uint8_t*>(Allocate(std::size_t(output_.rowBufferSize)));
}

void JpegDecoder::DecodeNextMcuRow() {
  if (frame_.progressive) {
    AssembleProgressiveMcuRow();
  } else {
    DecodeSequentialMcuRow();
    if (output_.nextMcuRow + 1 == output_.mcuRows) ReadEndOfImage();
  }
  ++output_.nextMcuRow;
  TransformMcuRow();
  output_.rowsLeftInMcuRow = output_.mcuHeight;
}

void JpegDecoder::TransformMcuRow() {
  for (int block = 0; block < output_.blocksPerMcuRow; ++block) {
    const int component = output_.mcuBlocks[block % output_.blocksPerMcu].component;
    InverseDct(output_.coefficientBlocks + std::size_t(block) * 64,
               frame_.quantisation[frame_.components[component].tq],
               output_.samples + std::size_t(block) * 64);
  }
}

int JpegDecoder::DeliverRow(const std::uint8_t** row, int* byteCount) {
  if (output_.rowsLeftInMcuRow == 0) DecodeNextMcuRow();
  const int rowInMcu = output_.mcuHeight - output_.rowsLeftInMcuRow;
  const std::uint8_t* delivered = output_.rowBuffers[0];
  if (output_.colourMode == 3 || output_.colourMode == 4) {
    // Two luma rows share one chroma row: convert the pair at once and
    // hand out the lower one on the next call.
    if (output_.rowsLeftInMcuRow % 2 == 0) {
      ConvertRow(rowInMcu, output_.rowBuffers[0]);
      ConvertRow(rowInMcu + 1, output_.rowBuffers[1]);
    } else {
      delivered = output_.rowBuffers[1];
    }
  } else {
    ConvertRow(rowInMcu, output_.rowBuffers[0]);
  }
  --output_.rowsLeftInMcuRow;
  --output_.rowsToDeliver;
  *row = delivered;
  *byteCount = output_.rowBytes;
  return 0;
}

}  // namespace kestrix
