// Micro-benchmarks of the receive and transmit building blocks. The line carries 11,520 bytes a
// second, so these are regression figures: the report sets each beside its previous run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "api_frame.h"
#include "byte_queue.h"
#include "context.h"
#include "device_protocol.h"
#include "frame_reader.h"
#include "qvlink/sim/codec.h"

namespace {

using qv::sim::Bytes;
namespace drv = qv::driver;
namespace proto = qv::driver::proto;

// A J1939 batch as the adapter packs it: protocol 02, then records of type 0x94 (marker set),
// each a 4-byte time-stamp key, the 4-byte identifier and 8 data bytes.
Bytes BatchRf(size_t records) {
  Bytes rf{0x02};
  for (size_t i = 0; i < records; ++i) {
    const uint8_t body[16] = {0, 0, 0, static_cast<uint8_t>(i + 1), 0x0C, 0xF0, 0x04, 0x00,
                              0x11, 0x22, 0x7E, 0x7D, 0x55, 0x66, 0x77, 0x88};
    rf.push_back(0x94);
    rf.push_back(sizeof body);
    rf.insert(rf.end(), body, body + sizeof body);
  }
  return rf;
}

// Wire bytes of as many RX frames carrying `records` records each as the frame queue holds at
// once, so every pass stores every frame (a full queue would drop the oldest instead).
Bytes ReceiveStream(size_t records, size_t& frames) {
  const Bytes one = qv::sim::encodeRx16(0x3039, 0x28, 0, BatchRf(records));
  const size_t stored = one.size() - 1;  // the queue keeps the frame without its checksum
  frames = static_cast<size_t>(drv::kByteQueueCapacity - 1) / stored;
  Bytes s;
  for (size_t i = 0; i < frames; ++i) s.insert(s.end(), one.begin(), one.end());
  return s;
}

// The port as the reader sees it when a whole burst has already arrived.
class BufferSource final : public drv::FrameSource {
 public:
  explicit BufferSource(const Bytes& b) : bytes_(b) {}
  void rewind() { pos_ = 0; }
  long read(uint8_t* buf, size_t count, uint32_t) override {
    const size_t n = count < bytes_.size() - pos_ ? count : bytes_.size() - pos_;
    std::memcpy(buf, bytes_.data() + pos_, n);
    pos_ += n;
    return static_cast<long>(n);
  }
  size_t bytesWaiting() override { return bytes_.size() - pos_; }
  void purge() override { pos_ = bytes_.size(); }

 private:
  const Bytes& bytes_;
  size_t pos_ = 0;
};

// ---- Frame reader ----
// Arg: records per frame (1 = a lone message, 5 = a full batch frame of 93 bytes).
void BM_FrameReader(benchmark::State& state) {
  size_t frames = 0;
  const Bytes stream = ReceiveStream(static_cast<size_t>(state.range(0)), frames);
  auto dev = std::make_unique<drv::Device>();  // no events: the reader's wake is a no-op
  BufferSource src(stream);
  for (auto _ : state) {
    src.rewind();
    const bool ok = drv::ReadRadioFrames(*dev, src);
    benchmark::DoNotOptimize(ok);
    drv::ByteQueue_Clear(dev->rxFrameQueue);
  }
  if (dev->rxFrameErrorCount.load() != 0) state.SkipWithError("the reader counted errors on a clean stream");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * frames));
}
BENCHMARK(BM_FrameReader)->Arg(1)->Arg(5);

// ---- Byte queue: one record in, one record out ----
// Arg: record size in bytes.
Bytes Record(size_t size) {
  Bytes r(size, 0xA5);
  r[0] = 0;
  r[1] = static_cast<uint8_t>((size - 3) >> 8);
  r[2] = static_cast<uint8_t>((size - 3) & 0xFF);
  return r;
}

void BM_ByteQueue(benchmark::State& state) {
  const Bytes rec = Record(static_cast<size_t>(state.range(0)));
  auto q = std::make_unique<drv::ByteQueue>();
  drv::ByteQueue_Init(*q);
  uint8_t out[drv::kByteQueueCapacity];
  uint32_t got = 0;
  // A few records stay queued so the indices wrap around the ring as in use.
  for (int i = 0; i < 3; ++i) drv::ByteQueue_Put(*q, rec.data(), rec.size());
  for (auto _ : state) {
    drv::ByteQueue_Put(*q, rec.data(), rec.size());
    const bool ok = drv::ByteQueue_Take(*q, out, sizeof out, got);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(out);
  }
  if (got != rec.size()) state.SkipWithError("record came back with the wrong size");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * rec.size()));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_ByteQueue)->Arg(30)->Arg(128);

// ---- Payload encoders and decoders, per message ----
// Each is measured against its own figure of the previous run.
const uint8_t kData8[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
const uint8_t kJ1939Message[12] = {0x18, 0xEF, 0x00, 0xF9, 1, 2, 3, 4, 5, 6, 7, 8};  // id4 + data8

// The driver's transmit of one 8-byte J1939 message: RF payload, then the TX request frame.
void BM_DriverEncodeJ1939Send(benchmark::State& state) {
  uint8_t rf[proto::kMaxTxPayload];
  uint8_t frame[proto::kMaxOutgoingFrame];
  size_t n = 0;
  for (auto _ : state) {
    const size_t m = proto::EncodeVehicleMessage(rf, sizeof rf, 0x02, kJ1939Message, sizeof kJ1939Message);
    n = proto::BuildTxRequest(frame, sizeof frame, 7, 0x3039, rf, m);
    benchmark::DoNotOptimize(frame);
  }
  state.counters["bytes"] = static_cast<double>(n);
}
BENCHMARK(BM_DriverEncodeJ1939Send);

// One 49-byte chunk of a long message.
void BM_DriverEncodeLongChunk(benchmark::State& state) {
  uint8_t data[1785];
  for (size_t i = 0; i < sizeof data; ++i) data[i] = static_cast<uint8_t>(i);
  uint8_t out[64];
  size_t n = 0;
  for (auto _ : state) {
    n = proto::EncodeLongChunk(out, sizeof out, false, data, sizeof data, 2);
    benchmark::DoNotOptimize(out);
  }
  state.counters["bytes"] = static_cast<double>(n);
}
BENCHMARK(BM_DriverEncodeLongChunk);

// The driver's receive of a 5-record batch frame: head, records split and rebuilt.
void BM_DriverDecodeBatch(benchmark::State& state) {
  const Bytes wire = qv::sim::encodeRx16(0x3039, 0x28, 0, BatchRf(5));
  const Bytes stored(wire.begin(), wire.end() - 1);
  uint8_t entry[proto::kRebuiltHeader + 256];
  size_t records = 0;
  for (auto _ : state) {
    proto::RxHead head{};
    const bool ok = proto::ReadRxHead(stored.data(), stored.size(), head);
    benchmark::DoNotOptimize(ok);
    records = 0;
    proto::ForEachBatchRecord(stored.data(), stored.size(), [&](const proto::BatchRecord& r) {
      benchmark::DoNotOptimize(proto::BuildRebuiltEntry(entry, sizeof entry, r));
      benchmark::DoNotOptimize(entry);
      ++records;
    });
  }
  if (records != 5) state.SkipWithError("batch split into the wrong number of records");
  state.counters["bytes"] = static_cast<double>(5 * (proto::kRebuiltHeader + 16));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * 5));
}
BENCHMARK(BM_DriverDecodeBatch);

// The simulator's side: the adapter's RX frame for one J1939 message, and parsing the PC's
// TX request back into a body.
void BM_SimEncodeRx16(benchmark::State& state) {
  const Bytes rf = BatchRf(1);
  size_t n = 0;
  for (auto _ : state) {
    Bytes f = qv::sim::encodeRx16(0x3039, 0x28, 0, rf);
    n = f.size();
    benchmark::DoNotOptimize(f.data());
  }
  state.counters["bytes"] = static_cast<double>(n);
}
BENCHMARK(BM_SimEncodeRx16);

void BM_SimParseTxRequest(benchmark::State& state) {
  uint8_t rf[proto::kMaxTxPayload];
  uint8_t frame[proto::kMaxOutgoingFrame];
  const size_t m = proto::EncodeVehicleMessage(rf, sizeof rf, 0x02, kJ1939Message, sizeof kJ1939Message);
  const size_t n = proto::BuildTxRequest(frame, sizeof frame, 7, 0x3039, rf, m);
  qv::sim::FrameParser parser;
  size_t got = 0;
  for (auto _ : state) {
    parser.feed(frame, n);
    auto body = parser.next();
    got = body ? body->size() : 0;
    benchmark::DoNotOptimize(got);
  }
  if (got != n - 4) state.SkipWithError("the simulator did not parse the driver's frame");
  state.counters["bytes"] = static_cast<double>(n);
}
BENCHMARK(BM_SimParseTxRequest);

void BM_SimJ1939Id(benchmark::State& state) {
  qv::sim::J1939Id id;
  id.priority = 3;
  id.pgn = 61444;
  id.sa = 0;
  for (auto _ : state) {
    const Bytes four = qv::sim::encodeJ1939Id(id);
    const qv::sim::J1939Id back = qv::sim::decodeJ1939Id(four.data());
    benchmark::DoNotOptimize(back);
  }
  state.counters["bytes"] = 4;
}
BENCHMARK(BM_SimJ1939Id);

}  // namespace

BENCHMARK_MAIN();
