// qvlink-sim as a program: prints its pty, links the COM name, answers, ends on SIGTERM.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "pty_client.h"
#include "qvlink/sim/codec.h"

extern char** environ;

TEST(SimProgram, ServesTheLinkedPortUntilTerminated) {
  char tmpl[] = "/tmp/qvsimXXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_addclose(&fa, out[0]);
  std::string exe = QV_SIM_PROGRAM;
  std::vector<std::string> args{exe, "--port-dir", dir, "--port", "COM5", "--my", "ABCD", "--no-bus"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), environ), 0);
  close(out[1]);
  // The first line names the pty; reading it is the start-up signal.
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  EXPECT_EQ(line.rfind("/dev/pts/", 0), 0u) << line;
  char target[256] = {};
  ASSERT_GT(readlink((dir + "/COM5").c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), line);

  {
    simtest::PtyClient client(dir + "/COM5");
    ASSERT_TRUE(client.ok());
    // The program may not have seen the open yet; ask until it answers.
    std::optional<qv::sim::Bytes> f;
    for (int i = 0; i < 20 && !f; ++i) {
      client.send(qv::sim::encodeAtCommand(0x14, 'M', 'Y'));
      f = client.readFrame(100);
    }
    EXPECT_EQ(f, qv::sim::encodeAtResponse(0x14, 'M', 'Y', 0, {0xAB, 0xCD}));
  }
  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  close(out[0]);
  unlink((dir + "/COM5").c_str());
  rmdir(dir.c_str());
  posix_spawn_file_actions_destroy(&fa);
}
