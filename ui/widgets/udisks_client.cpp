#include "ui/widgets/udisks_client.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QMap>
#include <QVariantMap>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

// GetManagedObjects: object path → interface name → property name → value.
using UDisksInterfaces = QMap<QString, QVariantMap>;
using UDisksObjects = QMap<QDBusObjectPath, UDisksInterfaces>;
Q_DECLARE_METATYPE(UDisksInterfaces)
Q_DECLARE_METATYPE(UDisksObjects)

namespace kestrix {

namespace {

void registerTypes() {
  static const bool registered = [] {
    qDBusRegisterMetaType<UDisksInterfaces>();
    qDBusRegisterMetaType<UDisksObjects>();
    return true;
  }();
  (void)registered;
}

// udisks2 gives device paths as NUL-terminated byte arrays.
std::string bytePath(const QVariant& value) {
  QByteArray bytes = value.toByteArray();
  const qsizetype end = bytes.indexOf('\0');
  if (end >= 0) bytes.truncate(end);
  return bytes.toStdString();
}

bool managedObjects(const QDBusConnection& bus, UDisksObjects& objects) {
  registerTypes();
  QDBusMessage call = QDBusMessage::createMethodCall(
      UDisksClient::kService, UDisksClient::kManagerPath,
      QStringLiteral("org.freedesktop.DBus.ObjectManager"), QStringLiteral("GetManagedObjects"));
  const QDBusReply<UDisksObjects> reply =
      bus.call(call, QDBus::Block, UDisksClient::kListTimeoutMs);
  if (!reply.isValid()) return false;
  objects = reply.value();
  return true;
}

DriveType driveKind(const std::string& devicePath, const QVariantMap& drive) {
  if (drive.value(QStringLiteral("Optical")).toBool()) return DriveType::Cdrom;
  if (drive.value(QStringLiteral("Removable")).toBool() ||
      drive.value(QStringLiteral("MediaRemovable")).toBool())
    return DriveType::Removable;
  if (devicePath.rfind("/dev/ram", 0) == 0 || devicePath.rfind("/dev/zram", 0) == 0)
    return DriveType::RamDisk;
  return DriveType::Fixed;
}

}  // namespace

UDisksClient::UDisksClient(QDBusConnection bus) : bus_(std::move(bus)) {}

bool UDisksClient::available() const {
  if (!bus_.isConnected() || bus_.interface() == nullptr) return false;
  const QString name = QString::fromLatin1(kService);
  const QDBusReply<bool> registered = bus_.interface()->isServiceRegistered(name);
  if (registered.isValid() && registered.value()) return true;
  // Not running yet, but the bus starts it on the first call.
  const QDBusReply<QStringList> startable = bus_.interface()->activatableServiceNames();
  return startable.isValid() && startable.value().contains(name);
}

std::vector<DriveEntry> UDisksClient::listDrives() const {
  std::vector<DriveEntry> entries;
  UDisksObjects objects;
  if (!bus_.isConnected() || !managedObjects(bus_, objects)) return entries;
  const QString blockName = QString::fromLatin1(kBlockInterface);
  const QString driveName = QString::fromLatin1(kDriveInterface);
  for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
    if (!it.value().contains(blockName)) continue;
    const QVariantMap& block = it.value()[blockName];
    if (block.value(QStringLiteral("HintIgnore")).toBool()) continue;
    DriveEntry entry;
    entry.devicePath = bytePath(block.value(QStringLiteral("Device")));
    if (entry.devicePath.empty()) continue;
    entry.name = entry.devicePath.substr(entry.devicePath.rfind('/') + 1);
    entry.sizeBytes = block.value(QStringLiteral("Size")).toULongLong();
    const QString drivePath = block.value(QStringLiteral("Drive")).value<QDBusObjectPath>().path();
    QVariantMap drive;
    if (drivePath != QLatin1String("/")) {
      const auto found = objects.constFind(QDBusObjectPath(drivePath));
      if (found != objects.cend()) drive = found.value().value(driveName);
    }
    // A block without its drive (a loop device, a partition's holder) is
    // shown as a fixed disk, as the sysfs list does.
    entry.driveType = driveKind(entry.devicePath, drive);
    const QString model = (drive.value(QStringLiteral("Vendor")).toString() + QLatin1Char(' ') +
                           drive.value(QStringLiteral("Model")).toString())
                              .simplified();
    entry.model = model.toStdString();
    entries.push_back(std::move(entry));
  }
  std::sort(entries.begin(), entries.end(),
            [](const DriveEntry& a, const DriveEntry& b) { return a.devicePath < b.devicePath; });
  return entries;
}

int UDisksClient::openReadOnly(const std::string& devicePath, QString* why) const {
  UDisksObjects objects;
  if (!bus_.isConnected() || !managedObjects(bus_, objects)) {
    if (why != nullptr) *why = QStringLiteral("udisks2 did not answer");
    return -EIO;
  }
  const QString blockName = QString::fromLatin1(kBlockInterface);
  QString objectPath;
  for (auto it = objects.cbegin(); it != objects.cend() && objectPath.isEmpty(); ++it) {
    if (!it.value().contains(blockName)) continue;
    const QVariantMap& block = it.value()[blockName];
    if (bytePath(block.value(QStringLiteral("Device"))) == devicePath ||
        bytePath(block.value(QStringLiteral("PreferredDevice"))) == devicePath)
      objectPath = it.key().path();
  }
  if (objectPath.isEmpty()) return -ENODEV;

  QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), objectPath,
                                                     blockName, QStringLiteral("OpenDevice"));
  // "r": read-only is all a source drive is ever opened for.
  call << QStringLiteral("r") << QVariantMap();
  // The polkit agent's question may come up: the user may interact.
  call.setInteractiveAuthorizationAllowed(true);
  const QDBusReply<QDBusUnixFileDescriptor> reply = bus_.call(call, QDBus::Block, kOpenTimeoutMs);
  if (!reply.isValid()) {
    if (why != nullptr) *why = reply.error().message();
    const QString name = reply.error().name();
    return name.contains(QLatin1String("NotAuthorized")) ||
                   name == QLatin1String("org.freedesktop.DBus.Error.AccessDenied")
               ? -EACCES
               : -EIO;
  }
  // The reply's object closes its copy; the caller gets one of its own.
  const int fd = fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return -errno;
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) != O_RDONLY) {
    ::close(fd);
    if (why != nullptr) *why = QStringLiteral("udisks2 handed over a writable descriptor");
    return -EPERM;
  }
  return fd;
}

}  // namespace kestrix
