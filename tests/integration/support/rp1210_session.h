// QV121032 loaded the way applications load it (by name, entry points bound by name), over the
// real driver, against the in-process simulator on a pty linked as COM5.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "qvlink/sim/simulator.h"
#include "rp1210_client.h"

namespace qv::test {

namespace fs = std::filesystem;

inline fs::path BinDir() { return fs::read_symlink("/proc/self/exe").parent_path(); }

// Loaded once per process and kept (never unloaded, not even at exit), as an application keeps it.
inline const qv::tools::Rp1210Library& Library(std::string* why = nullptr) {
  static std::string failure;
  static auto* lib = new qv::tools::Rp1210Library;
  static const bool loaded = lib->load("QV121032", &failure);
  if (why != nullptr) *why = loaded ? std::string() : failure;
  return *lib;
}
inline const qv::tools::Rp1210Api& Api() { return Library().api(); }

// PGN and time stamp of a message in the RP1210 J1939 receive layout.
inline uint32_t Pgn(const char* m) {
  return static_cast<uint8_t>(m[4]) | static_cast<uint8_t>(m[5]) << 8 | static_cast<uint8_t>(m[6]) << 16;
}
inline uint32_t TimeStamp(const char* m) {
  return static_cast<uint32_t>(static_cast<uint8_t>(m[0])) << 24 | static_cast<uint32_t>(static_cast<uint8_t>(m[1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(m[2])) << 8 | static_cast<uint8_t>(m[3]);
}

class Rp1210Session : public ::testing::Test {
 protected:
  // Override to change the simulator or the INI before SetUp starts them.
  virtual qv::sim::SimConfig Config() {
    qv::sim::SimConfig cfg;
    cfg.busTraffic = true;
    return cfg;
  }
  virtual std::string IniExtra() { return ""; }

  void SetUp() override {
    if (!fs::exists(BinDir() / "libQV_API.so")) GTEST_SKIP() << "libQV_API.so is not built";
    std::string why;
    ASSERT_TRUE(Library(&why).loaded()) << why;
    dir_ = fs::temp_directory_path() / ("qv-rp1210-" + std::to_string(getpid()));
    fs::create_directories(dir_);
    std::ofstream(dir_ / "QV121032.ini") << "[DeviceInformation1]\nDeviceParams=COM5,115200,12345,81,12\n"
                                            "[Logging]\nLoggingType=0\n"
                                         << IniExtra();
    setenv("QV_PROFILE_DIR", dir_.c_str(), 1);
    setenv("QV_PORT_DIR", dir_.c_str(), 1);
    sim_ = std::make_unique<qv::sim::Simulator>(Config());
    ASSERT_TRUE(sim_->start());
    ASSERT_TRUE(sim_->linkPort(dir_.string(), "COM5"));
  }
  void TearDown() override {
    for (int16_t id : clients_) Api().disconnect(id);
    clients_.clear();
    sim_.reset();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  int16_t Connect(const char* protocol) {
    const int16_t id = Api().connect(nullptr, 1, protocol, 0, 0, 0);
    if (id >= 1 && id <= 10) clients_.push_back(id);
    return id;
  }
  int16_t Disconnect(int16_t id) {
    std::erase(clients_, id);
    return Api().disconnect(id);
  }
  // Reads until a J1939 message of the PGN arrives or the reads run out.
  int ReadPgn(int16_t id, uint32_t pgn, std::vector<char>& out, int attempts = 50) {
    out.assign(2048, 0);
    for (int i = 0; i < attempts; ++i) {
      const int n = Api().read(id, out.data(), static_cast<int16_t>(out.size()), 1);
      if (n > 10 && Pgn(out.data()) == pgn) return n;
    }
    return 0;
  }
  // Sends a global request for a PGN, blocking.
  int16_t Request(int16_t id, uint32_t pgn) {
    const char request[] = {0x00, static_cast<char>(0xEA), 0x00, 0x06, static_cast<char>(0xF9), static_cast<char>(0xFF),
                            static_cast<char>(pgn & 0xFF), static_cast<char>(pgn >> 8 & 0xFF),
                            static_cast<char>(pgn >> 16 & 0xFF)};
    return Api().send(id, request, sizeof request, 0, 1);
  }

  fs::path dir_;
  std::unique_ptr<qv::sim::Simulator> sim_;
  std::vector<int16_t> clients_;
};

}  // namespace qv::test
