// Hostile arguments to every RP1210 entry point, through the real libraries: each call gives a
// clear code and writes nothing past the buffer it was given (the guard bytes tell; ASan also).
#include <cstring>
#include <string>

#include "../support/rp1210_session.h"

namespace {

using namespace qv::test;

// A buffer of exactly `size` usable bytes with guard bytes on both sides.
struct Guarded {
  explicit Guarded(size_t size) : n(size), bytes(size + 64, static_cast<char>(0xA5)) {}
  char* data() { return bytes.data() + 32; }
  bool guardsIntact() const {
    for (size_t i = 0; i < 32; ++i)
      if (bytes[i] != static_cast<char>(0xA5) || bytes[32 + n + i] != static_cast<char>(0xA5)) return false;
    return true;
  }
  size_t n;
  std::vector<char> bytes;
};

class Hostile : public Rp1210Session {};

TEST_F(Hostile, BadClientIdsAndNullPointersAreRefused) {
  const int16_t id = Connect("J1939");
  ASSERT_EQ(id, 1);
  char buf[64] = {};
  for (int16_t bad : {int16_t{-1}, int16_t{0}, int16_t{2}, int16_t{11}, int16_t{32767}, int16_t{-32768}}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(Api().send(bad, buf, 8, 0, 0), 129);
    EXPECT_EQ(Api().read(bad, buf, sizeof buf, 0), 129);
    EXPECT_EQ(Api().command(16, bad, buf, 1), 129);
    EXPECT_EQ(Api().status(bad, buf, 16, 0), 129);
    EXPECT_EQ(Api().disconnect(bad), 129);
  }
  const int16_t nullSend = Api().send(id, nullptr, 8, 0, 0);
  EXPECT_TRUE(nullSend == 141 || nullSend == 160) << nullSend;
  EXPECT_EQ(Api().read(id, nullptr, 64, 0), 141);
  EXPECT_EQ(Api().connect(nullptr, 1, nullptr, 0, 0, 0), 136);
  Api().command(16, id, nullptr, 0);  // any code, no crash
  Api().status(id, nullptr, 16, 0);
  EXPECT_NE(Api().errorText(134, nullptr), 0);
  Api().version(nullptr, nullptr, nullptr, nullptr);
}

TEST_F(Hostile, SendSizesFromNothingToHuge) {
  const int16_t id = Connect("J1939");
  ASSERT_EQ(id, 1);
  std::vector<char> big(8192, 0x11);
  big[0] = 0x00, big[1] = static_cast<char>(0xEF), big[2] = 0x00, big[3] = 0x06, big[4] = static_cast<char>(0xF9), big[5] = 0;
  for (int16_t size : {int16_t{-1}, int16_t{0}, int16_t{1}, int16_t{5}, int16_t{1792}, int16_t{2000}, int16_t{8192}}) {
    SCOPED_TRACE(size);
    const int16_t r = Api().send(id, big.data(), size, 0, 0);
    if (size >= 6 && size <= 6 + 1785) {
      EXPECT_EQ(r, 0);
    } else {
      EXPECT_NE(r, 0);
    }
  }
}

TEST_F(Hostile, ReadIntoBuffersOfEverySize) {
  const int16_t id = Connect("J1939");
  ASSERT_EQ(id, 1);
  for (size_t size : {size_t{8}, size_t{256}, size_t{1600}, size_t{8192}}) {
    SCOPED_TRACE(size);
    Guarded g(size);
    for (int k = 0; k < 20; ++k) {
      const int16_t r = Api().read(id, g.data(), static_cast<int16_t>(size), 1);
      EXPECT_TRUE(r == 0 || r == 141 || (r > 10 && static_cast<size_t>(r) <= size)) << r;
    }
    EXPECT_TRUE(g.guardsIntact());
  }
  for (int16_t size : {int16_t{0}, int16_t{-5}}) {
    Guarded g(16);
    EXPECT_EQ(Api().read(id, g.data(), size, 0), 141);
    EXPECT_TRUE(g.guardsIntact());
  }
}

TEST_F(Hostile, StatusVersionAndErrorTextStayInTheirBuffers) {
  const int16_t id = Connect("J1939");
  ASSERT_EQ(id, 1);
  // The block is 16 bytes: a smaller buffer is refused, untouched.
  for (int16_t size : {int16_t{-1}, int16_t{0}, int16_t{1}, int16_t{15}, int16_t{16}, int16_t{256}}) {
    Guarded g(size > 0 ? static_cast<size_t>(size) : 1);
    EXPECT_EQ(Api().status(id, g.data(), size, 0), size >= 16 ? 0 : 141) << size;
    EXPECT_TRUE(g.guardsIntact()) << size;
  }
  // Error texts fit the RP1210 80-character buffer, known code or not.
  for (int code : {-32768, -1, 0, 1, 128, 129, 141, 163, 164, 255, 32767}) {
    Guarded g(80);
    std::memset(g.data(), 0, 80);
    Api().errorText(static_cast<int16_t>(code), g.data());
    EXPECT_TRUE(g.guardsIntact()) << code;
    EXPECT_LT(std::strlen(g.data()), 80u) << code;
  }
  Guarded a(16), b(16), c(16), d(16);
  Api().version(a.data(), b.data(), c.data(), d.data());
  EXPECT_TRUE(a.guardsIntact() && b.guardsIntact() && c.guardsIntact() && d.guardsIntact());
}

TEST_F(Hostile, CommandsWithSizesTheyDoNotExpect) {
  const int16_t id = Connect("J1939");
  ASSERT_EQ(id, 1);
  std::vector<char> data(4096, static_cast<char>(0xFF));
  for (int16_t command : {int16_t{3}, int16_t{4}, int16_t{7}, int16_t{16}, int16_t{17}, int16_t{19}, int16_t{20},
                          int16_t{50}, int16_t{52}, int16_t{256 + 16}, int16_t{-1}}) {
    for (int16_t size : {int16_t{-1}, int16_t{0}, int16_t{1}, int16_t{9}, int16_t{255}, int16_t{256}, int16_t{4096}}) {
      const int16_t r = Api().command(command, id, data.data(), size);
      EXPECT_GE(r, 0) << command << "/" << size;
    }
  }
  // The client still works afterwards.
  EXPECT_EQ(Api().command(3, id, nullptr, 0), 0);
}

TEST_F(Hostile, OverlongProtocolStringsAndBrokenIniFiles) {
  std::string longName = "J1939" + std::string(4000, 'x');
  const int16_t r = Connect(longName.c_str());
  EXPECT_TRUE(r == 1 || r > 10) << r;
  if (r == 1) {
    EXPECT_EQ(Disconnect(1), 0);
  }
  struct Ini {
    const char* name;
    std::string text;
  } inis[] = {
      {"overlong line", "[DeviceInformation1]\nDeviceParams=COM5," + std::string(5000, '9') + ",12345,81,12\n"},
      {"binary bytes", std::string("[DeviceInformation1]\nDeviceParams=COM5,\x01\xff\x7f,12345\0,81\n", 44)},
      {"duplicate sections", "[DeviceInformation1]\nDeviceParams=COM5,115200,12345,81,12\n[DeviceInformation1]\nDeviceParams=COM9\n"},
      {"missing value", "[DeviceInformation1]\nDeviceParams=\n"},
      {"no section", "DeviceParams=COM5,115200,12345,81,12\n"},
  };
  for (auto& ini : inis) {
    SCOPED_TRACE(ini.name);
    std::ofstream(dir_ / "QV121032.ini", std::ios::binary | std::ios::trunc) << ini.text;
    const int16_t id = Connect("J1939");
    if (id == 1) {
      EXPECT_EQ(Disconnect(id), 0);
    } else {
      EXPECT_GT(id, 10);
    }
  }
}

}  // namespace
