// The words for drives: why one could not be opened or read for a copy,
// and the drive box's line for each drive the list offers. Both programs
// show them (the window's drive box and boxes, kestrix-cli drives and
// image); media/ reports codes and facts only.
//
//   for (const DriveEntry& entry : listDrives()) show(driveEntryText(entry));
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "media/drive_error.h"
#include "media/drive_list.h"

namespace kestrix {

// A drive that could not be opened or read (DriveError): access denied,
// wrong drive, not ready, and for every other code the boot sector could
// not be read; empty for kDriveOk.
const char* driveErrorText(uint32_t code);

// "リムーバブル", "固定Disk", …; "無効" for codes outside the table.
std::string_view driveTypeName(DriveType driveType);

// The drive box's line: the device path, the kind name in brackets, then
// the size and the model when they are known, for example
//   "/dev/sdb1(リムーバブル) 7.4 GB SD Card"
//   "/dev/sr0(CD-ROM)"                      (an empty drive: no size)
// The path at the start of the line is what the create-image command opens.
std::string driveEntryText(const DriveEntry& entry);

}  // namespace kestrix
