// A scratch directory per test, removed with everything in it afterwards, and a guarded profile
// read; on POSIX and Windows alike.
#pragma once
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "qvlink/platform/profile.h"

class TempDir {
 public:
  TempDir() {
    const auto name = std::to_string(std::random_device{}()) + "-" + std::to_string(serial_++);
    path_ = (std::filesystem::temp_directory_path() / ("qvplat-" + name)).string();
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const {
    return (std::filesystem::path(path_) / name).string();
  }
  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream(file(name), std::ios::binary) << bytes;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  static inline int serial_ = 0;
  std::string path_;
};

// ReadProfileString into a buffer of bufSize followed by guard bytes: the text read, or a
// marker when the count disagrees with the copy or the guard was touched. The markers start
// with a line break, which no value read from a profile file holds.
inline std::string GuardedRead(const char* section, const char* key, const char* dflt,
                               const std::string& file, uint32_t bufSize = 32) {
  std::string buf(bufSize + 4, '\x7f');
  const uint32_t n =
      qv::platform::ReadProfileString(section, key, dflt, buf.data(), bufSize, file.c_str());
  if (buf.compare(bufSize, 4, "\x7f\x7f\x7f\x7f") != 0) return "\n<overrun>";
  if (bufSize == 0) return n == 0 ? "" : "\n<count>";
  return n < bufSize && buf[n] == '\0' ? buf.substr(0, n) : "\n<count>";
}
