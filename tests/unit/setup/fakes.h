// Test doubles of the setup program's seams (a modem behind a fake serial line, an in-memory
// profile store, a reporter) and the program's state wired to them.
#pragma once
#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "panel.h"
#include "panel_scripted.h"
#include "report.h"
#include "settings_store.h"
#include "setup_flow.h"

namespace qv::setup::test {

using Bytes = std::vector<uint8_t>;

inline Bytes Frame(const Bytes& body) {
  Bytes f = {0x7E, static_cast<uint8_t>(body.size() >> 8), static_cast<uint8_t>(body.size())};
  uint8_t sum = 0;
  for (uint8_t b : body) { f.push_back(b); sum = static_cast<uint8_t>(sum + b); }
  f.push_back(static_cast<uint8_t>(0xFF - sum));
  return f;
}

inline Bytes AtResponse(char c0, char c1, const Bytes& value, uint8_t frameId = 0x53) {
  Bytes body = {0x88, frameId, static_cast<uint8_t>(c0), static_cast<uint8_t>(c1), 0x00};
  body.insert(body.end(), value.begin(), value.end());
  return Frame(body);
}

// The modem on the far side of the fake line.
struct Modem {
  bool present = true;
  uint16_t my = 0x1234;
  uint32_t sl = 0x40A1B2C3;
  uint8_t ch = 0x0C;
  bool answerCh = true;
  bool acceptMy = true;  // false: a set MY is ignored
  uint32_t sh = 0x0013A200;
};

// A serial line with a simple modem model on the far side. Answers are queued when a query
// is written and reach the program through the callback inside ProcessSystemEvents.
class FakeCom final : public ComLink {
 public:
  Modem modem;
  int openResult = 0;

  // What the program did.
  std::vector<Bytes> written;
  std::vector<double> delays;
  int processCalls = 0;
  bool open = false;
  int openedPort = 0;
  int closes = 0;
  std::vector<int> settings;  // of the last open: baud, parity, data and stop bits, queue sizes

  std::deque<uint8_t> rx;  // bytes waiting on the PC side

  int OpenComConfig(int port, const char*, uint32_t baud, int parity, int dataBits, int stopBits,
                    int inQ, int outQ) override {
    settings = {static_cast<int>(baud), parity, dataBits, stopBits, inQ, outQ};
    if (openResult != 0) return openResult;
    open = true;
    openedPort = port;
    return 0;
  }
  int InstallComCallback(int, int mask, int, int, ComCallback cb, void* data) override {
    mask_ = mask;
    cb_ = cb;
    data_ = data;
    return 0;
  }
  int ComWrt(int, const uint8_t* bytes, size_t count) override {
    written.emplace_back(bytes, bytes + count);
    Answer(written.back());
    return static_cast<int>(count);
  }
  int ComRdByte(int) override {
    if (rx.empty()) return -1;
    int b = rx.front();
    rx.pop_front();
    return b;
  }
  int GetInQLen(int) override { return static_cast<int>(rx.size()); }
  int CloseCom(int) override {
    open = false;
    cb_ = nullptr;
    ++closes;
    return 0;
  }
  void Delay(double s) override { delays.push_back(s); }
  void ProcessSystemEvents() override {
    ++processCalls;
    if (open && cb_ && (mask_ & kComEventRxChar) && !rx.empty()) cb_(openedPort, kComEventRxChar, data_);
  }

  void Push(const Bytes& b) { rx.insert(rx.end(), b.begin(), b.end()); }

  // Commands written, as two-letter strings.
  std::vector<std::string> Commands() const {
    std::vector<std::string> out;
    for (const Bytes& f : written)
      if (f.size() >= 7 && f[3] == 0x08) out.push_back(std::string{char(f[5]), char(f[6])});
    return out;
  }

 private:
  void Answer(const Bytes& f) {
    if (!modem.present || f.size() < 8 || f[0] != 0x7E || f[3] != 0x08) return;
    const std::string cmd{char(f[5]), char(f[6])};
    const size_t paramLen = f.size() - 8;
    auto u32 = [](uint32_t v) { return Bytes{uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; };
    if (cmd == "SH") Push(AtResponse('S', 'H', u32(modem.sh)));
    if (cmd == "SL") Push(AtResponse('S', 'L', u32(modem.sl)));
    if (cmd == "MY" && paramLen == 0) Push(AtResponse('M', 'Y', {uint8_t(modem.my >> 8), uint8_t(modem.my)}));
    if (cmd == "MY" && paramLen == 4) {
      if (modem.acceptMy) modem.my = static_cast<uint16_t>(f[9] << 8 | f[10]);
      Push(AtResponse('M', 'Y', {}));
    }
    if (cmd == "CH" && modem.answerCh) Push(AtResponse('C', 'H', {modem.ch}));
    if (cmd == "WR") Push(AtResponse('W', 'R', {}));
  }

  int mask_ = 0;
  ComCallback cb_ = nullptr;
  void* data_ = nullptr;
};

// Profile files in memory: file -> section -> key -> value, plus the order of the writes.
class FakeStore final : public SettingsStore {
 public:
  struct Write {
    std::string file, section, key, value;
  };
  std::map<std::string, std::map<std::string, std::map<std::string, std::string>>> files;
  std::vector<Write> writes;
  std::map<std::string, std::string> env;

  uint32_t ReadString(const char* section, const char* key, char* buf, uint32_t bufSize,
                      const char* fileName) override {
    std::string v;
    if (auto f = files.find(fileName); f != files.end())
      if (auto s = f->second.find(section); s != f->second.end())
        if (auto k = s->second.find(key); k != s->second.end()) v = k->second;
    if (bufSize == 0) return 0;
    size_t n = v.size() < bufSize - 1 ? v.size() : bufSize - 1;
    std::memcpy(buf, v.data(), n);
    buf[n] = '\0';
    return static_cast<uint32_t>(n);
  }
  std::vector<std::string> readOnly;  // files whose writes fail
  bool WriteString(const char* section, const char* key, const char* value,
                   const char* fileName) override {
    if (std::find(readOnly.begin(), readOnly.end(), fileName) != readOnly.end()) return false;
    writes.push_back({fileName, section, key, value});
    files[fileName][section][key] = value;
    return true;
  }
  bool ResolvePath(const char* fileName, char* out, size_t outSize) override {
    const std::string p = std::string(fileName).find('/') == std::string::npos
                              ? std::string("C:\\Windows\\") + fileName
                              : fileName;
    if (p.size() + 1 > outSize) return false;
    std::memcpy(out, p.c_str(), p.size() + 1);
    return true;
  }
  bool FileExists(const char* fileName) override { return files.count(fileName) != 0; }
  bool GetEnv(const char* name, char* out, size_t outSize) override {
    auto it = env.find(name);
    if (it == env.end() || it->second.size() + 1 > outSize) return false;
    std::memcpy(out, it->second.c_str(), it->second.size() + 1);
    return true;
  }
  char sep = '\\';
  char PathSeparator() override { return sep; }
};

// Keeps every line the program said.
class FakeReporter final : public Reporter {
 public:
  std::vector<std::string> progress, failures;
  void Progress(const char* line) override { progress.emplace_back(line); }
  void Failure(const char* line) override { failures.emplace_back(line); }
};

constexpr const char* kWin = "QV121032.ini";  // the Windows copy, as the program names it
constexpr const char* kVirtual = "/home/u/.local/VirtualStore/Windows/QV121032.ini";

// The program's state over the fakes, with the profile keys the tests read and write.
struct Rig {
  FakeCom com;
  FakeStore store;
  ScriptedPanel panel;
  FakeReporter report;
  SetupState s;
  explicit Rig(bool twoDevices = false) {
    s.com = &com;
    s.store = &store;
    s.panel = &panel;
    s.report = &report;
    if (twoDevices) TwoDevices();
  }
  Rig(const Rig&) = delete;
  // Devices 101 and 102 on COM4, neither with a channel.
  void TwoDevices() {
    Devices(kWin, "101,102");
    Params(kWin, 101, "COM4,115200,0,81");
    Params(kWin, 102, "COM4,115200,0,81");
  }
  // A per-user copy kVirtual under LOCALAPPDATA listing device 101, on a system whose paths
  // are cut by '/'.
  void VirtualCopy(const std::string& params) {
    store.sep = '/';
    store.env["LOCALAPPDATA"] = "/home/u/.local";
    Devices(kVirtual, "101");
    Params(kVirtual, 101, params);
  }
  void Devices(const std::string& file, const std::string& list) {
    store.files[file]["VendorInformation"]["Devices"] = list;
  }
  void Params(const std::string& file, int device, const std::string& v) {
    store.files[file]["DeviceInformation" + std::to_string(device)]["DeviceParams"] = v;
  }
  std::string ParamsOf(const std::string& file, int device) {
    return store.files[file]["DeviceInformation" + std::to_string(device)]["DeviceParams"];
  }
  int Launch(std::vector<std::string> args = {}) {
    std::vector<char*> argv = {const_cast<char*>("qvlink-setup")};
    for (auto& a : args) argv.push_back(a.data());
    return RunSetup(s, static_cast<int>(argv.size()), argv.data());
  }
  // All progress lines, for substring checks.
  std::string Said() const {
    std::string out;
    for (const auto& l : report.progress) out += l + "\n";
    return out;
  }
};

}  // namespace qv::setup::test
