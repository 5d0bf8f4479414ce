// The Windows 9x read decisions, against a fake VWIN32 device.
#include "media/legacy_disk_reader.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrix {
namespace {

struct Call {
  uint32_t code;
  DiocRegisters registers;  // as passed in
  DiskIo block;
};

// Scripted answers, one per call: whether DeviceIoControl succeeds, and the
// carry and EAX the service leaves behind.
struct Answer {
  bool callSucceeds;
  bool carry;
  uint32_t eax;
  bool touchesFlags = true;  // false: the call "succeeds" without running the service
};

class FakeVwin32 : public LegacyDiskDevice {
 public:
  explicit FakeVwin32(std::vector<Answer> answers) : answers_(std::move(answers)) {}
  bool deviceIoControl(uint32_t code, DiocRegisters& registers, DiskIo& block) override {
    calls.push_back({code, registers, block});
    const Answer answer = answers_.at(calls.size() - 1);
    if (!answer.callSucceeds) return false;
    if (answer.touchesFlags) {
      registers.flags = answer.carry ? 1 : 0;
      registers.eax = answer.eax;
    }
    return true;
  }
  uint32_t lastError() override { return 50; }  // ERROR_NOT_SUPPORTED
  std::vector<Call> calls;

 private:
  std::vector<Answer> answers_;
};

TEST(LegacyDiskReader, AttemptsAndResults) {
  struct Case {
    const char* name;
    std::vector<Answer> answers;
    size_t calls;
    uint32_t code;
  };
  const Case cases[] = {
      {"extended read succeeds", {{true, false, 0}}, 1, 0},
      {"drive without FAT32 support falls back to INT 25h",
       {{true, true, 1}, {true, false, 0}},
       2,
       0},
      {"DeviceIoControl itself fails, then INT 25h works",
       {{false, false, 0}, {true, false, 0}},
       2,
       0},
      {"both fail: the second code counts", {{true, true, 1}, {true, true, 0x15}}, 2, 0x15},
      {"last error when the second call fails", {{true, true, 1}, {false, false, 0}}, 2, 50},
      {"preset carry: a call not carried out reads as failed",
       {{true, false, 0, false}, {true, false, 0, false}},
       2,
       4 /* EAX left as the drive index */},
  };
  for (const Case& c : cases) {
    FakeVwin32 device(c.answers);
    LegacyDiskReader reader(device);
    uint8_t buffer[1024];
    uint32_t bytesRead = 7;
    const uint32_t code = reader.readSectors(4, 0x1'0000'0005ULL, 2, 512, buffer, &bytesRead);
    ASSERT_EQ(device.calls.size(), c.calls) << c.name;
    EXPECT_EQ(code, c.code) << c.name;
    EXPECT_EQ(bytesRead, code == 0 ? 1024u : 7u) << c.name << ": untouched on failure";
  }
}

TEST(LegacyDiskReader, RegisterValuesOfBothAttempts) {
  FakeVwin32 device({{true, true, 1}, {true, false, 0}});
  LegacyDiskReader reader(device);
  uint8_t buffer[512];
  uint32_t bytesRead = 0;
  ASSERT_EQ(reader.readSectors(4, 0x1'0000'0005ULL, 1, 512, buffer, &bytesRead), 0u);
  const Call& first = device.calls[0];
  EXPECT_EQ(first.code, LegacyDiskDevice::kDiocDosDriveInfo);
  EXPECT_EQ(first.registers.eax, 0x7305u);
  EXPECT_EQ(first.registers.ecx, 0xFFFFu);
  EXPECT_EQ(first.registers.edx, 5u) << "drive index + 1: 1 = A:";
  EXPECT_EQ(first.registers.esi, 0u) << "read";
  EXPECT_EQ(first.registers.flags, 1u) << "carry preset";
  EXPECT_EQ(first.block.startSector, 5u) << "only the low 32 bits of the sector number";
  EXPECT_EQ(first.block.sectorCount, 1u);
  const Call& second = device.calls[1];
  EXPECT_EQ(second.code, LegacyDiskDevice::kDiocDosInt25);
  EXPECT_EQ(second.registers.eax, 4u) << "INT 25h names the drive by index, 0 = A:";
  EXPECT_EQ(second.registers.ecx, 0xFFFFu);
  EXPECT_EQ(second.registers.flags, 1u);
  EXPECT_EQ(second.registers.edx, 5u) << "EDX keeps the first attempt's value";
  EXPECT_EQ(second.registers.ebx, first.registers.ebx) << "the same DISKIO block";
  EXPECT_EQ(bytesRead, 512u);
}

}  // namespace
}  // namespace kestrix
