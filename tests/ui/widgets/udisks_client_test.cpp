// The udisks2 client against a stand-in service on a private test bus: the
// drive list, the read-only descriptor of a "card" file, the refusals, and a
// RawDrive that reaches a card it may not open itself through the service.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "media/raw_drive.h"
#include "platform/block_device.h"
#include "texts/drive_texts.h"
#include "test_card.h"
#include "ui/dialogs/scripted_prompter.h"
#include "ui/widgets/main_window.h"
#include "ui/widgets/udisks_client.h"

namespace kestrix {
namespace {

constexpr int kStartTimeoutMs = 20000;
constexpr int kCardBytes = 1 << 20;

// Reads one line from a started helper; empty when it printed none in time.
QByteArray firstLine(QProcess& process) {
  while (!process.canReadLine()) {
    if (!process.waitForReadyRead(kStartTimeoutMs)) return {};
  }
  return process.readLine().trimmed();
}

class UDisksClientTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) {
      skipReason_ = "dbus-daemon is not installed (package dbus)";
      return;
    }
    QProcess probe;
    probe.start(QStringLiteral(KX_PYTHON3),
                {QStringLiteral("-c"), QStringLiteral("import dbus, dbus.service, dbusmock; "
                                                      "from gi.repository import GLib")});
    if (!probe.waitForFinished(kStartTimeoutMs) || probe.exitCode() != 0) {
      skipReason_ = "python3-dbusmock (with python3-dbus and python3-gi) is not installed";
      return;
    }
    folder_ = new QTemporaryDir;
    // Only its owner may enter: a user other than the owner cannot open
    // the card by its path, as with a real card's device node.
    ::chmod(folder_->path().toLocal8Bit().constData(), 0700);
    card_ = QDir(folder_->path()).filePath(QStringLiteral("card.img"));
    QFile file(card_);
    if (!file.open(QIODevice::WriteOnly)) return;
    QByteArray bytes(kCardBytes, '\0');
    for (int i = 0; i < kCardBytes; ++i) bytes[i] = static_cast<char>((i * 7 + i / 512) & 0xFF);
    file.write(bytes);
    file.close();
    cardBytes_ = new QByteArray(bytes);

    bus_ = new QProcess;
    bus_->start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                         QStringLiteral("--print-address=1")});
    address_ = QString::fromLocal8Bit(firstLine(*bus_));
    if (address_.isEmpty()) return;
    standIn_ = new QProcess;
    standIn_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    standIn_->start(QStringLiteral(KX_PYTHON3),
                    {QStringLiteral(KX_UDISKS_STANDIN), address_, card_});
    ready_ = firstLine(*standIn_) == "ready";
  }

  static void TearDownTestSuite() {
    for (QProcess* process : {standIn_, bus_}) {
      if (process == nullptr) continue;
      process->kill();
      process->waitForFinished();
      delete process;
    }
    standIn_ = bus_ = nullptr;
    QDBusConnection::disconnectFromBus(QStringLiteral("kx-udisks-test"));
    delete folder_;
    delete cardBytes_;
    folder_ = nullptr;
    cardBytes_ = nullptr;
  }

  void SetUp() override {
    if (!skipReason_.empty()) GTEST_SKIP() << skipReason_;
    ASSERT_TRUE(ready_) << "the test bus or the stand-in service did not start";
  }

  static QDBusConnection testBus() {
    return QDBusConnection::connectToBus(address_, QStringLiteral("kx-udisks-test"));
  }

  static QStringList modesAsked() {
    const QDBusMessage call =
        QDBusMessage::createMethodCall(UDisksClient::kService, UDisksClient::kManagerPath,
                                       QStringLiteral("org.kestrix.Test"), QStringLiteral("Modes"));
    const QDBusReply<QStringList> reply = testBus().call(call);
    return reply.isValid() ? reply.value() : QStringList{QStringLiteral("<no answer>")};
  }

  static inline std::string skipReason_;
  static inline QTemporaryDir* folder_ = nullptr;
  static inline QString card_;
  static inline QByteArray* cardBytes_ = nullptr;
  static inline QProcess* bus_ = nullptr;
  static inline QProcess* standIn_ = nullptr;
  static inline QString address_;
  static inline bool ready_ = false;
};

TEST_F(UDisksClientTest, ListsTheServicesDrivesWithTheirKindsAndLeavesHiddenOnesOut) {
  const UDisksClient client(testBus());
  ASSERT_TRUE(client.available());
  std::vector<std::string> texts;
  for (const DriveEntry& entry : client.listDrives()) texts.push_back(driveEntryText(entry));
  const std::string card = card_.toStdString();
  const std::vector<std::string> expected = {
      "/dev/kxdenied(リムーバブル) 1.0 MB Kestrix TestCard",
      "/dev/kxsystem(固定Disk) 256.0 GB SYSTEM SSD",
      "/dev/kxwritable(リムーバブル) 1.0 MB Kestrix TestCard",
      card + "(リムーバブル) 1.0 MB Kestrix TestCard",
  };
  std::vector<std::string> sorted = expected;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(texts, sorted);
}

struct OpenCase {
  const char* name;
  const char* device;  // "" for the card file
  int result;          // 0: a descriptor
};

const OpenCase kOpenCases[] = {
    // name                    device              result
    {"CardGivesReadOnlyFd", "", 0},
    {"WritableFdIsRefused", "/dev/kxwritable", -EPERM},
    {"UserSaidNo", "/dev/kxdenied", -EACCES},
    {"UnknownDevice", "/dev/kxnothing", -ENODEV},
};

class UDisksOpen : public UDisksClientTest, public testing::WithParamInterface<OpenCase> {};

TEST_P(UDisksOpen, HandsOverOnlyReadOnlyDescriptors) {
  const OpenCase& c = GetParam();
  const UDisksClient client(testBus());
  const std::string device = *c.device != '\0' ? std::string(c.device) : card_.toStdString();
  QString why;
  const int fd = client.openReadOnly(device, &why);
  if (c.result != 0) {
    EXPECT_EQ(fd, c.result) << why.toStdString();
    return;
  }
  ASSERT_GE(fd, 0) << why.toStdString();
  EXPECT_EQ(fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
  char first[512];
  EXPECT_EQ(pread(fd, first, sizeof first, 0), static_cast<ssize_t>(sizeof first));
  EXPECT_EQ(QByteArray(first, sizeof first), cardBytes_->left(512));
  ::close(fd);
  EXPECT_EQ(modesAsked().constLast(), QStringLiteral("r")) << "only read access is asked for";
}

INSTANTIATE_TEST_SUITE_P(Devices, UDisksOpen, testing::ValuesIn(kOpenCases),
                         [](const testing::TestParamInfo<OpenCase>& info) {
                           return std::string(info.param.name);
                         });

// Runs `body` as a user who may not open the card by its path: root turns
// into "nobody" for the while, anyone else finds the file closed to them.
template <typename Body>
void asUserWithoutRights(const std::string& card, Body body) {
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(seteuid(65534), 0);
  } else {
    ASSERT_EQ(::chmod(card.c_str(), 0), 0);
  }
  body();
  if (root) {
    ASSERT_EQ(seteuid(0), 0);
  } else {
    ::chmod(card.c_str(), 0644);
  }
}

TEST_F(UDisksClientTest, RawDriveReadsACardItMayNotOpenThroughTheService) {
  // Connected while still allowed to: the bus knows the process by the
  // credentials it connected with.
  auto client = std::make_shared<UDisksClient>(testBus());
  ASSERT_TRUE(client->available());
  const std::string card = card_.toStdString();
  uint32_t withoutService = 0;
  bool opened = false;
  uint32_t bytesRead = 0;
  QByteArray firstSector;
  asUserWithoutRights(card, [&] {
    RawDrive alone;
    EXPECT_FALSE(alone.open(card));
    withoutService = alone.lastError();

    RawDrive drive;
    drive.setDeniedOpener([client](const std::string& path) { return client->openReadOnly(path); });
    opened = drive.open(card);
    if (opened && drive.readSectors(0, 1, 512, &bytesRead))
      firstSector = QByteArray(reinterpret_cast<const char*>(drive.buffer()), 512);
    EXPECT_EQ(drive.deviceBytes(), static_cast<uint64_t>(kCardBytes));
  });
  EXPECT_NE(withoutService, 0u) << "the path alone must be refused for this test to mean anything";
  ASSERT_TRUE(opened);
  EXPECT_EQ(bytesRead, 512u);
  EXPECT_EQ(firstSector, cardBytes_->left(512));
}

TEST_F(UDisksClientTest, DriveBoxShowsTheServicesDrives) {
  ScriptedPrompter prompter;
  MainWindow window(prompter, test::pluginFolder());
  window.useDiskService(std::make_shared<UDisksClient>(testBus()));
  window.fillDriveList();
  ASSERT_EQ(window.driveBox()->count(), 4);
  const int card = window.driveBox()->findData(card_);
  ASSERT_GE(card, 0);
  EXPECT_TRUE(window.driveBox()->itemText(card).endsWith(QStringLiteral("Kestrix TestCard")));
  EXPECT_EQ(window.driveBox()->currentIndex(), -1) << "no drive is chosen";
}

TEST(BlockDeviceDescriptor, TakesReadOnlyDescriptorsAndRefusesOthers) {
  QTemporaryDir folder;
  const std::string path = QDir(folder.path()).filePath(QStringLiteral("card.img")).toStdString();
  const int make = ::open(path.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(make, 0);
  ASSERT_EQ(::write(make, "card", 4), 4);
  ::close(make);
  struct Case {
    const char* name;
    int flags;
    int code;
  };
  for (const Case& c : {Case{"ReadOnly", O_RDONLY, 0}, Case{"ReadWrite", O_RDWR, EPERM},
                        Case{"WriteOnly", O_WRONLY, EPERM}}) {
    SCOPED_TRACE(c.name);
    BlockDevice device;
    const int fd = ::open(path.c_str(), c.flags);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(device.openDescriptor(fd, path), c.code);
    EXPECT_EQ(device.isOpen(), c.code == 0);
    if (c.code != 0) {
      EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "a refused descriptor is closed";
    } else {
      EXPECT_EQ(device.sizeBytes(), 4u);
    }
  }
  BlockDevice device;
  EXPECT_EQ(device.openDescriptor(-1, path), EBADF);
}

TEST(UDisksClientWithoutService, IsUnavailableAndListsNothing) {
  const UDisksClient client(QDBusConnection::connectToBus(
      QStringLiteral("unix:path=/nonexistent/kx-bus"), QStringLiteral("kx-no-bus")));
  EXPECT_FALSE(client.available());
  EXPECT_TRUE(client.listDrives().empty());
  EXPECT_EQ(client.openReadOnly("/dev/sdb"), -EIO);
  QDBusConnection::disconnectFromBus(QStringLiteral("kx-no-bus"));
}

}  // namespace
}  // namespace kestrix
