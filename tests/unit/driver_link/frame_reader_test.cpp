#include "frame_reader.h"

#include "link_test_support.h"

using namespace qv::driver;
using namespace qv::driver::test;

namespace {
// A stream handed to the reader piece by piece: each read returns at most what the current
// piece still holds, like bytes that have arrived so far.
class StreamSource : public FrameSource {
 public:
  Bytes bytes;
  size_t pos = 0;
  int purges = 0;
  long read(uint8_t* buf, size_t count, uint32_t) override {
    const size_t n = std::min(count, bytes.size() - pos);
    std::memcpy(buf, bytes.data() + pos, n);
    pos += n;
    return static_cast<long>(n);
  }
  size_t bytesWaiting() override { return bytes.size() - pos; }
  void purge() override {
    ++purges;
    pos = bytes.size();
  }
  void add(const Bytes& b) { bytes.insert(bytes.end(), b.begin(), b.end()); }
};

struct ReaderTest : LinkFixture {
  StreamSource src;
  std::vector<Bytes> Frames() {
    std::vector<Bytes> out;
    uint8_t buf[128];
    uint32_t n = 0;
    while (ByteQueue_Take(d.rxFrameQueue, buf, sizeof buf, n)) out.emplace_back(buf, buf + n);
    return out;
  }
};

const Bytes kA = {0x81, 0x12, 0x34, 0x28, 0x00, 0x01, 0x9F, 0x7E, 0x7D};  // holds 7E and 7D as data
const Bytes kB = {0x89, 0x05, 0x00};
const Bytes kC = {0x88, 0x14, 'D', 'H', 0x00, 0x00, 0x00};
}  // namespace

TEST_F(ReaderTest, MergedFramesEachDeliveredOnceInOrder) {
  src.add(Wire(kA));
  src.add(Wire(kB));
  src.add(Wire(kC));
  EXPECT_TRUE(ReadRadioFrames(d, src));
  EXPECT_EQ(Frames(), (std::vector<Bytes>{Stored(kA), Stored(kB), Stored(kC)}));
  EXPECT_EQ(d.rxFrameCount.load(), 3);
  EXPECT_EQ(d.rxFrameErrorCount.load(), 0);
  EXPECT_EQ(d.events[kEvFrameAvailable]->wait(0), qv::platform::WaitResult::Signalled);
}

TEST_F(ReaderTest, FrameSplitAcrossPassesIsNotQueuedHalf) {
  Bytes w = Wire(kA);
  src.bytes.assign(w.begin(), w.begin() + 5);
  ReadRadioFrames(d, src);  // the data read comes up short: counted, held back
  EXPECT_TRUE(Frames().empty());
  src.add(Bytes(w.begin() + 5, w.end()));
  src.add(Wire(kB));
  ReadRadioFrames(d, src);
  // The split frame is lost once (its start was consumed) but the next frame survives.
  auto f = Frames();
  ASSERT_FALSE(f.empty());
  EXPECT_EQ(f.back(), Stored(kB));
}

TEST_F(ReaderTest, GarbageBeforeDelimiterIsSkippedNotPurged) {
  src.add({0x00, 0x13, 0x11, 0x42});
  src.add(Wire(kA));
  src.add(Wire(kB));
  ReadRadioFrames(d, src);
  EXPECT_EQ(Frames(), (std::vector<Bytes>{Stored(kA), Stored(kB)}));
  EXPECT_EQ(d.rxFrameErrorCount.load(), 1);
}

TEST_F(ReaderTest, BadChecksumDroppedAndNextFrameKept) {
  Bytes bad = Wire(kC);
  bad.back() ^= 0x01;
  src.add(bad);
  src.add(Wire(kB));
  ReadRadioFrames(d, src);
  EXPECT_EQ(Frames(), (std::vector<Bytes>{Stored(kB)}));
  EXPECT_EQ(d.rxFrameErrorCount.load(), 1);
}

TEST_F(ReaderTest, LyingLengthDoesNotSwallowFollowingFrames) {
  Bytes liar = {0x7E, 0x00, 0x40, 0x81, 0x01};  // announces 64 bytes, carries 2
  src.add(liar);
  src.add(Wire(kA));
  src.add(Wire(kB));
  ReadRadioFrames(d, src);
  // Re-synchronising walks into kA and kB again from the bytes held back.
  ReadRadioFrames(d, src);
  auto f = Frames();
  ASSERT_GE(f.size(), 2u);
  EXPECT_EQ(f[f.size() - 2], Stored(kA));
  EXPECT_EQ(f.back(), Stored(kB));
  EXPECT_GE(d.rxFrameErrorCount.load(), 1);
}

TEST_F(ReaderTest, OversizedLengthSkippedAndCounted) {
  src.add({0x7E, 0x01, 0x00, 0x81});
  src.add(Wire(kB));
  ReadRadioFrames(d, src);
  EXPECT_EQ(Frames(), (std::vector<Bytes>{Stored(kB)}));
  // One for the header, one for the run of its bytes skipped up to the next delimiter.
  EXPECT_EQ(d.rxFrameErrorCount.load(), 2);
}

TEST_F(ReaderTest, IdentifierOnlyFrameIsTooShort) {
  src.add({0x7E, 0x00, 0x01, 0x81, 0x7E});
  EXPECT_FALSE(ReadRadioFrames(d, src));
  EXPECT_TRUE(Frames().empty());
  EXPECT_EQ(d.rxFrameErrorCount.load(), 1);
}

TEST_F(ReaderTest, LargestFittingFrame) {
  Bytes big(124, 0x33);
  big[0] = 0x81;
  src.add(Wire(big));
  EXPECT_TRUE(ReadRadioFrames(d, src));
  auto f = Frames();
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0].size(), 127u);
}
