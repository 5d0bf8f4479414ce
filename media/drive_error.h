// Failure codes of drive operations. They keep the Windows error numbers the
// create-image command's message table is written against, so the table
// reads the same on every platform; Linux errors are mapped onto them.
#pragma once

#include <cstdint>
#include <string_view>

namespace kestrix {

enum DriveError : uint32_t {
  kDriveOk = 0,
  kDriveAccessDenied = 5,  // ERROR_ACCESS_DENIED: EACCES, EPERM, EROFS
  kDriveInvalid = 13,      // ERROR_INVALID_DATA: EINVAL, ENOENT, not a drive, bad request
  kDriveNotReady = 21,     // ERROR_NOT_READY: ENOMEDIUM, ENXIO, ENODEV
  kDriveEndOfMedium = 38,  // ERROR_HANDLE_EOF: the device ended inside a read
  // Any other Linux error keeps its errno in the low bits under the
  // application bit of Windows error codes, so it never collides with one
  // of the numbers above and still tells the cause when logged.
  kDriveErrnoBase = 0x20000000,
};

// Code for an errno value or SectorDevice::kShortRead; 0 stays 0.
uint32_t driveErrorFromErrno(int error);

// The create-image command's text for a non-zero code: access denied, wrong
// drive, not ready, and for everything else the boot sector could not be read.
std::string_view driveErrorMessage(uint32_t code);

}  // namespace kestrix
