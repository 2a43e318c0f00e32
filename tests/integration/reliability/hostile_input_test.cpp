// Hostile arguments to the RP1210 entry points, through the real libraries with real traffic:
// each call gives a clear code and touches nothing past what it was given (ASan tells). The exact
// codes per size and reads into buffers of every size are the RP1210 unit tests'; broken INI
// files, the profile tables' and the fuzz targets'.
#include <cstring>
#include <string>

#include "../support/rp1210_session.h"

namespace {

using namespace qv::test;

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

TEST_F(Hostile, OverlongProtocolString) {
  const std::string longName = "J1939" + std::string(4000, 'x');
  const int16_t r = Connect(longName.c_str());
  EXPECT_TRUE(r == 1 || r > 10) << r;
  if (r == 1) {
    EXPECT_EQ(Disconnect(1), 0);
  }
}

}  // namespace
