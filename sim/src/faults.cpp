// Faults each way: where they spoil frames to and from the PC, and the knobs that set them.
#include "simulator_impl.h"

#include <functional>
#include <string>
#include <vector>

namespace qv::sim {

unsigned Simulator::Impl::nextRandom() {
  rng = rng * 1103515245u + 12345u;
  return (rng >> 16) % 100;
}

// The rate draws first; the generator moves only while a rate is set, so its pattern repeats.
bool Simulator::Impl::dropsNext(Faults& f) {
  if (f.dropRate && nextRandom() < f.dropRate) return true;
  if (f.drop) {
    f.drop--;
    return true;
  }
  return false;
}

int Simulator::Impl::copiesOfNext(Faults& f) {
  if (!f.dup) return 1;
  f.dup--;
  return 2;
}

void Simulator::Impl::emitFrame(Bytes frame) {
  Faults& f = faults[static_cast<int>(Dir::ToPc)];
  if (!connected.load()) {
    counters.droppedToPc++;
    return;
  }
  if (dropsNext(f)) {
    counters.droppedToPc++;
    return;
  }
  if (f.corruptN) {
    f.corruptN--;
    corrupt(frame, f.corruption);
  }
  uint32_t due = now();
  if (f.delayN) {
    f.delayN--;
    due += f.delayMs;
  }
  const int copies = copiesOfNext(f);
  for (int i = 0; i < copies; ++i) {
    counters.framesToPc++;
    logFrame(false, frame);
    queueBytes(frame, due);
  }
  notify();
}

void Simulator::Impl::corrupt(Bytes& frame, Corruption c) {
  if (frame.size() < 5) return;
  switch (c) {
    case Corruption::BadChecksum:
      frame.back() = static_cast<uint8_t>(frame.back() + 1);
      break;
    case Corruption::FlippedBit:
      frame[frame.size() - 2] ^= 0x10;
      break;
    case Corruption::LyingLength: {
      const unsigned l = ((unsigned{frame[1]} << 8) | frame[2]) + 2;
      frame[1] = static_cast<uint8_t>(l >> 8);
      frame[2] = static_cast<uint8_t>(l);
      break;
    }
    case Corruption::NoiseBefore:
      frame.insert(frame.begin(), {0x55, 0x00, 0xA5});
      break;
  }
}

void Simulator::Impl::handleBodyFromPc(const Bytes& body) {
  Faults& f = faults[static_cast<int>(Dir::FromPc)];
  if (dropsNext(f)) {
    counters.droppedFromPc++;
    return;
  }
  if (f.corruptN) {
    // A frame spoilt on the way in is one the modem's own check refuses.
    f.corruptN--;
    counters.badFramesFromPc++;
    return;
  }
  if (f.delayN || !delayedIn.empty()) {
    uint32_t due = now();
    if (f.delayN) {
      f.delayN--;
      due += f.delayMs;
    }
    if (!delayedIn.empty()) due = std::max(due, delayedIn.back().due);
    delayedIn.push_back(In{due, body});
    return;
  }
  const int copies = copiesOfNext(f);
  for (int i = 0; i < copies; ++i) modemHandle(body);
}

// ---------------- public face ----------------

void Simulator::dropFrames(Dir d, unsigned n) { QV_SIM_LOCKED; impl_->faults[static_cast<int>(d)].drop = n; }
void Simulator::duplicateFrames(Dir d, unsigned n) { QV_SIM_LOCKED; impl_->faults[static_cast<int>(d)].dup = n; }

void Simulator::delayFrames(Dir d, unsigned n, uint32_t ms) {
  QV_SIM_LOCKED;
  impl_->faults[static_cast<int>(d)].delayN = n;
  impl_->faults[static_cast<int>(d)].delayMs = ms;
}

void Simulator::corruptFrames(Dir d, unsigned n, Corruption c) {
  QV_SIM_LOCKED;
  impl_->faults[static_cast<int>(d)].corruptN = n;
  impl_->faults[static_cast<int>(d)].corruption = c;
}

void Simulator::setDropRate(Dir d, unsigned percent) {
  QV_SIM_LOCKED;
  impl_->faults[static_cast<int>(d)].dropRate = std::min(percent, 100u);
}

void Simulator::setSplitWrites(bool on) { QV_SIM_LOCKED; impl_->split = on; }
void Simulator::failTxStatus(unsigned n) { QV_SIM_LOCKED; impl_->noAck = n; }

void Simulator::clearFaults() {
  QV_SIM_LOCKED;
  impl_->faults[0] = {};
  impl_->faults[1] = {};
  impl_->split = false;
  impl_->noAck = 0;
  impl_->modemAnswers = true;
  impl_->adapter.answering = true;
}

bool Simulator::applyFaults(const std::string& list) {
  struct Item { std::string key; std::vector<std::string> args; };
  std::vector<Item> items;
  size_t pos = 0;
  while (pos <= list.size() && !list.empty()) {
    const size_t comma = std::min(list.find(',', pos), list.size());
    const std::string tok = list.substr(pos, comma - pos);
    pos = comma + 1;
    if (tok.empty()) continue;
    Item it;
    const size_t eq = tok.find('=');
    it.key = tok.substr(0, eq);
    if (eq != std::string::npos) {
      std::string rest = tok.substr(eq + 1);
      size_t p = 0;
      while (p <= rest.size()) {
        const size_t c = std::min(rest.find(':', p), rest.size());
        it.args.push_back(rest.substr(p, c - p));
        p = c + 1;
      }
    }
    items.push_back(it);
  }
  auto num = [](const std::string& s, unsigned& v) {
    if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos) return false;
    v = static_cast<unsigned>(std::stoul(s));
    return true;
  };
  // Validate everything first, so a bad list changes nothing.
  struct Action { std::function<void()> run; };
  std::vector<Action> actions;
  for (const Item& it : items) {
    const auto& a = it.args;
    Dir dir = Dir::ToPc;
    std::vector<std::string> args = a;
    if (!args.empty() && args.back() == "pc") {
      dir = Dir::FromPc;
      args.pop_back();
    }
    unsigned n = 0, ms = 0;
    if (it.key == "drop" && args.size() == 1 && num(args[0], n)) {
      actions.push_back({[=, this] { dropFrames(dir, n); }});
    } else if (it.key == "dup" && args.size() == 1 && num(args[0], n)) {
      actions.push_back({[=, this] { duplicateFrames(dir, n); }});
    } else if (it.key == "delay" && args.size() == 2 && num(args[0], n) && num(args[1], ms)) {
      actions.push_back({[=, this] { delayFrames(dir, n, ms); }});
    } else if (it.key == "corrupt" && (args.size() == 1 || args.size() == 2)) {
      Corruption c;
      if (args[0] == "checksum") c = Corruption::BadChecksum;
      else if (args[0] == "bit") c = Corruption::FlippedBit;
      else if (args[0] == "length") c = Corruption::LyingLength;
      else if (args[0] == "noise") c = Corruption::NoiseBefore;
      else return false;
      n = 1;
      if (args.size() == 2 && !num(args[1], n)) return false;
      actions.push_back({[=, this] { corruptFrames(dir, n, c); }});
    } else if (it.key == "droprate" && args.size() == 1 && num(args[0], n) && n <= 100) {
      actions.push_back({[=, this] { setDropRate(dir, n); }});
    } else if (it.key == "split" && a.empty()) {
      actions.push_back({[this] { setSplitWrites(true); }});
    } else if (it.key == "noack" && args.size() == 1 && num(args[0], n)) {
      actions.push_back({[=, this] { failTxStatus(n); }});
    } else if (it.key == "modem-silent" && a.empty()) {
      actions.push_back({[this] { setModemAnswers(false); }});
    } else if (it.key == "adapter-silent" && a.empty()) {
      actions.push_back({[this] { setAdapterAnswers(false); }});
    } else if (it.key == "late-txstatus" && a.empty()) {
      actions.push_back({[this] { QV_SIM_LOCKED; impl_->cfg.txStatusAfterReply = true; }});
    } else if (it.key == "version-delay" && args.size() == 1 && num(args[0], ms)) {
      actions.push_back({[=, this] { QV_SIM_LOCKED; impl_->cfg.versionReplyDelayMs = ms; }});
    } else if (it.key == "no-version" && a.empty()) {
      actions.push_back({[this] { QV_SIM_LOCKED; impl_->cfg.versionReplies = false; }});
    } else {
      return false;
    }
  }
  for (auto& act : actions) act.run();
  return true;
}

}  // namespace qv::sim
