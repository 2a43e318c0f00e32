// The adapter's firmware: stamped records and the J1939 batch, commands, options and filters.
#include "simulator_impl.h"

namespace qv::sim {

namespace {

bool entryMatches(const uint8_t* entry, const uint8_t* id, size_t width) {
  for (size_t i = 0; i < width; ++i) {
    const uint8_t mask = entry[width + i];
    if ((id[i] & mask) != (entry[i] & mask)) return false;
  }
  return true;
}

// Pattern/mask list of fixed-width entries; a trailing partial entry is ignored.
bool listPasses(const Bytes& list, const uint8_t* id, size_t width) {
  for (size_t off = 0; off + 2 * width <= list.size(); off += 2 * width)
    if (entryMatches(list.data() + off, id, width)) return true;
  return false;
}

}  // namespace

void Simulator::Impl::sendStamped(uint8_t code, uint8_t type, const Bytes& rest) {
  Bytes rf{code, static_cast<uint8_t>(type | kMarker), static_cast<uint8_t>(4 + rest.size())};
  putBe32(rf, nextStampKey());
  rf.insert(rf.end(), rest.begin(), rest.end());
  rfToPc(rf);
}

size_t Simulator::Impl::rfLimit() const { return cfg.maxRfPayload ? cfg.maxRfPayload : 119; }

void Simulator::Impl::flushBatch() {
  if (batch.empty()) return;
  Bytes rf{2};
  rf.insert(rf.end(), batch.begin(), batch.end());
  batch.clear();
  rfToPc(rf);
}

// One J1939 batch record: type, n, time stamp, identifier, data.
void Simulator::Impl::j1939Record(uint8_t type, const Bytes& id4, const Bytes& data) {
  Bytes rec{static_cast<uint8_t>(type | kMarker), static_cast<uint8_t>(8 + data.size())};
  putBe32(rec, nextStampKey());
  rec.insert(rec.end(), id4.begin(), id4.end());
  rec.insert(rec.end(), data.begin(), data.end());
  if (adapter.packing && cfg.batching) {
    if (!batch.empty() && 1 + batch.size() + rec.size() > rfLimit()) flushBatch();
    if (batch.empty()) batchDue = now() + std::max<uint32_t>(1, adapter.packingValue);
    batch.insert(batch.end(), rec.begin(), rec.end());
    if (1 + batch.size() >= rfLimit()) flushBatch();
  } else {
    Bytes rf{2};
    rf.insert(rf.end(), rec.begin(), rec.end());
    rfToPc(rf);
  }
}

bool Simulator::Impl::j1939Passes(const uint8_t* id4) const {
  if (listPasses(adapter.j1939PassList, id4, 4)) return true;
  if (!adapter.j1939FilterSet) return cfg.j1939PassUntilFiltered;
  return listPasses(adapter.j1939Filters, id4, 4);
}

bool Simulator::Impl::j1708Passes(uint8_t mid) const {
  if (!adapter.j1708FilterSet) return true;
  for (size_t off = 0; off + 6 <= adapter.j1708Filters.size(); off += 6) {
    const uint8_t pat = adapter.j1708Filters[off], mask = adapter.j1708Filters[off + 1];
    if ((mid & mask) == (pat & mask)) return true;
  }
  return false;
}

void Simulator::Impl::adapterHandle(const Bytes& rf) {
  if (rf.size() < 2) return;
  const uint8_t code = rf[0] & 0x7F;
  const bool ack = (rf[0] & 0x80) != 0;
  const uint8_t k = rf[1];
  const Bytes data = sub(rf, 2);
  switch (code) {
    case 0: deviceMessage(k, data); break;
    case 1: j1708Message(k, data); break;
    case 2: j1939Message(k, data); break;
    case 0x10:
      if (k == 33) channelHandOver(data);
      break;
    case 0x20:
    case 0x27: {
      Bytes reply{code, static_cast<uint8_t>(k | kMarker)};
      reply.insert(reply.end(), data.begin(), data.end());
      rfToPc(reply);
      break;
    }
    default: break;
  }
  if (ack) {
    adapter.acksSent++;
    if (code == 2) flushBatch();
    rfToPc(Bytes{code, static_cast<uint8_t>(k | kMarker)});
  }
}

void Simulator::Impl::channelHandOver(const Bytes& data) {
  adapter.command33Count++;
  adapter.command33Data = data;
  if (data.size() >= 5 && data[4] >= 0x0A && data[4] <= 0x1A) adapter.channel = data[4];
}

void Simulator::Impl::option(uint8_t code, const Bytes& data) {
  if (data.empty()) return;
  const uint8_t opt = data[0];
  const uint8_t val = data.size() > 1 ? data[1] : 0;
  const int slot = code <= 2 ? code : 0;
  switch (opt) {
    case 0x10:
      adapter.started[slot] = true;
      if (code == 1) {
        adapter.j1708FilterSet = false;
        adapter.j1708Filters.clear();
      }
      if (code == 2) {
        adapter.j1939FilterSet = false;
        adapter.j1939Filters.clear();
        if (busTraffic) claimDue = now() + 20;
      }
      break;
    case 0x02: adapter.option0201[slot] = val == 0x01; break;
    case 0x01: if (code == 1) adapter.j1708Mode = val; break;
    case 0x05:
      adapter.packing = true;
      adapter.packingValue = val;
      break;
    case 0x09: adapter.rfAck = true; break;
    case 0x11: adapter.transportAddress = val; break;
    default: break;
  }
}

void Simulator::Impl::deviceMessage(uint8_t k, const Bytes& data) {
  switch (k) {
    case 0x1B:
      adapter.versionQueries++;
    {
      Bytes reply{0x00, static_cast<uint8_t>(27 | kMarker)};
      if (cfg.versionReplyRepeatsQuery) reply.push_back(0x1B);
      reply.push_back(static_cast<uint8_t>(cfg.firmwareVersion >> 8));
      reply.push_back(static_cast<uint8_t>(cfg.firmwareVersion));
      if (!cfg.versionReplies) break;
      if (cfg.versionReplyDelayMs != 0)
        heldRf.emplace_back(now() + cfg.versionReplyDelayMs, reply);
      else
        rfToPc(reply);
    }
      break;
    case kKeepAlive: adapter.keepAliveReplies++; break;
    case 0x00:
      if (data.size() >= 10) {
        auto le = [&](size_t i) { return static_cast<uint16_t>(data[i] | (data[i + 1] << 8)); };
        adapter.linkCounters = LinkCounters{le(0), le(2), le(4), le(6), le(8)};
      }
      break;
    case 23: option(0, data); break;
    case 30:
      adapter.command30Count++;
      adapter.command30Data = data;
      break;
    case 33: channelHandOver(data); break;
    default: break;
  }
}

void Simulator::Impl::j1708Message(uint8_t k, const Bytes& data) {
  switch (k) {
    case kTypeVehicle: {
      if (data.empty()) return;
      const Bytes msg = sub(data, 1, data[0]);
      j1708Log.push_back(msg);
      sendStamped(1, kTypeEcho, msg);
      break;
    }
    case 16:
    case 18:
      adapter.filterCommands[1]++;
      adapter.j1708Filters = data;
      adapter.j1708FilterSet = true;
      break;
    case 23: option(1, data); break;
    default: break;
  }
}

void Simulator::Impl::j1939Message(uint8_t k, const Bytes& data) {
  switch (k) {
    case kTypeVehicle: {
      if (data.empty()) return;
      const Bytes msg = sub(data, 1, data[0]);
      if (msg.size() < 4) return;
      const Bytes id4 = sub(msg, 0, 4), payload = sub(msg, 4);
      j1939Record(kTypeEcho, id4, payload);
      pcFrameOnBus(id4, payload);
      break;
    }
    case kTypeChunkIn: pcChunk(data); break;
    case kTypeAnnounce: pcAnnouncement(data); break;
    case 16:
      adapter.filterCommands[2]++;
      adapter.j1939Filters = data;
      adapter.j1939FilterSet = true;
      break;
    case 17: adapter.canFilters = data; break;
    case 24: adapter.j1939PassList = data; break;
    case 23: option(2, data); break;
    case 32: progressReport(data); break;
    default: break;
  }
}

}  // namespace qv::sim
