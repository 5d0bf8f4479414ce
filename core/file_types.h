// The file types the program has rules for, as one table: every fact about
// a type that the layers above the engines use (its texts, whether it is a
// movie, its structure walk, the scan's habits for it) is a column of its
// row in core/file_types.cpp, and code elsewhere asks the row instead of
// naming types.
//
//   const FileTypeRow* row = fileTypeRow(fileTypeOf(".jpg"));
//   row->text;       // "jpeg"
//   row->movie;      // false
//
// The plug-in boundary keeps its own numbers and its own table
// (engine/carved_type.h); the scan converts a registry extension to a
// FileType once per type it scans. The checkers know a type by its text
// (imaging/check/find_checker.cpp has their table).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "engine/structure_end.h"

namespace kestrix {

// Unknown is a type a plug-in registered that the program knows only by its
// extension text, which the Find keeps (Find::unknownExtension). Every other
// value has exactly one row in the table.
enum class FileType { Jpeg, Png, Mov, Mp4, Unknown };

struct FileTypeRow {
  FileType type;
  // The canonical text: what the checkers and the command line's JSON
  // "type" know a find by.
  std::string_view text;
  // The extension the plug-in registers, without its dot; the same as
  // `text` except for JPEG ("jpg"). fileTypeOf takes either.
  std::string_view extension;
  // Shown as a movie: a frame from the thumbnailer, the film-strip icon.
  bool movie;
  // The walk of a file of the type on the whole image (the engine's own,
  // engine/*_structure.h), which decides what a find holds and where a find
  // cut by the image's end ends.
  StructureWalk walk;
  // Precise modes: the next search of the type starts one byte after a find
  // rather than after its end (a JPEG's thumbnails and previews, or a false
  // opening running into the next photo, must not hide a photo).
  bool searchedFromInside;
  // Signature rules in split mode: no later type in registry order is
  // searched split once this one was (the old scan's habit for PNG and
  // MOV; only JPEG knows split, and MP4 came later).
  bool endsSignatureSplit;
};

// Every row, in FileType order (Unknown has none).
std::span<const FileTypeRow> fileTypeRows();
// The row of `type`; null for Unknown.
const FileTypeRow* fileTypeRow(FileType type);

// The type of a registry extension text, with or without its dot (".jpg",
// "jpg", "jpeg"): a row's extension or text. Unknown for anything else,
// letter case included, as the engines match extensions exactly.
FileType fileTypeOf(std::string_view extension);
// The type's canonical text: "jpeg", "png", "mov", "mp4"; empty for Unknown.
std::string_view fileTypeText(FileType type);
bool isMovie(FileType type);
// The extension text without its leading dot, if it has one.
std::string_view extensionWithoutDot(std::string_view extension);

}  // namespace kestrix
