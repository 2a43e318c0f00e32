// Capture files, re-read by a reader written here from the published formats.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "capture.h"

namespace qv::tools {
namespace {

namespace fs = std::filesystem;

struct PcapRead {
  bool ok = false;
  uint16_t major = 0, minor = 0;
  uint32_t zone = 0, sigfigs = 0, snaplen = 0, linkType = 0;
  struct Rec {
    uint32_t sec, usec, incl, orig;
    std::vector<uint8_t> frame;
  };
  std::vector<Rec> records;
  bool truncated = false;
};

// Independent reader of a little-endian file (the magic's byte order).
PcapRead ReadPcap(const std::vector<uint8_t>& b) {
  PcapRead r;
  auto u32 = [&](size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
  };
  auto u16 = [&](size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); };
  if (b.size() < 24 || u32(0) != 0xA1B2C3D4) return r;
  r.major = u16(4);
  r.minor = u16(6);
  r.zone = u32(8);
  r.sigfigs = u32(12);
  r.snaplen = u32(16);
  r.linkType = u32(20);
  size_t at = 24;
  while (at < b.size()) {
    if (b.size() - at < 16) { r.truncated = true; break; }
    PcapRead::Rec rec{u32(at), u32(at + 4), u32(at + 8), u32(at + 12), {}};
    at += 16;
    if (b.size() - at < rec.incl) { r.truncated = true; break; }
    rec.frame.assign(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + rec.incl));
    at += rec.incl;
    r.records.push_back(rec);
  }
  r.ok = true;
  return r;
}

std::vector<uint8_t> Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

CanFrame Frame(uint32_t id, bool ext, std::vector<uint8_t> data, int64_t s = 1436509052, int32_t us = 249713) {
  CanFrame f;
  f.seconds = s;
  f.microseconds = us;
  f.id = id;
  f.extended = ext;
  f.length = static_cast<uint8_t>(data.size());
  for (size_t i = 0; i < data.size() && i < 8; ++i) f.data[i] = data[i];
  return f;
}

class CaptureFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qv-capture-" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST(CandumpLine, FormatOfExtendedStandardAndEmptyFrames) {
  EXPECT_EQ(CandumpLine(Frame(0x18FEF100, true, {1, 2, 3, 4, 5, 6, 7, 8}), "can0"),
            "(1436509052.249713) can0 18FEF100#0102030405060708");
  EXPECT_EQ(CandumpLine(Frame(0x7DF, false, {0x02, 0x01, 0x0D}, 7, 5), "qv0"), "(7.000005) qv0 7DF#02010D");
  EXPECT_EQ(CandumpLine(Frame(0x0CF00400, true, {}, 0, 0), "qv0"), "(0.000000) qv0 0CF00400#");
  // Flags above 29 bits are not part of the identifier; a bogus length stops at 8 bytes.
  CanFrame f = Frame(0xFFFFFFFF, true, {1, 2, 3, 4, 5, 6, 7, 8});
  f.length = 200;
  EXPECT_EQ(CandumpLine(f, "x"), "(1436509052.249713) x 1FFFFFFF#0102030405060708");
}

TEST(ToCanFrame, J1939MessagesUpToEightBytes) {
  J1939Message m{0, false, 61444, 3, 0x00, 0xFF, {0xF0, 0x7D}};
  const auto f = ToCanFrame(m, 10, 20);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->id, 0x0CF00400u);
  EXPECT_TRUE(f->extended);
  EXPECT_EQ(f->length, 2);
  EXPECT_EQ(f->data[1], 0x7D);
  m.data.assign(9, 0);
  EXPECT_FALSE(ToCanFrame(m, 10, 20));
}

TEST_F(CaptureFiles, PcapHeaderAndRecordsReadBack) {
  const fs::path p = dir_ / "t.pcap";
  {
    PcapWriter w;
    ASSERT_TRUE(w.open(p.string()));
    EXPECT_TRUE(w.write(Frame(0x0CF00400, true, {0xF0, 0x7D, 0x7D, 0x40, 0x1F, 0x00, 0xFF, 0x7D}, 100, 250)));
    EXPECT_TRUE(w.write(Frame(0x7DF, false, {0x02, 0x01, 0x0D}, 101, 999999)));
  }
  const auto bytes = Slurp(p);
  ASSERT_EQ(bytes.size(), 24u + 2 * 32u);
  const PcapRead r = ReadPcap(bytes);
  ASSERT_TRUE(r.ok);
  EXPECT_FALSE(r.truncated);
  EXPECT_EQ(r.major, 2);
  EXPECT_EQ(r.minor, 4);
  EXPECT_EQ(r.zone, 0u);
  EXPECT_EQ(r.sigfigs, 0u);
  EXPECT_GE(r.snaplen, 16u);
  EXPECT_EQ(r.linkType, 227u);
  ASSERT_EQ(r.records.size(), 2u);
  const auto& a = r.records[0];
  EXPECT_EQ(a.sec, 100u);
  EXPECT_EQ(a.usec, 250u);
  EXPECT_EQ(a.incl, 16u);
  EXPECT_EQ(a.orig, 16u);
  // SocketCAN frame: identifier big-endian with the extended flag, length, 3 pad, 8 data.
  EXPECT_EQ(a.frame, (std::vector<uint8_t>{0x8C, 0xF0, 0x04, 0x00, 8, 0, 0, 0, 0xF0, 0x7D, 0x7D, 0x40, 0x1F, 0x00, 0xFF, 0x7D}));
  EXPECT_EQ(r.records[1].frame, (std::vector<uint8_t>{0x00, 0x00, 0x07, 0xDF, 3, 0, 0, 0, 0x02, 0x01, 0x0D, 0, 0, 0, 0, 0}));
  EXPECT_EQ(r.records[1].usec, 999999u);
}

TEST_F(CaptureFiles, CandumpLogFileIsOneLinePerFrame) {
  const fs::path p = dir_ / "t.log";
  {
    CandumpWriter w;
    ASSERT_TRUE(w.open(p.string()));
    EXPECT_TRUE(w.write(Frame(0x18FEF100, true, {0xFF, 0x00, 0x50})));
    EXPECT_TRUE(w.write(Frame(0x0CF00400, true, {1, 2, 3, 4, 5, 6, 7, 8}, 2, 3)));
  }
  std::ifstream in(p);
  std::string l1, l2, l3;
  ASSERT_TRUE(std::getline(in, l1));
  ASSERT_TRUE(std::getline(in, l2));
  EXPECT_FALSE(std::getline(in, l3));
  EXPECT_EQ(l1, "(1436509052.249713) qv0 18FEF100#FF0050");
  EXPECT_EQ(l2, "(2.000003) qv0 0CF00400#0102030405060708");
}

TEST_F(CaptureFiles, WritersRefuseUnwritablePathsAndClosedFiles) {
  PcapWriter p;
  EXPECT_FALSE(p.open((dir_ / "missing" / "x.pcap").string()));
  EXPECT_FALSE(p.write(Frame(1, true, {})));
  CandumpWriter c;
  EXPECT_FALSE(c.open((dir_ / "missing" / "x.log").string()));
  EXPECT_FALSE(c.write(Frame(1, true, {})));
}

}  // namespace
}  // namespace qv::tools
