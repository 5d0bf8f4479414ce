// The desktop's disk service, udisks2, over D-Bus: the drives it manages,
// and a read-only descriptor for a drive the program may not open itself.
//
// udisks2 runs as root and hands a device's descriptor to the logged-in user
// through Block.OpenDevice after its polkit agent has asked that user, the
// desktop's own way to reach a card without being root. Without the service
// (no udisks2, no system bus) `available()` is false and the window uses
// the sysfs list and opens devices itself, as before.
//
//   UDisksClient udisks;  // the system bus
//   if (udisks.available()) entries = udisks.listDrives();
//   drive.setDeniedOpener([&](const std::string& path) { return udisks.openReadOnly(path); });
#pragma once

#include <QDBusConnection>
#include <QString>
#include <string>
#include <vector>

#include "media/drive_list.h"

namespace kestrix {

class UDisksClient {
 public:
  static constexpr const char* kService = "org.freedesktop.UDisks2";
  static constexpr const char* kManagerPath = "/org/freedesktop/UDisks2";
  static constexpr const char* kBlockInterface = "org.freedesktop.UDisks2.Block";
  static constexpr const char* kDriveInterface = "org.freedesktop.UDisks2.Drive";
  // OpenDevice waits while the polkit agent asks the user, so its call may
  // take as long as a person needs to type a password.
  static constexpr int kOpenTimeoutMs = 5 * 60 * 1000;
  static constexpr int kListTimeoutMs = 5000;

  // Talks to udisks2 on `bus` (the system bus in the program, a private
  // bus in tests).
  explicit UDisksClient(QDBusConnection bus = QDBusConnection::systemBus());

  // True when the bus is up and the service answers to its name.
  bool available() const;

  // Every block device udisks2 knows that is not to be hidden (HintIgnore),
  // as drive-box entries sorted by text: kind from the drive (optical →
  // CD-ROM, removable → removable, else fixed; loop devices fixed), size
  // from the block, model from the drive's vendor and model. Empty when
  // the service does not answer.
  std::vector<DriveEntry> listDrives() const;

  // A descriptor opened for reading alone for `devicePath` ("/dev/sdb1"),
  // from Block.OpenDevice("r"), owned by the caller; or a negative errno:
  // -ENODEV when udisks2 does not know the device, -EACCES when it refused
  // (the user said no), -EPERM when the descriptor handed over was not
  // read-only (closed unused), -EIO for any other failure. `why` (may be
  // null) gets the service's message.
  int openReadOnly(const std::string& devicePath, QString* why = nullptr) const;

 private:
  QDBusConnection bus_;
};

}  // namespace kestrix
