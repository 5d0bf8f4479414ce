// The media header: a description of the drive being copied (kind, geometry
// and the main boot-sector fields) that opens the disk image copy's result
// text. Lines end with CR LF; the drive is named by its device path
// ("(/dev/sdb1)"), the name a Linux user knows it by.
#pragma once

#include <cstddef>
#include <string>

namespace kestrix {

class RawDrive;

// Appends the header for the open drive and returns the text's new length.
// The boot sector is read again for kinds FAT, FAT32 and NTFS; when that
// read fails the block is printed from zero bytes.
size_t writeMediaHeader(RawDrive& drive, std::string& out);

}  // namespace kestrix
