// qvlink-sim as a program: prints its pty, links the COM name, answers, ends on a signal.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "pty_client.h"
#include "qvlink/sim/codec.h"

extern char** environ;

namespace {

// qvlink-sim with its standard output and error read through pipes.
class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    args.insert(args.begin(), QV_SIM_PROGRAM);
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    posix_spawn_file_actions_addclose(&fa, err[0]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    started_ = posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~SimProcess() {
    if (started_ && !exited_) {
      kill(pid_, SIGKILL);
      wait();
    }
    close(out_);
    close(err_);
  }
  pid_t pid() const { return pid_; }
  // The first line of standard output: the pty's path once it serves (empty when it ended).
  std::string firstLine() {
    std::string line;
    char c;
    while (read(out_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  // Exit code (128 + signal when killed); reads the rest of both outputs.
  int wait() {
    int status = 0;
    if (started_ && !exited_ && waitpid(pid_, &status, 0) == pid_) {
      exited_ = true;
      code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return code_;
  }
  std::string rest(bool fromErr) {
    std::string s;
    char b[1024];
    for (ssize_t n; (n = read(fromErr ? err_ : out_, b, sizeof b)) > 0;) s.append(b, static_cast<size_t>(n));
    return s;
  }

 private:
  pid_t pid_ = 0;
  int out_ = -1, err_ = -1;
  bool started_ = false, exited_ = false;
  int code_ = -1;
};

std::string LinkTarget(const std::string& path) {
  char target[256] = {};
  const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace

// A missing or bad option names itself, with exit code 2; --help is no error.
TEST(SimProgram, BadCommandLinesNameTheOption) {
  const std::string more = " (qvlink-sim --help tells every option)\n";
  const struct { std::vector<std::string> args; int code; std::string error; } rows[] = {
      {{"--port-dir", "/tmp"}, 2, "qvlink-sim: --port is required with --port-dir" + more},
      {{"--port", "COM5"}, 2, "qvlink-sim: --port-dir is required with --port" + more},
      {{"--port"}, 2, "qvlink-sim: --port needs a value" + more},
      {{"--channel", "99"}, 2, "qvlink-sim: bad value '99' for --channel" + more},
      {{"--line-baud=x"}, 2, "qvlink-sim: bad value 'x' for --line-baud" + more},
      {{"--bogus"}, 2, "qvlink-sim: unknown option --bogus" + more},
      {{"--no-bus=1"}, 2, "qvlink-sim: --no-bus takes no value" + more},
      {{"--faults", "melt"}, 2, "qvlink-sim: bad fault list 'melt' (qvlink-sim --help tells every fault)\n"},
      {{"--help"}, 0, ""},
  };
  for (const auto& row : rows) {
    SimProcess p(row.args);
    EXPECT_EQ(p.wait(), row.code) << row.args[0];
    EXPECT_EQ(p.rest(true), row.error);
  }
}

// The COM link lives as long as the simulator: removed when it stops, replaced when a killed
// simulator left it, refused while another simulator is serving it.
TEST(SimProgram, PortLinkLivesAsLongAsTheSimulator) {
  char tmpl[] = "/tmp/qvsimlinkXXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl, link = dir + "/COM5";
  setenv("QV_PORT_DIR", dir.c_str(), 1);
  const std::vector<std::string> args{"--port-dir", dir, "--port", "COM5", "--no-bus", "--my", "ABCD"};
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SimProcess p(args);
    const std::string pty = p.firstLine();
    EXPECT_EQ(pty.rfind("/dev/pts/", 0), 0u) << pty;
    ASSERT_EQ(LinkTarget(link), pty) << sig;
    {
      simtest::PortClient client;
      ASSERT_TRUE(client.open("COM5"));
      // The program may not have seen the open yet; ask until it answers.
      std::optional<qv::sim::Bytes> f;
      for (int i = 0; i < 20 && !f; ++i) {
        client.send(qv::sim::encodeAtCommand(0x14, 'M', 'Y'));
        f = client.frame(100);
      }
      EXPECT_EQ(f, qv::sim::encodeAtResponse(0x14, 'M', 'Y', 0, {0xAB, 0xCD})) << sig;
    }
    kill(p.pid(), sig);
    EXPECT_EQ(p.wait(), 0) << sig;
    EXPECT_FALSE(Exists(link)) << sig;
  }
  std::string stalePty;
  {
    SimProcess killed(args);
    stalePty = killed.firstLine();
    kill(killed.pid(), SIGKILL);
    EXPECT_EQ(killed.wait(), 128 + SIGKILL);
  }
  ASSERT_EQ(LinkTarget(link), stalePty);  // left behind
  SimProcess live(args);
  const std::string livePty = live.firstLine();
  ASSERT_FALSE(livePty.empty()) << live.rest(true);
  EXPECT_EQ(LinkTarget(link), livePty);
  {
    SimProcess second(args);
    EXPECT_EQ(second.wait(), 1);
    EXPECT_EQ(second.rest(true), "qvlink-sim: COM5 in " + dir + " is in use by process " + std::to_string(live.pid()) + "\n");
  }
  EXPECT_EQ(LinkTarget(link), livePty);  // untouched
  kill(live.pid(), SIGTERM);
  EXPECT_EQ(live.wait(), 0);
  EXPECT_FALSE(Exists(link));
  EXPECT_EQ(rmdir(dir.c_str()), 0) << "the simulator left files in " << dir;
}
