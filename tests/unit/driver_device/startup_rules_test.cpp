// Start-up pieces that are pure logic: protocol names, the device table, registry key names,
// version replies, and where the returned length sits in the message record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "QV_API.h"
#include "startup.h"

namespace qv::driver {
namespace {

// Substrings, tested in order (VKL before J1939, Device and CAN before IO, IO before Network),
// case-sensitive; anything else, or nothing, is the device.
TEST(ProtocolNames, OrderAndSubstrings) {
  const std::pair<const char*, uint8_t> rows[] = {
      {"J1939:Baud=Auto", 0x02}, {"J1708", 0x01},     {"CAN:Baud=500", 0x07}, {"VKL", 0x10},
      {"J1939 VKL", 0x10},       {"IO", 0x27},        {"Device IO", 0x00},    {"CANIO", 0x07},
      {"Network", 0x20},         {"NetworkIO", 0x27}, {"j1939", 0x00},        {"", 0x00},
      {nullptr, 0x00},
  };
  for (const auto& [name, code] : rows) EXPECT_EQ(ProtocolCodeOf(name), code) << (name ? name : "(null)");
}

TEST(DeviceTableRules, SixSlotsThenRefusedAndReleasedSlotsReused) {
  DeviceTable t;
  for (uint8_t i = 1; i <= 6; ++i) {
    EXPECT_EQ(TakeSlot(t, "COM4"), 0x80 | i);
    t.openCount++;
  }
  EXPECT_EQ(TakeSlot(t, "COM4"), 0);
  EXPECT_EQ(t.openCount, 6);
  ReleaseSlot(t, 0x83);
  EXPECT_EQ(t.openCount, 5);
  EXPECT_EQ(t.ids[2], 0);
  for (uint8_t b : t.names[2]) EXPECT_EQ(b, 0xFF);
  ReleaseSlot(t, 0x83);  // nobody holds it any more
  ReleaseSlot(t, 0x05);
  EXPECT_EQ(t.openCount, 5);
  EXPECT_EQ(TakeSlot(t, "COM12345678901234567"), 0x83);
  EXPECT_EQ(std::memcmp(t.names[2], "COM1234567890123", 16), 0);
}

TEST(RegistryKeys, TwoDigitsAtLeast) {
  char k[64];
  const std::pair<uint8_t, const char*> rows[] = {{7, "Device07"}, {12, "Device12"}, {255, "Device255"}};
  for (auto [n, want] : rows) {
    ASSERT_TRUE(RegistryKeyFor(n, k, sizeof k));
    EXPECT_EQ(std::string(k), std::string("Software\\Morvane\\QV_Device\\") + want);
  }
  EXPECT_FALSE(RegistryKeyFor(1, k, 10));
}

TEST(VersionReplies, BothLayoutsAndNonReplies) {
  // As delivered: API id 0x81, source (2), RSSI, options, then the RF payload.
  const uint8_t repeated[] = {0x81, 0x30, 0x39, 0x28, 0x00, 0x00, 0x1B, 0x1B, 0x41, 0x00};
  EXPECT_EQ(ParseVersionReply(repeated, sizeof repeated), 0x4100);
  const uint8_t plain[] = {0x81, 0x30, 0x39, 0x28, 0x00, 0x00, 0x1B, 0x22, 0x17};
  EXPECT_EQ(ParseVersionReply(plain, sizeof plain), 0x2217);
  const uint8_t other[] = {0x81, 0x30, 0x39, 0x28, 0x00, 0x00, 0x11, 0x22, 0x17};
  EXPECT_FALSE(ParseVersionReply(other, sizeof other));
  const uint8_t at[] = {0x88, 0x14, 'D', 'H', 0x00, 0, 0, 0, 0};
  EXPECT_FALSE(ParseVersionReply(at, sizeof at));
  EXPECT_FALSE(ParseVersionReply(plain, 8));  // cut short
  EXPECT_FALSE(ParseVersionReply(plain, 0));
}

}  // namespace
}  // namespace qv::driver
