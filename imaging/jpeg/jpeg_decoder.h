#pragma once

#include "imaging/jpeg/byte_source.h"
#include "imaging/jpeg/jpeg_errors.h"
#include "imaging/jpeg/jpeg_fault.h"
#include "imaging/jpeg/jpeg_limits.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace kestrix {

// The picture at 1/8 scale: one sample per 8 x 8 block, from its DC term
// alone, ceil(width / 8) x ceil(height / 8), rows top down, one byte per
// pixel (grey) or R, G, B. Rows of blocks never decoded are white.
struct JpegDcImage {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<std::uint8_t> pixels;
};

// Where one scan's entropy-coded data lies in the input (byte offsets from
// its start), and whether its tables decode zero bits as empty blocks.
// end is kJpegScanUnfinished while the scan has not ended.
struct JpegScanSpan {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
  bool zerosDecodeFlat = false;
};
inline constexpr std::uint64_t kJpegScanUnfinished = ~std::uint64_t{0};

// Decodes a Huffman-coded 8-bit JPEG (ITU-T T.81: SOF0, SOF1, SOF2) into rows
// of pixels, tolerating junk before SOI, truncation and damaged entropy data.
//
// Calling order: Open, check ErrorCode(), Start, ReadRow until it returns
// non-zero, Close. Any error stores its code (the first one wins), frees every
// allocation, releases the source; from then on every call but Close fails.
// The object is large (fixed tables of about 136 KiB); allocate it on the heap.
//
// The work is split over files by stage: jpeg_markers.cpp (input buffer,
// markers and segments, scan setup), jpeg_huffman.cpp and
// jpeg_entropy_inline.h (lookup tables, bit reader), jpeg_sequential.cpp,
// jpeg_progressive.cpp, jpeg_idct.cpp, jpeg_colour.cpp.
class JpegDecoder {
 public:
  JpegDecoder();
  ~JpegDecoder();
  JpegDecoder(const JpegDecoder&) = delete;
  JpegDecoder& operator=(const JpegDecoder&) = delete;

  // Binds source and reads up to and including the frame header. The result
  // is in ErrorCode(): 0, or the code of the first error.
  void Open(ByteSource* source);
  // 0: ready to deliver rows (also when called again); -1: an error is
  // pending or occurs now. A progressive image is fully decoded here.
  int Start();
  // 0: a row is in *row / *byteCount, valid until the next call; 1: all rows
  // delivered; -1: an error is pending or Start has not succeeded; -227: an
  // error occurred during this call (its own code is in ErrorCode()).
  int ReadRow(const std::uint8_t** row, int* byteCount);
  // Releases the source and frees all memory. Safe after an error.
  void Close();

  // Instead of Start and ReadRow, right after Open: entropy-decodes every
  // scan without the inverse DCT or the colour output and gives the DC
  // picture. It stops early at the first fault or once the data has run
  // out (the verdict is known then). 0: every scan decoded; -1: an error
  // is pending or occurred (image then holds what was decoded before it,
  // or is empty). Rows cannot be read afterwards.
  int DecodeDc(JpegDcImage* image);

  // The first fault met since Open and where (a byte offset into the
  // input, near where the damage starts); JpegFault::None when none.
  JpegFault Fault() const { return fault_; }
  std::uint64_t FaultOffset() const { return faultOffset_; }
  // Where the input was being read when the pending error occurred.
  std::uint64_t ErrorOffset() const { return errorOffset_; }
  // The data ended before the image did: the decoder needed bytes past
  // the end of the input (bytes it made up, including the final EOI).
  bool InputEnded() const { return entropy_.inputExhausted; }
  // The marker met after the last MCU row of a sequential image (0xD9 for
  // EOI), or 0 before then.
  int EndMarker() const { return endMarker_; }
  // The scans started since Open (at most kJpegMaxRecordedScans).
  int ScanCount() const { return entropy_.scanCount; }
  const JpegScanSpan& Scan(int index) const { return entropy_.scans[index]; }

  int Width() const { return frame_.width; }
  int Height() const { return frame_.height; }
  int ComponentCount() const { return frame_.componentCount; }
  int BytesPerPixel() const { return output_.bytesPerPixel; }
  int ColourMode() const { return output_.colourMode; }
  int ErrorCode() const { return errorCode_; }

 private:
  struct FreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
  };

  // Derived lookup for one Huffman slot (T.81 Annex C codes). first[] is
  // indexed by the next 8 bits of the stream:
  //   bit 15 clear: symbol in bits 0..7, bits to consume in bits 8..12,
  //                 bit 13 set when no code reaches these bits (kNoCode);
  //   bit 15 set:   the code is longer than 8 bits, tree root in bits 0..14.
  // A tree child is 0 (no code), +n (node n - 1) or -(symbol + 1) (leaf).
  //
  // fast[] is a shortcut for the sequential scan, indexed by the next
  // kFastBits bits: when the entry of first[] those bits select is a short
  // one and its length plus the symbol's value bits fit in kFastBits, it
  // holds everything the two steps would give (see BuildFastLookup).
  // Otherwise it is 0 and the caller takes the two steps.
  struct HuffmanLookup {
    static constexpr int kMaxNodes =
        512;  // internal nodes below depth 8 of <= 255 prefix-free codes
    static constexpr int kFastBits = 10;
    // fast[] entry: bits 0..7 bits to consume (code and value), 8..11 run,
    // bit 14 end of block, bit 15 entry valid, 16..31 the extended value.
    static constexpr std::int32_t kFastValid = 0x8000;
    static constexpr std::int32_t kFastEndOfBlock = 0x4000;
    // first[] entry flag (bit 15 clear): no code reaches these bits.
    static constexpr unsigned kNoCode = 0x2000;
    std::array<std::uint16_t, 256> first;
    std::array<std::uint8_t, 256> codeLength;  // per symbol; 0 = symbol has no code
    std::array<std::array<std::int16_t, 2>, kMaxNodes> nodes;
    int nodeCount;
    std::array<std::int32_t, 1 << kFastBits> fast;
  };

  struct FrameComponent {
    int id = 0;
    int h = 0;   // horizontal sampling factor
    int v = 0;   // vertical sampling factor
    int tq = 0;  // quantisation table selector
    int widthInBlocks = 0;
    int heightInBlocks = 0;
  };

  // Progressive coefficient store of one component, in output block geometry.
  struct ProgressiveComponent {
    std::int16_t* dc = nullptr;            // one value per block
    std::int16_t* coefficients = nullptr;  // 64 per block, natural order, [0] unused
    int widthInBlocks = 0;
    int heightInBlocks = 0;
    int blockRow = 0;  // block-row counter of the current walk
  };

  // One block of the output MCU: its component and its place inside the MCU.
  struct McuBlock {
    int component = 0;
    int h = 0;
    int v = 0;
  };

  // Thrown instead of an error when a progressive image's data has run out
  // and the made-up bytes provoke a fault: the scans decoded so far are
  // the picture (DecodeProgressive catches it).
  struct InputEndedStop {};

  // ---- error path and allocator (jpeg_decoder.cpp)
  [[noreturn]] void Fail(int code);
  // Every fault goes through these two: the first one is kept, with its
  // offset; StopOnFault then fails with the fault's stop code.
  void NoteFault(JpegFault fault, std::uint64_t offset);
  [[noreturn]] void StopOnFault(JpegFault fault);
  std::uint64_t StreamOffset() const;
  std::uint64_t EntropyOffset() const;
  bool ShouldStopChecking() const {
    return checkMode_ && (fault_ != JpegFault::None || entropy_.inputExhausted);
  }
  // Progressive scans stop where the data ends, and keep what they have.
  bool ShouldStopScans() const { return entropy_.inputExhausted || ShouldStopChecking(); }
  void EnterFailedState(int code);
  void* Allocate(std::size_t size);
  void FreeAll();

  // ---- input buffer, markers and segments (jpeg_markers.cpp)
  void RefillInput();
  std::uint8_t NextByte();
  void PutBack(std::uint8_t byte);
  int ReadWord();
  void FindSoi();
  int NextMarker();
  void ReadFrameHeader();
  void ReadHuffmanTables();
  void ReadQuantisationTables();
  void ReadRestartInterval();
  void SkipSegment();
  void ReadScanHeader();
  void ReadHeaders();
  void SetUpScan();
  void ProcessRestart();
  void ReadEndOfImage();
  void EndEntropySegment();
  void NoteTrailingBytes(int skipped);
  void NoteMarkerAfterFrame(int marker);
  bool ZerosDecodeFlat() const;

  // ---- Huffman lookup and bit reader (jpeg_huffman.cpp, jpeg_entropy_inline.h)
  void BuildLookup(int slot);
  void BuildFastLookup(int slot);
  void ResetBitReader();
  inline void FillBits();
  inline std::uint8_t NextEntropyByte();
  inline int DecodeSymbol(const HuffmanLookup& lookup);
  inline int GetBits(int count);
  inline int GetBit();
  int DecodeLongCode(const HuffmanLookup& lookup, int entry);

  // ---- scans (jpeg_sequential.cpp, jpeg_progressive.cpp)
  void DecodeSequentialMcuRow();
  void DecodeSequentialBlock(int component, std::int16_t* block, std::int32_t& lastIndex);
  void DecodeProgressive();
  bool DecodeProgressiveScan();
  void DecodeDcFirst(int component, std::int16_t* dc);
  void DecodeDcRefine(std::int16_t* dc);
  void DecodeAcFirst(std::int16_t* coefficients);
  void DecodeAcRefine(std::int16_t* coefficients);
  void AssembleProgressiveMcuRow();
  void AllocateCoefficientStores(bool withAc);

  // ---- DC picture (jpeg_dc_image.cpp)
  void StoreSequentialDc(int mcuRow);
  void BuildDcImage(JpegDcImage* image, int decodedMcuRows) const;

  // ---- output (jpeg_colour.cpp, jpeg_decoder.cpp)
  void ChooseColourMode();
  void AllocateOutput();
  void BuildColourTables();
  void TransformMcuRow();
  void ConvertRow(int rowInMcu, std::uint8_t* destination) const;
  void ConvertRowAnySampling(int rowInMcu, std::uint8_t* destination) const;
  void DecodeNextMcuRow();
  int DeliverRow(const std::uint8_t** row, int* byteCount);

  // The decoder's state, one record per stage. The marker reader fills the
  // frame (and each scan's header); the entropy decoder reads the input and
  // keeps the bit register, restart and fault positions; the output stage
  // turns coefficient blocks into rows. A stage writes only its own record
  // and reads the frame.

  // What the headers said: frame, tables, the current scan's header.
  struct Frame {
    int width = 0;
    int height = 0;
    bool progressive = false;
    int componentCount = 0;  // Nf
    std::array<FrameComponent, 4> components{};
    int maxH = 1;
    int maxV = 1;
    int restartInterval = 0;

    // Tables: Huffman slots 0-3 DC, 4-7 AC.
    std::array<std::uint8_t*, 8> huffmanCounts{};   // 17 bytes, [1..16] used
    std::array<std::uint8_t*, 8> huffmanSymbols{};  // 256 bytes
    std::array<std::int16_t*, 4> quantisation{};    // 64 pre-scaled entries, natural order
    std::array<HuffmanLookup, 8> lookups;           // derived from the Huffman tables

    // Current scan
    int scanComponentCount = 0;  // Ns
    std::array<int, 4> scanComponents{};
    std::array<int, 4> dcSlot{};
    std::array<int, 4> acSlot{};
    int Ss = 0;
    int Se = 0;
    int Ah = 0;
    int Al = 0;
    int scanMcusPerRow = 0;
    int scanMcuRows = 0;
  };

  // Reading the input and decoding its entropy-coded data.
  struct Entropy {
    ByteSource* source = nullptr;  // not owned

    // Input buffer: head room | data (available bytes from readPointer) | FF D9 padding.
    std::uint8_t* readPointer = nullptr;
    int available = 0;
    bool fillerToggle = false;  // next synthesised byte is 0xD9
    bool sourceEnded = false;   // the source reported end of data
    alignas(16) std::array<std::uint8_t,
                           kJpegInputHeadRoom + kJpegInputChunk + kJpegInputTailPadding> input{};

    // Bit reader: bitCount valid bits, most significant first. The register
    // is 64 bits wide and refilled a byte at a time up to at least 49 bits, so
    // a symbol and its value bits rarely need two refills; bytes it takes
    // ahead are always data before any marker, so the stream position seen by
    // the marker loop and the restart search is that of a 32-bit register.
    int bitCount = 0;
    std::uint64_t bitBuffer = 0;
    bool markerReached = false;  // entropy data ran into a marker; one bits from now on

    // Restart
    int restartsToGo = 0;
    int nextRestart = 0;
    std::array<std::int32_t, 4> dcPredictor{};

    // Progressive scans: the end-of-band run, and the coefficients every
    // scan adds to (read by the output stage once the scans are done).
    int eobRun = 0;
    std::array<ProgressiveComponent, 4> progressiveComponents{};

    // Positions. The input offset of the chunk in input is chunkOffset;
    // the bit register's bytes made up since the last reset are counted
    // (marker one-bytes, and filler past the end) so that a segment's end
    // can tell whether its blocks used bits that were not there.
    std::uint64_t chunkOffset = 0;
    int chunkFilled = 0;
    int phantomBytes = 0;
    int fillerBytes = 0;
    bool markerAtEnd = false;        // the marker reached is the input's last byte, a lone FF
    std::uint64_t markerOffset = 0;  // of the marker entropy data last ran into
    bool inputExhausted = false;
    std::int64_t segmentLeftover = 0;
    std::uint64_t segmentEndOffset = 0;
    int markerSkipped = 0;  // bytes NextMarker skipped before its marker
    std::array<JpegScanSpan, kJpegMaxRecordedScans> scans{};
    int scanCount = 0;
    int currentScan = -1;
  };

  // Blocks to rows of pixels: geometry (ColourMode), the MCU row being
  // built, colour conversion.
  struct Output {
    int colourMode = 0;
    int mcuWidth = 8;
    int mcuHeight = 8;
    int blocksPerMcu = 0;
    std::array<McuBlock, kJpegMaxOutputBlocksPerMcu> mcuBlocks{};
    // Colour mode 5 (any factors): for each component, the index in the MCU
    // of its first block, and for each pixel column of the MCU the offset of
    // its sample from the start of the component's block row (block * 64 +
    // column in the block).
    std::array<int, 3> firstBlock{};
    std::array<std::array<std::uint16_t, 8 * kJpegMaxSamplingFactor>, 3> columnOffset{};
    int blocksPerMcuRow = 0;
    int mcusPerRow = 0;
    int mcuRows = 0;
    int nextMcuRow = 0;
    int rowsToDeliver = 0;
    int rowsLeftInMcuRow = 0;
    int rowBytes = 0;
    int rowBufferSize = 0;
    int bytesPerPixel = 0;

    // Coefficient blocks of one MCU row (64 each, natural order) and the index
    // up to which each was last written: positions at or beyond it are zero.
    std::int16_t* coefficientBlocks = nullptr;
    std::array<std::int32_t, kJpegMaxBlocksPerMcuRow> lastIndex{};
    std::uint8_t* samples = nullptr;  // 64 per block of an MCU row, MCU order

    // Colour conversion (indexed by the chroma sample)
    std::array<std::int32_t, 256> crToR{};
    std::array<std::int32_t, 256> cbToB{};
    std::array<std::int32_t, 256> crToG{};
    std::array<std::int32_t, 256> cbToG{};
    std::array<std::uint8_t*, 2> rowBuffers{};
  };

  Frame frame_;
  Entropy entropy_;
  Output output_;

  // Allocator: nothing is freed singly; FreeAll releases every slot.
  std::array<std::unique_ptr<std::uint8_t, FreeDeleter>, kJpegMaxAllocations> allocations_;

  // The outcome so far: the first error and the first fault, with where.
  int errorCode_ = 0;
  bool started_ = false;
  JpegFault fault_ = JpegFault::None;
  std::uint64_t faultOffset_ = 0;
  std::uint64_t errorOffset_ = 0;
  int endMarker_ = 0;
  bool checkMode_ = false;
};

}  // namespace kestrix
