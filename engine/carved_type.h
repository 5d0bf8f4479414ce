// CarvedType: the file types CarvingEngine knows, each one row of the
// engine's table (carved_type.cpp) holding every rule the engine has for it.
// A type is chosen by where the extension text occurs in the plug-in's list
// ".jpg;.png;.mov;.mp4" (a substring search, so "jpg" and ".jpg" both choose
// JPEG); the rows' extensions, joined by ';', are that list, in its order.
//
//   const CarvedTypeRow* row = carvedTypeRow(carvedTypeAt(position));
//   if (row != nullptr) pair = row->signatures(mode);
//
// The program above the plug-in boundary has its own numbers and its own
// table of the same types (core/file_types.h).
#pragma once

#include <cstdint>
#include <span>

#include "engine/bound_block.h"
#include "engine/extraction_plan.h"
#include "engine/structure_end.h"

namespace kestrix {

// Mp4 is told apart from Mov only by the precise scan (by the ftyp brand);
// the signature rules find nothing for it.
enum class CarvedType { None, Jpeg, Png, Mov, Mp4 };
inline constexpr int kCarvedTypeCount = 5;  // None included

// Header and footer signatures of one type.
struct SignaturePair {
  const uint8_t* header = nullptr;
  int32_t headerLength = 0;
  const uint8_t* footer = nullptr;
  int32_t footerLength = 0;
};

// How the precise modes find a type's files.
enum class PreciseSearch {
  Jpeg,       // PreciseScanner::findJpeg: a photo's parts and entropy data remembered
  Movie,      // PreciseScanner::findMovie, of the row's brand
  Candidate,  // the first of the row's candidates that the row's walk takes
};

struct CarvedTypeRow {
  CarvedType type = CarvedType::None;
  const char* extension = nullptr;  // with its dot, as it stands in the plug-in's list
  // Signature rules (modes 256-260). The signatures SelectType takes; null
  // for a type that has none (signatureRulesFind false).
  SignaturePair (*signatures)(int32_t mode) = nullptr;
  bool signatureRulesFind = false;  // false: FindNext finds nothing (*size 0, result size + 1)
  bool masksHeader = false;         // mode 256: the header's last byte is matched by mask
  bool keepsFirstHeader = false;    // a later header before any footer does not open the hit
  // Extract completes a hit by the type's plan when the extension text holds
  // the row's extension without its dot (as it always did, a substring
  // search, the first row that matches); null: a plain copy.
  ExtractionPlan (*extractionPlan)(const BoundBlock& block, uint64_t start, uint64_t size,
                                   const uint8_t* header, const uint8_t* footer) = nullptr;
  // Precise modes (261, 262).
  PreciseSearch precise = PreciseSearch::Candidate;
  bool quickTime = false;  // Movie: "qt  " or no ftyp (true), or any other brand
  // Candidate: where a file may start (the first position >= from, else the
  // block size), and the walk that decides.
  uint64_t (*nextCandidate)(const BoundBlock& block, uint64_t from) = nullptr;
  StructureWalk walk = nullptr;
};

// Position of the text in the plug-in's list -> type (None for -1: not in
// the list).
CarvedType carvedTypeAt(int32_t position);
// The row of `type`; null for None.
const CarvedTypeRow* carvedTypeRow(CarvedType type);
// Every row, in the list's order.
std::span<const CarvedTypeRow> carvedTypeRows();

}  // namespace kestrix
