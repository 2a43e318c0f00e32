// What the setup program tells the person running it besides its panel: progress lines and
// one line per failure. The terminal program prints them; the dialog keeps its single message
// box and leaves them to standard output and error, which only a redirect makes visible.
#pragma once

namespace qv::setup {

class Reporter {
 public:
  virtual ~Reporter() = default;
  // A line of what is happening or what was written (standard output).
  virtual void Progress(const char* line) = 0;
  // A line naming one thing that went wrong (standard error).
  virtual void Failure(const char* line) = 0;
};

// Standard output and standard error, each line flushed at once.
Reporter& StdioReporter();

}  // namespace qv::setup
