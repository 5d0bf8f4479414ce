// Parses arbitrary bytes as a candidate, then asks every question the
// program asks and turns every kept entry into text in both byte orders.
#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/exif_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrix::ExifInfo exif;
  exif.parse(data, size);
  std::string text;
  for (uint16_t tag :
       {kestrix::kTagMake, kestrix::kTagModel, kestrix::kTagDateTime, kestrix::kTagDateTimeOriginal,
        kestrix::kTagExifIfdPointer, kestrix::kTagGpsIfdPointer}) {
    if (const kestrix::IfdEntry* e = exif.findInMainChain(tag))
      exif.valueText(*e, exif.isMotorola(), text);
    if (const kestrix::IfdEntry* e = exif.findInExifIfd(tag))
      exif.valueText(*e, exif.isMotorola(), text);
  }
  exif.shotDateText(text, 49);
  (void)exif.hasGps();
  // Whatever the bytes, one candidate keeps a bounded number of entries.
  const kestrix::ExifDirectories dirs = exif.readDirectories();
  if (dirs.mainChain.size() > kestrix::kExifMaxMainChainDirectories) __builtin_trap();
  size_t entries = 0;
  for (const auto* list : {&dirs.mainChain, &dirs.exifIfd, &dirs.gpsIfd}) {
    for (const kestrix::Ifd& ifd : *list) {
      entries += ifd.entries.size();
      for (const kestrix::IfdEntry& entry : ifd.entries) {
        exif.valueText(entry, false, text);
        exif.valueText(entry, true, text, 7);
      }
    }
  }
  if (entries > kestrix::kExifMaxEntriesPerCandidate) __builtin_trap();
  exif.clear();
  return 0;
}
