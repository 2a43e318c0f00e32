// Long J1939 messages through the adapter's chunk exchange, from the PC and towards it.
#include "simulator_impl.h"

namespace qv::sim {

void Simulator::Impl::pcChunk(const Bytes& data) {
  if (data.size() < 2 || data[0] == 0) return;
  const size_t n = std::min<size_t>(data[0] - 1u, data.size() - 2);
  const uint8_t f = data[1];
  const int kind = (f >> 4) == 2 ? 1 : (f >> 4) == 1 ? 0 : -1;
  if (kind < 0) return;
  PcLong& l = pcLong[kind];
  const Bytes payload = sub(data, 2, n);
  if ((f & 0x0F) == 0) {
    l = PcLong{};
    l.active = true;
  } else if (!l.active) {
    return;
  }
  l.data.insert(l.data.end(), payload.begin(), payload.end());
  l.running = static_cast<uint8_t>(l.running + payload.size());
  if (!l.announced) return;
  updatePcLongLog(l);
  flushBatch();
  sendStamped(2, kTypeProgress, Bytes{static_cast<uint8_t>(kind ? 32 : 16), l.running});
  if (kind == 0 && !versionFeature()) {
    sendNotice(ctsFrame(l));
  } else {
    sendStamped(2, kTypeProgress, Bytes{static_cast<uint8_t>(kind ? 33 : 17), l.running});
  }
  pcLongMaybeDone(kind);
}

bool Simulator::Impl::versionFeature() const {
  const uint16_t v = cfg.firmwareVersion;
  return (v >= 0x3100 && v < 0x4000) || v >= 0x4100;
}

Bytes Simulator::Impl::tpcmId(uint8_t from, uint8_t to, uint8_t prio) const {
  return encodeJ1939Id(J1939Id{prio, kPgnTpCm, from, to});
}

// The receiver's CTS for the rest of the message, as the adapter forwards it.
std::pair<Bytes, Bytes> Simulator::Impl::ctsFrame(const PcLong& l) const {
  const uint8_t sa = l.id4.size() == 4 ? l.id4[3] : 0, da = l.id4.size() == 4 ? l.id4[2] : 0;
  const uint8_t next = static_cast<uint8_t>(l.data.size() / 7 + 1);
  Bytes cm{17, 7, next, 0xFF, 0xFF, 0, 0, 0};
  if (l.cm8.size() == 8) std::copy(l.cm8.begin() + 5, l.cm8.end(), cm.begin() + 5);
  return {tpcmId(da, sa, 7), cm};
}

void Simulator::Impl::sendNotice(const std::pair<Bytes, Bytes>& f) { j1939Record(kTypeNotice, f.first, f.second); }

void Simulator::Impl::pcAnnouncement(const Bytes& data) {
  if (data.size() < 13 || data[0] < 12) return;
  const Bytes id4 = sub(data, 1, 4), cm8 = sub(data, 5, 8);
  const int kind = cm8[0] == 0x20 ? 1 : cm8[0] == 0x10 ? 0 : -1;
  j1939Record(kTypeEcho, id4, cm8);  // the PC's confirmation of the announcement
  if (kind < 0) return;
  PcLong& l = pcLong[kind];
  if (!l.active) {
    l = PcLong{};
    l.active = true;
  }
  l.announced = true;
  l.id4 = id4;
  l.cm8 = cm8;
  l.size = static_cast<uint16_t>(cm8[1] | (cm8[2] << 8));
  LongMessage rec;
  rec.timeMs = now();
  rec.bam = kind == 1;
  rec.pgn = cm8[5] | (uint32_t{cm8[6]} << 8) | (uint32_t{cm8[7]} << 16);
  rec.sa = id4[3];
  rec.da = id4[2];
  rec.announcedSize = l.size;
  rec.announcedPackets = cm8[3];
  longLog.push_back(rec);
  l.logIndex = longLog.size() - 1;
  updatePcLongLog(l);
  pcLongMaybeDone(kind);
}

void Simulator::Impl::updatePcLongLog(const PcLong& l) {
  if (l.logIndex >= longLog.size()) return;
  LongMessage& rec = longLog[l.logIndex];
  rec.data = sub(l.data, 0, l.size);  // the last chunk's padding is not message data
  rec.complete = l.data.size() >= l.size;
}

void Simulator::Impl::pcLongMaybeDone(int kind) {
  PcLong& l = pcLong[kind];
  if (!l.announced || l.data.size() < l.size) return;
  LongMessage& rec = longLog[l.logIndex];
  J1939Id id{static_cast<uint8_t>((l.id4[0] >> 2) & 7), rec.pgn, rec.sa, rec.da};
  const Bytes msgId = encodeJ1939Id(id);
  if (kind == 0) {
    // The receiver's end-of-message acknowledgement.
    Bytes cm{19, static_cast<uint8_t>(l.size), static_cast<uint8_t>(l.size >> 8),
             l.cm8[3], 0xFF, l.cm8[5], l.cm8[6], l.cm8[7]};
    sendNotice({tpcmId(rec.da, rec.sa, 7), cm});
  }
  pcFrameOnBus(msgId, rec.data);
  l.active = false;
}

void Simulator::Impl::progressReport(const Bytes& data) {
  adapter.progressReports++;
  if (data.empty()) return;
  const int kind = data[0] == 0x20 ? 1 : data[0] == 0x10 ? 0 : -1;
  if (kind < 0) return;
  BusLong& l = busLong[kind];
  if (!l.active) return;
  if (data.size() < 2 || data[1] != static_cast<uint8_t>(l.sent)) adapter.progressMismatches++;
  if (l.sent >= l.data.size()) {
    finishBusLong(kind, true);
    return;
  }
  sendBusChunk(kind);
}

bool Simulator::Impl::startBusLong(int kind, const J1939Id& id, const Bytes& data) {
  if (data.size() < 9 || data.size() > 1785) return false;
  if (busLong[kind].active) {
    if (busLongQueue[kind].size() >= 4) return false;
    busLongQueue[kind].emplace_back(id, data);
    return true;
  }
  if (!adapter.started[2] || !adapter.powered) return false;
  if (!j1939Passes(encodeJ1939Id(id).data())) return true;
  BusLong& l = busLong[kind];
  l = BusLong{};
  l.active = true;
  l.id = id;
  l.data = data;
  const uint16_t size = static_cast<uint16_t>(data.size());
  const uint8_t packets = static_cast<uint8_t>((size + 6) / 7);
  Bytes cm{static_cast<uint8_t>(kind ? 32 : 16), static_cast<uint8_t>(size),
           static_cast<uint8_t>(size >> 8), packets, 0xFF, static_cast<uint8_t>(id.pgn),
           static_cast<uint8_t>(id.pgn >> 8), static_cast<uint8_t>(id.pgn >> 16)};
  sendNotice({tpcmId(id.sa, kind ? 0xFF : id.da, kind ? 7 : 6), cm});
  flushBatch();
  sendBusChunk(kind);
  return true;
}

void Simulator::Impl::sendBusChunk(int kind) {
  BusLong& l = busLong[kind];
  const size_t n = std::min(kChunkPayload, l.data.size() - l.sent);
  Bytes rest{static_cast<uint8_t>(((kind ? 2 : 1) << 4) | l.seq)};
  const Bytes part = sub(l.data, l.sent, n);
  rest.insert(rest.end(), part.begin(), part.end());
  flushBatch();
  sendStamped(2, kTypeChunkOut, rest);
  l.sent += n;
  l.seq = static_cast<uint8_t>((l.seq + 1) & 3);
  l.deadline = now() + cfg.longReportTimeoutMs;
}

void Simulator::Impl::finishBusLong(int kind, bool ok) {
  BusLong& l = busLong[kind];
  l.active = false;
  if (ok) adapter.longFromBusDone++; else adapter.longFromBusAbandoned++;
  if (!busLongQueue[kind].empty()) {
    auto next = busLongQueue[kind].front();
    busLongQueue[kind].pop_front();
    startBusLong(kind, next.first, next.second);
  }
}

// ---------------- public face ----------------

bool Simulator::sendLongFromBus(uint8_t kind, uint32_t pgn, uint8_t sa, uint8_t da, const Bytes& data) {
  QV_SIM_LOCKED;
  const int k = kind == LongKind::Bam ? 1 : 0;
  if (impl_->busLong[k].active || data.size() < 9 || data.size() > 1785) return false;
  return impl_->startBusLong(k, J1939Id{static_cast<uint8_t>(k ? 7 : 6), pgn, sa, k ? uint8_t{0xFF} : da}, data);
}

}  // namespace qv::sim
