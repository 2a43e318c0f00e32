// The PC's radio modem: AT commands, TX requests towards the adapter and RX frames back.
#include "simulator_impl.h"

namespace qv::sim {

namespace {

uint64_t beValue(const Bytes& p) {
  uint64_t v = 0;
  for (uint8_t b : p) v = (v << 8) | b;
  return v;
}

Bytes beBytes(uint64_t v, int n) {
  Bytes out;
  for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return out;
}

}  // namespace

void Simulator::Impl::rfToPc(const Bytes& rf) {
  if (!adapter.powered || !adapter.answering) return;
  if (adapter.channel != modem.channel) return;  // the PC's modem cannot hear it
  counters.rxFramesToPc++;
  if (cfg.rxPacket64)
    emitFrame(encodeRx64(cfg.adapterSerial64, cfg.rssi, 0, rf));
  else
    emitFrame(encodeRx16(cfg.adapterAddress, cfg.rssi, 0, rf));
}

void Simulator::Impl::modemHandle(const Bytes& body) {
  if (!modemAnswers || body.empty()) return;
  if (body[0] == kApiAtCommand && body.size() >= 4)
    handleAt(body);
  else if (body[0] == kApiTxRequest16 && body.size() >= 5)
    handleTxRequest(body);
  notify();
}

void Simulator::Impl::handleAt(const Bytes& body) {
  counters.atCommands++;
  const uint8_t fid = body[1];
  const char c0 = static_cast<char>(body[2]), c1 = static_cast<char>(body[3]);
  const Bytes param = sub(body, 4);
  atLog.push_back(AtCommand{now(), fid, std::string{c0, c1}, param});
  const bool set = !param.empty();
  const uint64_t v = beValue(sub(param, param.size() > 8 ? param.size() - 8 : 0));
  uint8_t status = 0;
  Bytes value;
  const std::string cmd{c0, c1};
  if (cmd == "SH" || cmd == "SL") {
    if (set)
      status = 3;
    else
      value = beBytes(cmd == "SH" ? modem.serial >> 32 : modem.serial & 0xFFFFFFFFu, 4);
  } else if (cmd == "MY") {
    if (set) modem.my = static_cast<uint16_t>(v); else value = beBytes(modem.my, 2);
  } else if (cmd == "CH") {
    if (set) {
      // The driver's range 10..23 must be honoured; the radio's own band ends at 26.
      if (v >= 0x0A && v <= 0x1A) modem.channel = static_cast<uint8_t>(v); else status = 3;
    } else {
      value = beBytes(modem.channel, 1);
    }
  } else if (cmd == "ID") {
    if (set) modem.panId = static_cast<uint16_t>(v); else value = beBytes(modem.panId, 2);
  } else if (cmd == "DH") {
    if (set) modem.dh = static_cast<uint32_t>(v); else value = beBytes(modem.dh, 4);
  } else if (cmd == "DL") {
    if (set) modem.dl = static_cast<uint32_t>(v); else value = beBytes(modem.dl, 4);
  } else if (cmd == "WR") {
    modem.writes++;
  } else if (cmd == "FR") {
    modem.resets++;
  } else {
    status = 2;
  }
  if (fid != 0) {
    counters.atResponses++;
    emitFrame(encodeAtResponse(fid, c0, c1, status, value));
  }
}

void Simulator::Impl::handleTxRequest(const Bytes& body) {
  counters.txRequests++;
  const uint8_t fid = body[1];
  const uint16_t dest = static_cast<uint16_t>((body[2] << 8) | body[3]);
  Bytes rf = sub(body, 5);
  uint8_t status = 0;
  if (noAck) {
    noAck--;
    status = 1;
  } else if (cfg.maxRfPayload && rf.size() > cfg.maxRfPayload) {
    status = 3;
  } else if ((dest != cfg.adapterAddress && dest != 0xFFFF) || !adapter.powered ||
             !adapter.answering || adapter.channel != modem.channel) {
    status = 1;
  }
  rfLog.push_back(RfToAdapter{now(), fid, dest, rf, status == 0});
  const bool late = cfg.txStatusAfterReply && status == 0;
  if (fid != 0 && !late) {
    counters.txStatusSent++;
    emitFrame(encodeTxStatus(fid, status));
  }
  if (status == 0) {
    counters.txDelivered++;
    adapterHandle(rf);
  }
  if (fid != 0 && late) {
    flushBatch();  // what the adapter answered goes first
    counters.txStatusSent++;
    emitFrame(encodeTxStatus(fid, status));
  }
}

}  // namespace qv::sim
