// The simulator's lifetime and public face: start and stop, snapshots, waits, scripting.
#include "simulator_impl.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

namespace qv::sim {

Simulator::Impl::Impl(SimConfig c) : cfg(std::move(c)) {
  if (cfg.lineBaud != 0) toPcLine.usPerByte = fromPcLine.usPerByte = 10.0 * 1e6 / cfg.lineBaud;
  modem.serial = cfg.modemSerial;
  modem.my = cfg.modemMy;
  modem.channel = cfg.modemChannel;
  modem.panId = cfg.modemPanId;
  modem.dh = cfg.modemDh;
  modem.dl = cfg.modemDl;
  freshAdapter();
  busTraffic = cfg.busTraffic;
}

uint32_t Simulator::Impl::now() const {
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - t0)
                                   .count());
}

void Simulator::Impl::notify() const {
  {
    std::lock_guard<std::mutex> g(evm);
    const_cast<Impl*>(this)->seq++;
  }
  cv.notify_all();
}

void Simulator::Impl::freshAdapter() {
  const uint32_t cycles = adapter.powerCycles;
  const uint8_t ch = adapter.channel ? adapter.channel : cfg.adapterChannel;
  adapter = AdapterState{};
  adapter.channel = ch;
  adapter.powerCycles = cycles;
  batch.clear();
  heldRf.clear();
  for (auto& l : pcLong) l = PcLong{};
  for (auto& l : busLong) l = BusLong{};
  for (auto& q : busLongQueue) q.clear();
}

uint32_t Simulator::Impl::nextStampKey() {
  lastStamp = std::max(lastStamp + 1, now());
  return lastStamp;
}

// ---------------- public face ----------------

Simulator::Simulator(SimConfig cfg) : impl_(std::make_unique<Impl>(std::move(cfg))) {}

Simulator::~Simulator() { stop(); }

bool Simulator::start() {
  if (impl_->isRunning.load()) return true;
  if (!impl_->pty.open()) return false;
  impl_->stopReq = false;
  impl_->isRunning = true;
  impl_->thread = std::thread([this] { impl_->run(); });
  return true;
}

void Simulator::stop() {
  if (!impl_->isRunning.exchange(false)) return;
  impl_->stopReq = true;
  if (impl_->thread.joinable()) impl_->thread.join();
  impl_->pty.close();
  impl_->notify();
}

bool Simulator::running() const { return impl_->isRunning.load(); }
std::string Simulator::slavePath() const { return impl_->pty.slavePath(); }
bool Simulator::peerConnected() const { return impl_->connected.load(); }
uint32_t Simulator::nowMs() const { return impl_->now(); }

bool Simulator::linkPort(const std::string& dir, const std::string& comName) {
  if (impl_->pty.slavePath().empty()) return false;
  return Pty::makeLink(dir, comName, impl_->pty.slavePath());
}

std::vector<FrameLog> Simulator::frames() const { QV_SIM_LOCKED; return impl_->frameLog; }
size_t Simulator::frameCount() const { QV_SIM_LOCKED; return impl_->frameLog.size(); }
std::vector<RfToAdapter> Simulator::rfToAdapter() const { QV_SIM_LOCKED; return impl_->rfLog; }
std::vector<AtCommand> Simulator::atCommands() const { QV_SIM_LOCKED; return impl_->atLog; }
std::vector<LongMessage> Simulator::longFromPc() const { QV_SIM_LOCKED; return impl_->longLog; }
std::vector<BusFrame> Simulator::busFramesFromPc() const { QV_SIM_LOCKED; return impl_->busLog; }
std::vector<Bytes> Simulator::j1708FromPc() const { QV_SIM_LOCKED; return impl_->j1708Log; }
ModemState Simulator::modemState() const { QV_SIM_LOCKED; return impl_->modem; }
AdapterState Simulator::adapterState() const { QV_SIM_LOCKED; return impl_->adapter; }
Counters Simulator::counters() const { QV_SIM_LOCKED; return impl_->counters; }

void Simulator::clearLogs() {
  QV_SIM_LOCKED;
  impl_->frameLog.clear();
  impl_->rfLog.clear();
  impl_->atLog.clear();
  impl_->longLog.clear();
  impl_->busLog.clear();
  impl_->j1708Log.clear();
  for (auto& l : impl_->pcLong) l.logIndex = SIZE_MAX;
}

bool Simulator::waitFor(const std::function<bool()>& pred, uint32_t timeoutMs) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    uint64_t seen;
    {
      std::lock_guard<std::mutex> g(impl_->evm);
      seen = impl_->seq;
    }
    if (pred()) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    std::unique_lock<std::mutex> lk(impl_->evm);
    impl_->cv.wait_until(lk, std::min(deadline, now + std::chrono::milliseconds(20)),
                         [&] { return impl_->seq != seen; });
  }
}

std::optional<FrameLog> Simulator::waitForFrame(const std::function<bool(const FrameLog&)>& pred,
                                                uint32_t timeoutMs, size_t fromIndex) const {
  std::optional<FrameLog> found;
  size_t next = fromIndex;
  waitFor(
      [&] {
        std::vector<FrameLog> batch;
        {
          QV_SIM_LOCKED;
          for (size_t i = next; i < impl_->frameLog.size(); ++i) batch.push_back(impl_->frameLog[i]);
          next = std::max(next, impl_->frameLog.size());
        }
        for (auto& f : batch)
          if (pred(f)) {
            found = f;
            return true;
          }
        return false;
      },
      timeoutMs);
  return found;
}

int Simulator::apiIdOf(const FrameLog& f) { return f.bytes.size() > 3 ? f.bytes[3] : -1; }

Bytes Simulator::rfOf(const FrameLog& f) {
  const Bytes& b = f.bytes;
  if (b.size() < 5) return {};
  size_t start;
  switch (b[3]) {
    case kApiTxRequest16: start = 8; break;
    case kApiRx16: start = 8; break;
    case kApiRx64: start = 14; break;
    default: return {};
  }
  if (b.size() < start + 1) return {};
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(start), b.end() - 1);
}

void Simulator::sendKeepAlive() {
  QV_SIM_LOCKED;
  if (!impl_->adapter.powered || !impl_->adapter.answering) return;
  impl_->adapter.keepAliveRequests++;
  impl_->rfToPc(Bytes{0x00, static_cast<uint8_t>(kKeepAlive | kMarker)});
}

void Simulator::sendRfToPc(const Bytes& rf) { QV_SIM_LOCKED; impl_->rfToPc(rf); }

void Simulator::sendRawToPc(const Bytes& bytes) {
  QV_SIM_LOCKED;
  impl_->queueBytes(bytes, impl_->now());
  impl_->notify();
}

void Simulator::sendFrameToPc(const Bytes& frame) { QV_SIM_LOCKED; impl_->emitFrame(frame); }

void Simulator::setModemAnswers(bool on) { QV_SIM_LOCKED; impl_->modemAnswers = on; }
void Simulator::setAdapterAnswers(bool on) { QV_SIM_LOCKED; impl_->adapter.answering = on; }

void Simulator::powerLoss() {
  QV_SIM_LOCKED;
  impl_->freshAdapter();
  impl_->adapter.powered = false;
  impl_->adapter.powerCycles++;
  impl_->notify();
}

void Simulator::powerReturn() {
  QV_SIM_LOCKED;
  impl_->adapter.powered = true;
  impl_->notify();
}

void Simulator::setFirmwareVersion(uint16_t v) { QV_SIM_LOCKED; impl_->cfg.firmwareVersion = v; }

}  // namespace qv::sim
