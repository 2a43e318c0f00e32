// The serial line: its pacing, the output queue, and the service thread that reads, times and writes.
#include "simulator_impl.h"

#include <cstdio>

namespace qv::sim {

namespace {

std::string hex(const Bytes& b) {
  std::string s;
  char t[4];
  for (uint8_t x : b) {
    std::snprintf(t, sizeof t, "%02X ", x);
    s += t;
  }
  return s;
}

}  // namespace

// One direction of a paced line: see LinePacer.
size_t Simulator::Impl::LinePacer::take(size_t want, Clock::time_point since) {
  if (usPerByte == 0 || want == 0) return want;
  const Clock::time_point begin = std::max(since, freeAt);
  const double us = static_cast<double>(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begin).count());
  if (us < usPerByte) return 0;
  const size_t n = std::min(want, static_cast<size_t>(us / usPerByte));
  freeAt = begin + std::chrono::microseconds(static_cast<int64_t>(static_cast<double>(n) * usPerByte));
  return n;
}

long Simulator::Impl::microsToNextPacedByte() const {
  using std::chrono::microseconds;
  const auto now = LinePacer::Clock::now();
  auto next = now + std::chrono::milliseconds(1);
  // One microsecond past the byte's end, so the pacer finds it whole when the wait ends.
  auto byteAfter = [](const LinePacer& line, LinePacer::Clock::time_point since) {
    return std::max(since, line.freeAt) + microseconds(static_cast<int64_t>(line.usPerByte) + 1);
  };
  if (!unreadFromPc.empty()) next = std::min(next, byteAfter(fromPcLine, unreadSince));
  if (!out.empty()) {
    const Out& o = out.front();
    next = std::min(next, byteAfter(toPcLine, std::max(o.queuedAt, t0 + std::chrono::milliseconds(o.due))));
  }
  return std::max<long>(0, static_cast<long>(std::chrono::duration_cast<microseconds>(next - now).count()));
}

void Simulator::Impl::logFrame(bool fromPc, const Bytes& bytes) {
  frameLog.push_back(FrameLog{now(), fromPc, bytes});
  if (cfg.verbose) std::fprintf(stderr, "[%6u] %s %s\n", now(), fromPc ? "PC>" : "PC<", hex(bytes).c_str());
}

void Simulator::Impl::queueBytes(Bytes bytes, uint32_t due) {
  if (!connected.load()) {
    counters.droppedToPc++;
    return;
  }
  if (out.size() >= kMaxQueuedOut) {
    counters.droppedToPc++;
    return;
  }
  if (!out.empty()) due = std::max(due, out.back().due);  // the line is first in, first out
  out.push_back(Out{due, std::move(bytes), 0});
}

void Simulator::Impl::flushOutput() {
  const uint32_t t = now();
  while (!out.empty() && out.front().due <= t) {
    Out& o = out.front();
    if (split) {
      // One byte per write, about one serial byte time apart, so the reader sees pieces.
      while (o.done < o.bytes.size()) {
        if (pty.write(&o.bytes[o.done], 1) != 1) return;
        o.done++;
        Pty::pauseMicros(90);
      }
    } else {
      while (o.done < o.bytes.size()) {
        const auto ready = std::max(o.queuedAt, t0 + std::chrono::milliseconds(o.due));
        const size_t allowed = toPcLine.take(o.bytes.size() - o.done, ready);
        if (allowed == 0) return;  // the rest once the line has carried it
        const size_t w = pty.write(o.bytes.data() + o.done, allowed);
        if (w == 0) return;
        o.done += w;
      }
    }
    out.pop_front();
  }
}

void Simulator::Impl::runTimers() {
  const uint32_t t = now();
  while (!delayedIn.empty() && delayedIn.front().due <= t) {
    const Bytes body = delayedIn.front().body;
    delayedIn.pop_front();
    modemHandle(body);
  }
  while (!heldRf.empty() && heldRf.front().first <= t) {
    const Bytes rf = heldRf.front().second;
    heldRf.pop_front();
    rfToPc(rf);
  }
  if (!batch.empty() && t >= batchDue) flushBatch();
  for (int kind = 0; kind < 2; ++kind)
    if (busLong[kind].active && t >= busLong[kind].deadline)
      finishBusLong(kind, busLong[kind].sent >= busLong[kind].data.size());
  if (cfg.keepAliveIntervalMs && t >= nextKeepAlive) {
    nextKeepAlive = t + cfg.keepAliveIntervalMs;
    if (adapter.powered && adapter.answering) {
      adapter.keepAliveRequests++;
      rfToPc(Bytes{0x00, static_cast<uint8_t>(kKeepAlive | kMarker)});
    }
  }
  if (claimDue && t >= claimDue) {
    claimDue = 0;
    busJ1939(6, kPgnClaim, cfg.engineAddress, 0xFF, engineName());
  }
  if (!busTraffic) return;
  if (t >= nextFast) {
    nextFast = t + 100;
    busJ1939(3, kPgnEec1, cfg.engineAddress, 0xFF, eec1());
    busJ1939(6, kPgnCcvs, cfg.engineAddress, 0xFF, ccvs());
    busJ1708(j1708Engine());
  }
  if (t >= nextDm1) {
    nextDm1 = t + 1000;
    if (!busLong[1].active) busJ1939(6, kPgnDm1, cfg.engineAddress, 0xFF, dm1());
  }
}

void Simulator::Impl::run() {
  uint8_t buf[4096];
  while (!stopReq.load()) {
    bool wantWrite;
    long waitMicros = 2000;
    {
      std::lock_guard<std::mutex> g(m);
      wantWrite = !out.empty();
      if (cfg.lineBaud != 0 && (wantWrite || !unreadFromPc.empty())) {
        // A paced line sleeps until its next byte has crossed, instead of spinning on a writable pty.
        waitMicros = microsToNextPacedByte();
        wantWrite = false;
      }
    }
    const Pty::Ready r = pty.wait(waitMicros, wantWrite);
    if (r.hangup && !r.readable) {
      if (connected.exchange(false)) {
        std::lock_guard<std::mutex> g(m);
        counters.droppedToPc += static_cast<uint32_t>(out.size());
        out.clear();
        parser = FrameParser{};
        parserBadSeen = 0;
        notify();
      }
      Pty::pauseMicros(2000);  // a hung-up master polls ready at once
    } else if (!connected.exchange(true)) {
      notify();
    }
    // A paced line leaves what it has not carried yet in the pty, as a UART's buffer would.
    const bool roomToRead = cfg.lineBaud == 0 || unreadFromPc.size() < kUnreadCap;
    if (r.readable && !roomToRead) Pty::pauseMicros(1000);
    size_t n = r.readable && roomToRead ? pty.read(buf, sizeof buf) : 0;
    std::lock_guard<std::mutex> g(m);
    if (cfg.lineBaud != 0) {
      if (unreadFromPc.empty()) unreadSince = std::chrono::steady_clock::now();
      unreadFromPc.insert(unreadFromPc.end(), buf, buf + n);
      n = fromPcLine.take(std::min(unreadFromPc.size(), sizeof buf), unreadSince);
      std::copy_n(unreadFromPc.begin(), n, buf);
      unreadFromPc.erase(unreadFromPc.begin(), unreadFromPc.begin() + static_cast<std::ptrdiff_t>(n));
    }
    if (n) {
      parser.feed(buf, n);
      while (auto body = parser.next()) {
        counters.framesFromPc++;
        logFrame(true, encodeFrame(*body));
        handleBodyFromPc(*body);
      }
      const uint32_t bad = parser.badChecksums() + parser.oversize() + parser.skippedBytes();
      if (bad != parserBadSeen) {
        counters.badFramesFromPc += bad - parserBadSeen;
        parserBadSeen = bad;
      }
      notify();
    }
    runTimers();
    flushOutput();
  }
}

}  // namespace qv::sim
