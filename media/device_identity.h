// Which drive a path names, told apart from every other: the identity a
// rescue map records so a resume never continues the map of another card,
// and the check that an image is not about to be written onto the very card
// it copies.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "media/rescue_map.h"

namespace kestrix {

// The identity of the drive at path (size as the open drive reported it).
// A block device is named by what its whole disk tells sysfs (serial, WWID,
// an SD card's CID, model, a loop device's backing file) plus the partition
// number, which survives unplugging; when sysfs tells nothing, by its device
// number. A regular file standing in for a drive is named by its file
// system's device and its inode.
DeviceIdentity identifyDevice(const std::string& path, uint64_t sizeBytes);

// True when writing into destinationFolder would write onto the drive at
// sourcePath: the folder's file system lives on the source device, on its
// whole disk, on another partition of that disk, on something stacked on
// one of them (device mapper, md, a loop device over it), or, for a source
// that is itself stacked, on the drive underneath. False for a source that
// is not a block device (an image file) and whenever the folder cannot be
// examined (the open then fails on its own terms). Both the disk image copy
// and the restore refuse such a folder.
bool isOnSourceDevice(const std::string& sourcePath, const std::string& destinationFolder);

// The same question for device numbers, read from the sysfs tree under
// sysfsRoot (its dev/block and class/block links): true when folderDevice
// is sourceDevice, or any device of the drives at the bottom of the
// source's stack (reached through slaves and a loop device's block-device
// backing file): their whole disks, partitions, holders (device mapper, md)
// and loop devices over any of them, however deep.
bool isOnSourceDeviceNumber(dev_t sourceDevice, dev_t folderDevice,
                            const std::filesystem::path& sysfsRoot);

// The folder part of a path ("." for a bare name, "/" for a file in the root).
std::string folderOf(const std::string& path);

}  // namespace kestrix
