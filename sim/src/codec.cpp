#include "qvlink/sim/codec.h"

#include <initializer_list>

namespace qv::sim {

uint8_t frameChecksum(const uint8_t* body, size_t n) {
  uint8_t sum = 0;
  for (size_t i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + body[i]);
  return static_cast<uint8_t>(0xFF - sum);
}

namespace {
// Head bytes, then the tail. Appended to a reserved vector: GCC 12 at -O3 warns falsely about
// an insert into a vector made from an initializer list.
Bytes Join(std::initializer_list<uint8_t> head, const Bytes& tail) {
  Bytes d;
  d.reserve(head.size() + tail.size());
  d.insert(d.end(), head.begin(), head.end());
  d.insert(d.end(), tail.begin(), tail.end());
  return d;
}
}  // namespace

Bytes encodeFrame(const Bytes& body) {
  Bytes f;
  f.reserve(body.size() + 4);
  f.push_back(0x7E);
  f.push_back(static_cast<uint8_t>(body.size() >> 8));
  f.push_back(static_cast<uint8_t>(body.size()));
  f.insert(f.end(), body.begin(), body.end());
  f.push_back(frameChecksum(body.data(), body.size()));
  return f;
}

Bytes encodeFrame(uint8_t apiId, const Bytes& data) {
  Bytes body;
  body.reserve(data.size() + 1);
  body.push_back(apiId);
  body.insert(body.end(), data.begin(), data.end());
  return encodeFrame(body);
}

Bytes encodeAtResponse(uint8_t frameId, char c0, char c1, uint8_t status, const Bytes& value) {
  return encodeFrame(kApiAtResponse, Join({frameId, static_cast<uint8_t>(c0), static_cast<uint8_t>(c1), status}, value));
}

Bytes encodeTxStatus(uint8_t frameId, uint8_t status) {
  return encodeFrame(kApiTxStatus, Bytes{frameId, status});
}

Bytes encodeRx16(uint16_t source, uint8_t rssi, uint8_t options, const Bytes& rf) {
  return encodeFrame(kApiRx16, Join({static_cast<uint8_t>(source >> 8), static_cast<uint8_t>(source), rssi, options}, rf));
}

Bytes encodeRx64(uint64_t source, uint8_t rssi, uint8_t options, const Bytes& rf) {
  Bytes d;
  for (int s = 56; s >= 0; s -= 8) d.push_back(static_cast<uint8_t>(source >> s));
  d.push_back(rssi);
  d.push_back(options);
  d.insert(d.end(), rf.begin(), rf.end());
  return encodeFrame(kApiRx64, d);
}

Bytes encodeAtCommand(uint8_t frameId, char c0, char c1, const Bytes& param) {
  return encodeFrame(kApiAtCommand, Join({frameId, static_cast<uint8_t>(c0), static_cast<uint8_t>(c1)}, param));
}

Bytes encodeTxRequest(uint8_t frameId, uint16_t dest, const Bytes& rf, uint8_t options) {
  return encodeFrame(kApiTxRequest16, Join({frameId, static_cast<uint8_t>(dest >> 8), static_cast<uint8_t>(dest), options}, rf));
}

void FrameParser::feed(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = p[i];
    switch (state_) {
      case 0:
        if (b == 0x7E) {
          state_ = 1;
        } else {
          ++skippedBytes_;
        }
        break;
      case 1:
        length_ = static_cast<size_t>(b) << 8;
        state_ = 2;
        break;
      case 2:
        length_ |= b;
        body_.clear();
        if (length_ == 0 || length_ > kMaxBody) {
          // A length we cannot hold: hunt for the next delimiter.
          ++oversize_;
          state_ = 0;
        } else {
          state_ = 3;
        }
        break;
      default:
        if (body_.size() < length_) {
          body_.push_back(b);
        } else {
          state_ = 0;
          if (frameChecksum(body_.data(), body_.size()) == b) {
            ready_.push_back(body_);
          } else {
            ++badChecksums_;
          }
        }
        break;
    }
  }
}

std::optional<Bytes> FrameParser::next() {
  if (ready_.empty()) return std::nullopt;
  Bytes b = std::move(ready_.front());
  ready_.erase(ready_.begin());
  return b;
}

Bytes encodeJ1939Id(const J1939Id& id) {
  const uint8_t pf = static_cast<uint8_t>(id.pgn >> 8);
  const uint8_t dp = static_cast<uint8_t>((id.pgn >> 16) & 0x03);
  const uint8_t ps = pf < 240 ? id.da : static_cast<uint8_t>(id.pgn);
  // Data page and EDP share byte 0 with the priority bits 2-4.
  return Bytes{static_cast<uint8_t>(((id.priority & 7) << 2) | dp), pf, ps, id.sa};
}

J1939Id decodeJ1939Id(const uint8_t* four) {
  J1939Id id;
  id.priority = static_cast<uint8_t>((four[0] >> 2) & 7);
  id.pgn = pgnOf(four);
  id.sa = four[3];
  id.da = four[1] < 240 ? four[2] : 0xFF;
  return id;
}

uint32_t pgnOf(const uint8_t* four) {
  const uint32_t dp = four[0] & 0x03u;
  const uint32_t pf = four[1];
  const uint32_t ps = pf >= 240 ? four[2] : 0u;
  return (dp << 16) | (pf << 8) | ps;
}

uint8_t j1708Checksum(const uint8_t* p, size_t n) {
  uint8_t sum = 0;
  for (size_t i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + p[i]);
  return static_cast<uint8_t>(0x100 - sum);
}

void putBe32(Bytes& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

uint32_t getBe32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

}  // namespace qv::sim
