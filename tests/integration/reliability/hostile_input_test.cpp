// Hostile arguments to the RP1210 entry points, through the real libraries with real traffic. Bad
// client ids, null pointers and sizes per call are the RP1210 unit tests'; broken INI files, the
// profile tables' and the fuzz targets'. What stays here reaches the real driver.
#include <string>

#include "../support/rp1210_session.h"

namespace {

using namespace qv::test;

class Hostile : public Rp1210Session {};

// The whole string goes to the driver: it must take a name far longer than any it knows.
TEST_F(Hostile, OverlongProtocolString) {
  const std::string longName = "J1939" + std::string(4000, 'x');
  const int16_t r = Connect(longName.c_str());
  EXPECT_TRUE(r == 1 || r > 10) << r;
  if (r == 1) {
    EXPECT_EQ(Disconnect(1), 0);
  }
}

}  // namespace
