// Capture files byte for byte, as the published formats lay them down.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "capture.h"

namespace qv::tools {
namespace {

namespace fs = std::filesystem;
using V = std::vector<uint8_t>;

CanFrame Frame(uint32_t id, bool ext, V data, int64_t s = 1436509052, int32_t us = 249713) {
  CanFrame f{s, us, id, ext, static_cast<uint8_t>(data.size())};
  std::copy(data.begin(), data.end(), f.data);  // at most 8 bytes in every test
  return f;
}

// (A 29-bit frame with its data: qvlink monitor's log lines.)
TEST(CandumpLine, FormatOfStandardAndEmptyFrames) {
  EXPECT_EQ(CandumpLine(Frame(0x7DF, false, {0x02, 0x01, 0x0D}, 7, 5), "qv0"), "(7.000005) qv0 7DF#02010D");
  EXPECT_EQ(CandumpLine(Frame(0x0CF00400, true, {}, 0, 0), "qv0"), "(0.000000) qv0 0CF00400#");
  // Flags above 29 bits are not part of the identifier; a bogus length stops at 8 bytes.
  CanFrame f = Frame(0xFFFFFFFF, true, {1, 2, 3, 4, 5, 6, 7, 8});
  f.length = 200;
  EXPECT_EQ(CandumpLine(f, "x"), "(1436509052.249713) x 1FFFFFFF#0102030405060708");
}

TEST(PcapWriter, FileHeaderAndSocketCanRecordsByteForByte) {
  const fs::path p = fs::temp_directory_path() / ("qv-capture-" + std::to_string(getpid()) + ".pcap");
  PcapWriter w;
  EXPECT_FALSE(w.write(Frame(1, true, {})));  // not open
  EXPECT_FALSE(w.open((p / "missing" / "x.pcap").string()));
  CandumpWriter c;
  EXPECT_FALSE(c.open((p / "missing" / "x.log").string()));
  EXPECT_FALSE(c.write(Frame(1, true, {})));
  ASSERT_TRUE(w.open(p.string()));
  EXPECT_TRUE(w.write(Frame(0x0CF00400, true, {0xF0, 0x7D, 0x7D, 0x40, 0x1F, 0x00, 0xFF, 0x7D}, 100, 250)));
  EXPECT_TRUE(w.write(Frame(0x7DF, false, {0x02, 0x01, 0x0D}, 101, 999999)));
  w.close();
  std::ifstream in(p, std::ios::binary);
  const V bytes{std::istreambuf_iterator<char>(in), {}};
  fs::remove(p);
  // Magic (little-endian), version 2.4, zone 0, sigfigs 0, snaplen 65535, link type 227.
  const V header = {0xD4, 0xC3, 0xB2, 0xA1, 2, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0, 227, 0, 0, 0};
  // Each record: seconds, microseconds, 16 bytes kept of 16; the SocketCAN frame's identifier
  // big-endian with the extended flag, its length, 3 pad bytes and 8 data bytes.
  V want = header;
  for (const V& rec : {V{100, 0, 0, 0, 250, 0, 0, 0, 16, 0, 0, 0, 16, 0, 0, 0, 0x8C, 0xF0, 0x04, 0x00, 8, 0, 0, 0,
                         0xF0, 0x7D, 0x7D, 0x40, 0x1F, 0x00, 0xFF, 0x7D},
                       V{101, 0, 0, 0, 0x3F, 0x42, 0x0F, 0, 16, 0, 0, 0, 16, 0, 0, 0, 0x00, 0x00, 0x07, 0xDF, 3, 0, 0,
                         0, 0x02, 0x01, 0x0D, 0, 0, 0, 0, 0}})
    want.insert(want.end(), rec.begin(), rec.end());
  EXPECT_EQ(bytes, want);
}

}  // namespace
}  // namespace qv::tools
