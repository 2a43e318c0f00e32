// The scripted vehicle bus: ECU traffic, answers to requests, frames to and from the PC.
#include "simulator_impl.h"

namespace qv::sim {

void Simulator::Impl::busToPc(const Bytes& id4, const Bytes& data) {
  if (!adapter.powered || !adapter.started[2]) return;
  if (!j1939Passes(id4.data())) return;
  counters.busFramesToPc++;
  j1939Record(kTypeVehicle, id4, data);
}

void Simulator::Impl::busJ1939(uint8_t prio, uint32_t pgn, uint8_t sa, uint8_t da, const Bytes& data) {
  if (data.size() > 8) {
    startBusLong(da == 0xFF || ((pgn >> 8) & 0xFF) >= 240 ? 1 : 0, J1939Id{prio, pgn, sa, da}, data);
    return;
  }
  busToPc(encodeJ1939Id(J1939Id{prio, pgn, sa, da}), data);
}

void Simulator::Impl::busJ1708(const Bytes& msg) {
  if (!adapter.powered || !adapter.started[1] || msg.empty()) return;
  if (!j1708Passes(msg[0])) return;
  counters.j1708ToPc++;
  sendStamped(1, kTypeVehicle, msg);
}

void Simulator::Impl::pcFrameOnBus(const Bytes& id4, const Bytes& data) {
  const J1939Id id = decodeJ1939Id(id4.data());
  busLog.push_back(BusFrame{now(), id, data});
  if (id.pgn == kPgnRequest && data.size() >= 3 &&
      (id.da == 0xFF || id.da == cfg.engineAddress)) {
    const uint32_t want = data[0] | (uint32_t{data[1]} << 8) | (uint32_t{data[2]} << 16);
    answerRequest(want);
  }
}

void Simulator::Impl::answerRequest(uint32_t pgn) {
  const uint8_t e = cfg.engineAddress;
  switch (pgn) {
    case kPgnVin: {
      Bytes vin(cfg.vin.begin(), cfg.vin.end());
      vin.push_back('*');
      busJ1939(6, kPgnVin, e, 0xFF, vin);
      break;
    }
    case kPgnClaim: busJ1939(6, kPgnClaim, e, 0xFF, engineName()); break;
    case kPgnEec1: busJ1939(3, kPgnEec1, e, 0xFF, eec1()); break;
    case kPgnCcvs: busJ1939(6, kPgnCcvs, e, 0xFF, ccvs()); break;
    case kPgnDm1: busJ1939(6, kPgnDm1, e, 0xFF, dm1()); break;
    default: break;
  }
}

Bytes Simulator::Impl::engineName() { return Bytes{0x01, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x80}; }

// Triangle wave 0..1000 over `period` ms.
uint32_t Simulator::Impl::wave(uint32_t period) const {
  const uint32_t p = now() % period;
  return p < period / 2 ? p * 2000 / period : (period - p) * 2000 / period;
}

uint32_t Simulator::Impl::rpm() const { return 800 + wave(20000) * 1200 / 1000; }

uint32_t Simulator::Impl::kmh() const { return wave(30000) * 90 / 1000; }

Bytes Simulator::Impl::eec1() const {
  const uint32_t raw = rpm() * 8;  // 0.125 rpm per bit
  return Bytes{0xF0, 0x7D, 0x7D, static_cast<uint8_t>(raw), static_cast<uint8_t>(raw >> 8),
               0x00, 0xFF, 0x7D};
}

Bytes Simulator::Impl::ccvs() const {
  const uint32_t raw = kmh() * 256;
  return Bytes{0xFF, static_cast<uint8_t>(raw), static_cast<uint8_t>(raw >> 8),
               0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
}

Bytes Simulator::Impl::dm1() {
  // Amber lamp on; SPN 100 FMI 1 and SPN 110 FMI 0, each seen once or twice.
  return Bytes{0x04, 0xFF, 0x64, 0x00, 0x01, 0x01, 0x6E, 0x00, 0x00, 0x02};
}

Bytes Simulator::Impl::j1708Engine() const {
  const uint32_t r = rpm() * 4;                 // 0.25 rpm per bit
  const uint32_t s = kmh() * 1000 / 805;        // 0.805 km/h per bit
  Bytes msg{128, 190, static_cast<uint8_t>(r), static_cast<uint8_t>(r >> 8), 84,
            static_cast<uint8_t>(std::min<uint32_t>(s, 255))};
  msg.push_back(j1708Checksum(msg.data(), msg.size()));
  return msg;
}

// ---------------- public face ----------------

void Simulator::injectBusJ1939(uint8_t prio, uint32_t pgn, uint8_t sa, uint8_t da, const Bytes& data) {
  QV_SIM_LOCKED;
  impl_->busJ1939(prio, pgn, sa, da, data);
}

void Simulator::injectBusCan(bool extended, uint32_t id, const Bytes& data) {
  QV_SIM_LOCKED;
  Bytes id4;
  if (extended)
    id4 = Bytes{static_cast<uint8_t>((id >> 24) & 0x1F), static_cast<uint8_t>(id >> 16),
                static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)};
  else
    id4 = Bytes{0x80, 0x00, static_cast<uint8_t>((id >> 8) & 0x07), static_cast<uint8_t>(id)};
  impl_->busToPc(id4, sub(data, 0, 8));
}

void Simulator::injectBusJ1708(const Bytes& message) {
  QV_SIM_LOCKED;
  impl_->busJ1708(message);
}

void Simulator::setBusTraffic(bool on) {
  QV_SIM_LOCKED;
  impl_->busTraffic = on;
  if (on && impl_->adapter.started[2]) impl_->claimDue = impl_->now() + 1;
}

}  // namespace qv::sim
