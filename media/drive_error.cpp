#include "media/drive_error.h"

#include <cerrno>

#include "platform/sector_device.h"

namespace kestrix {

uint32_t driveErrorFromErrno(int error) {
  switch (error) {
    case 0: return kDriveOk;
    case EACCES:
    case EPERM:
    case EROFS: return kDriveAccessDenied;
    case ENOMEDIUM:
    case ENXIO:
    case ENODEV: return kDriveNotReady;
    case ENOENT:  // no such device node: the user named the wrong drive
    case ENOTDIR:
    case EINVAL:
    case ENOTBLK:
    case EISDIR: return kDriveInvalid;
    case SectorDevice::kShortRead: return kDriveEndOfMedium;
    default: return kDriveErrnoBase | static_cast<uint32_t>(error & 0xFFFF);
  }
}

}  // namespace kestrix
