// What the card's rescue map says about the finds of a scan: the image a
// copy wrote holds zeros where the card gave nothing, and only the map
// tells those zeros from real ones.
//
//   ImageMapLoad beside = loadMapBeside(imagePath);   // or RescueMap::load(--map)
//   scanImage(...);
//   if (beside.map) markUnreadableSectors(list, *beside.map);
//
// Shared by the command line and the window, so both find the same map and
// warn with the same words.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/candidate_list.h"
#include "media/rescue_map.h"

namespace kestrix {

// The map that describes the image at imagePath, or empty when none can:
// "X.map" for "X", so "X.part.map" for the "X.part" of a copy still running
// or stopped, which leaves the finished "X" and its "X.map" alone until it
// is complete. A "X.part" without a "X.part.map" is a copy from before the
// maps moved beside the .part: its map is "X.map", which then says nothing
// true about "X", so "X" has none.
std::string mapPathBeside(const std::string& imagePath);

struct ImageMapLoad {
  std::string path;              // the map file found; empty when there is none
  std::optional<RescueMap> map;  // empty when none was found or it could not be read
  std::string error;             // why a found map could not be read
};
// Loads the map of mapPathBeside(imagePath) when that file exists.
ImageMapLoad loadMapBeside(const std::string& imagePath);

// Gives every row of the list the number of its 512-byte sectors that the
// map does not mark finished. Call after the scan, on its thread, before
// the rows are shown. Returns the number of rows with any.
int32_t markUnreadableSectors(CandidateList& list, const RescueMap& map);
// The same for rows first .. first + count − 1 only (rows the window
// publishes while the scan goes on, before anything reads their counts).
int32_t markUnreadableSectors(CandidateList& list, const RescueMap& map, int32_t first,
                              int32_t count);

// Bytes of an image of imageBytes that the map does not mark finished,
// including what the map's domain says lies beyond a short image: an image
// with those still missing is incomplete.
uint64_t unreadImageBytes(const RescueMap& map, uint64_t imageBytes);

// Whole MiB, rounded up, so a single sector never reads as 0 MiB: how the
// programs tell how much of an incomplete image the copy has not read yet.
uint64_t mebibytesRoundedUp(uint64_t bytes);

}  // namespace kestrix
