// Failure codes of drive operations. They keep the Windows error numbers the
// create-image command's message table is written against, so the table
// reads the same on every platform; Linux errors are mapped onto them. The
// programs hold the words (driveErrorText, texts/job_texts.h).
#pragma once

#include <cstdint>

namespace kestrix {

// plain enum: a code is a Windows error number or kDriveErrnoBase | errno,
// so codes are built and compared as uint32_t.
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

}  // namespace kestrix
