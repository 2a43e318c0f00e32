#include <cstdio>

#include "report.h"

namespace qv::setup {

namespace {

class Stdio final : public Reporter {
 public:
  void Progress(const char* line) override {
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  void Failure(const char* line) override {
    // Anything already said on standard output comes first.
    std::fflush(stdout);
    std::fprintf(stderr, "qvlink-setup: %s\n", line);
    std::fflush(stderr);
  }
};

}  // namespace

Reporter& StdioReporter() {
  static Stdio reporter;
  return reporter;
}

}  // namespace qv::setup
