#include <gtest/gtest.h>

#include "fakes.h"
#include "modem_at.h"

namespace qv::setup {
namespace {

using test::AtResponse;
using test::Bytes;
using test::Frame;

// The port open with the program's callback installed, as the start-up leaves it.
struct ModemAt : ::testing::Test, test::Rig {
  void SetUp() override {
    s.gcCOMPort = 4;
    com.OpenComConfig(4, "", 115200, 0, 8, 1, 512, 512);
    com.InstallComCallback(4, kComEventRxChar, 0, 0, ProcessCOM, &s);
  }
  void Feed(const Bytes& b) {
    com.Push(b);
    com.ProcessSystemEvents();
  }
};

Bytes Built(const Bytes& data) {
  uint8_t buf[64] = {};
  size_t n = Build_XBee_Msg(buf, sizeof buf, 0x08, 0x53, data.data(), data.size());
  return Bytes(buf, buf + n);
}

TEST(BuildXBeeMsg, AtFramesByteForByteAndSmallBuffersRefused) {
  EXPECT_EQ(Built({'S', 'H'}), (Bytes{0x7E, 0x00, 0x04, 0x08, 0x53, 0x53, 0x48, 0x09}));
  EXPECT_EQ(Built({'M', 'Y', 0, 0, 0x12, 0x34}),
            (Bytes{0x7E, 0x00, 0x08, 0x08, 0x53, 0x4D, 0x59, 0x00, 0x00, 0x12, 0x34, 0xB8}));
  // A buffer one byte short of the frame is refused and left alone.
  const uint8_t data[6] = {'M', 'Y', 0, 0, 1, 2};
  uint8_t small[11];
  std::memset(small, 0xAA, sizeof small);
  EXPECT_EQ(Build_XBee_Msg(small, sizeof small, 0x08, 0x53, data, 6), 0u);
  EXPECT_EQ(small[0], 0xAA);
}

// Each query waits 0.1 s and takes an answer already waiting in one round of events, or gives
// up after ten (the values taken: the flow's rows; the frames: the frame test and the modem of
// the console test).
TEST_F(ModemAt, QueriesWaitOneRoundForAWaitingAnswerAndTenForSilence) {
  EXPECT_EQ(ReadSH(s), 1);
  EXPECT_EQ(ReadSL(s), 1);
  EXPECT_EQ(ReadMY(s), 1);
  EXPECT_EQ(ReadCH(s), 1);
  EXPECT_EQ(com.delays, (std::vector<double>{0.1, 0.1, 0.1, 0.1}));
  EXPECT_EQ(com.processCalls, 4);
  com.modem.sh = 0xFFFFFFFF;  // all ones: no serial number
  EXPECT_EQ(ReadSH(s), 0);
  com.modem.present = false;
  com.processCalls = 0;
  s.guiSerLow = 2;
  EXPECT_EQ(ReadSL(s), 0);
  EXPECT_EQ(com.processCalls, 10);
  EXPECT_EQ(s.guiSerLow, 0u);
}

TEST_F(ModemAt, AnswerSplitOverTwoCallbacksIsAppliedOnce) {
  Bytes f = AtResponse('M', 'Y', {0x12, 0x34});
  Feed(Bytes(f.begin(), f.begin() + 5));
  EXPECT_EQ(s.gusModemMY, 0);
  Feed(Bytes(f.begin() + 5, f.end()));
  EXPECT_EQ(s.gusModemMY, 0x1234);
  EXPECT_EQ(s.giRxState, 0);
}

// Rows run on one parser in order; each leaves it hunting for the next frame, and CH at the
// value of the last frame taken.
TEST_F(ModemAt, FramesTakenAndDropped) {
  Bytes body(130, 0x00);  // the longest body taken
  body[0] = 0x88; body[1] = 0x53; body[2] = 'C'; body[3] = 'H'; body[5] = 0x21;
  Bytes badSum = AtResponse('C', 'H', {0x09});
  badSum.back() ^= 1;
  Bytes noisy = {0x00, 0x13, 0xFF, 0x7E, 0x00, 0x83, 0x88, 0x53};  // noise, a header announcing 131
  for (uint8_t b : AtResponse('C', 'H', {0x0F})) noisy.push_back(b);
  const struct {
    const char* what;
    Bytes fed;
    uint8_t ch;
  } rows[] = {{"noise and an overlong header, then a frame", noisy, 0x0F},
              {"bad checksum", badSum, 0x0F},
              {"TX status, not an AT response", Frame({0x89, 0x53, 'C', 'H', 0x00, 0x09}), 0x0F},
              {"body of 130", Frame(body), 0x21},
              {"empty body", Frame({}), 0x21},
              {"WR answer", AtResponse('W', 'R', {}), 0x21}};
  for (const auto& row : rows) {
    Feed(row.fed);
    EXPECT_EQ(s.gucModemCH, row.ch) << row.what;
    EXPECT_EQ(s.giRxState, 0) << row.what;
  }
  // An SH answer carrying only 2 value bytes leaves SH alone rather than reading stale bytes.
  s.guiSerHigh = 7;
  Feed(AtResponse('S', 'H', {0x01, 0x02}));
  EXPECT_EQ(s.guiSerHigh, 7u);
  // Another frame ID is still applied, and a delimiter inside a body is data.
  Feed(AtResponse('S', 'L', {0x7E, 0x7E, 0x00, 0x01}, 0x01));
  EXPECT_EQ(s.guiSerLow, 0x7E7E0001u);
}

// The low 16 serial bits, kept clear of FFFF ("no address") and FFFE (the set below).
TEST(ModemAddress, DerivedFromTheLowSerialBits) {
  EXPECT_EQ(ModemAddressFromSerialLow(0x0013FFFF), 0x7FFF);
}

// The address goes out with MY, is stored with WR and read back (a modem that keeps its old
// one: the flow's rows).
TEST_F(ModemAt, SetModemMyWritesStoresAndReadsBack) {
  s.guiSerLow = 0x0013FFFE;
  com.modem.my = 0xFFFF;
  EXPECT_EQ(SetModemMY(s), 1);
  ASSERT_EQ(com.written.size(), 3u);
  EXPECT_EQ(com.written[0], Built({'M', 'Y', 0, 0, 0x7F, 0xFE}));
  EXPECT_EQ(com.written[1], Built({'W', 'R'}));
  EXPECT_EQ(com.written[2], Built({'M', 'Y'}));
  EXPECT_EQ(com.delays, (std::vector<double>{1.0, 4.0, 0.1}));
  EXPECT_EQ(s.gusModemMY, 0x7FFE);
}

}  // namespace
}  // namespace qv::setup
