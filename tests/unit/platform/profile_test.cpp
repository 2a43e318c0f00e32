// The POSIX profile parser and writer: Win32 private-profile semantics on POSIX files, byte for
// byte, with the files' owners, modes and links kept. What both back ends share is checked by
// the platform contract (tests/integration/platform).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "qvlink/platform/profile.h"
#include "temp_dir.h"

using namespace qv::platform;

namespace {

// A file, the section and key asked for, and a text: the default of a read or the value written.
// Expected: the text read, or the whole file after the write.
struct ProfileCase {
  const char* what;
  const char* file;
  const char* section;
  const char* key;
  const char* text;
  const char* expected;
  uint32_t bufSize = 64;
};

const std::string kLong(5000, 'x');
const std::string kLongLine = "[S]\nbig=" + kLong + "\nafter=ok\n";
const std::string kLongLineEdited = "[S]\nbig=" + kLong + "\nafter=new\n";

const ProfileCase kReadCases[] = {
    {"empty value with blanks", "[Port]\nBaud =   \t\n", "Port", "Baud", "dflt", ""},
    {"CRLF file", "[Port]\r\nBaud=9600\r\nNext=1\r\n", "Port", "Baud", "d", "9600"},
    {"no trailing newline", "[Port]\nBaud=19200", "Port", "Baud", "d", "19200"},
    {"first duplicate key wins", "[P]\nk=first\nk=second\n", "P", "k", "d", "first"},
    {"first duplicate section wins", "[P]\na=1\n[P]\nk=later\n", "P", "k", "d", "d"},
    {"blanks around names and value", "  [ S ]  \n\t Key \t=\t value with  spaces \t\n", "S",
     "Key", "d", "value with  spaces"},
    {"requested names trimmed", "[S]\nKey=v\n", " S ", " Key ", "d", "v"},
    {"value keeps later equals signs", "[S]\nK=a=b\n", "S", "K", "d", "a=b"},
    {"lines without equals ignored", "[S]\nK\nK=v\n", "S", "K", "d", "v"},
    {"comment lines are no keys", "[S]\n;K=comment\n", "S", ";K", "d", "d"},
    {"key of next section not seen", "[A]\n[B]\nK=b\n", "A", "K", "d", "d"},
    {"key before any section not seen", "K=top\n[S]\n", "S", "K", "d", "d"},
    {"quoted value unquoted", "[S]\nK=\"quoted text\"\n", "S", "K", "d", "quoted text"},
    {"single quotes too", "[S]\nK='x'\n", "S", "K", "d", "x"},
    {"unmatched quote kept", "[S]\nK=\"open\n", "S", "K", "d", "\"open"},
    {"bufSize 1 gives empty string", "[S]\nK=abc\n", "S", "K", "d", "", 1},
    {"overlong line read whole", kLongLine.c_str(), "S", "big", "d", kLong.c_str(), 6000},
    {"section without closing bracket", "[S\nK=v\n", "S", "K", "d", "v"},
};

class ProfileRead : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(ProfileRead, CopiesValueOrDefault) {
  const ProfileCase& c = GetParam();
  TempDir dir;
  dir.write("t.ini", c.file);
  EXPECT_EQ(GuardedRead(c.section, c.key, c.text, dir.file("t.ini"), c.bufSize), c.expected)
      << c.what;
}

INSTANTIATE_TEST_SUITE_P(Cases, ProfileRead, ::testing::ValuesIn(kReadCases));

TEST(ProfileReadEdges, DirectoriesAndFifosAreNoProfileFiles) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.file("fifo.ini").c_str(), 0600), 0);
  char buf[8];
  for (const std::string& f : {dir.path(), dir.file("fifo.ini")}) {  // a FIFO must not hang
    EXPECT_EQ(ReadProfileString("S", "K", "dd", buf, sizeof buf, f.c_str()), 2u) << f;
    EXPECT_STREQ(buf, "dd");
  }
}

TEST(ProfilePath, BareNamesGoToTheProfileDirectory) {
  struct Row {
    const char *dir, *name, *path;
  };
  for (const Row& r : {Row{"/srv/qv/", "a.ini", "/srv/qv/a.ini"},
                       Row{nullptr, "a.ini", "/etc/qvlink/a.ini"},
                       Row{"/srv/qv", "./rel/x.ini", "./rel/x.ini"}}) {
    if (r.dir) setenv("QV_PROFILE_DIR", r.dir, 1); else unsetenv("QV_PROFILE_DIR");
    char out[64];
    ASSERT_TRUE(ResolveProfilePath(r.name, out, sizeof out)) << r.name;
    EXPECT_STREQ(out, r.path);
  }
}

const ProfileCase kWriteCases[] = {
    {"replaces in place, keeps comments and order",
     "; head\n[A]\nx=1\n; note\n[S]\nb=2\nK=old\nz=9\n", "S", "K", "new",
     "; head\n[A]\nx=1\n; note\n[S]\nb=2\nK=new\nz=9\n"},
    {"keeps key spelling and spacing", "[S]\n  key  =  old  \n", "s", "KEY", "v",
     "[S]\n  key  =  v\n"},
    {"replaces an empty value", "[S]\nK=\nL=1\n", "S", "K", "v", "[S]\nK=v\nL=1\n"},
    {"keeps CRLF line breaks", "[S]\r\nK=old\r\nL=1\r\n", "S", "K", "v", "[S]\r\nK=v\r\nL=1\r\n"},
    {"first duplicate replaced only", "[S]\nK=1\nK=2\n", "S", "K", "v", "[S]\nK=v\nK=2\n"},
    {"adds key after the section's last key", "[S]\na=1\n\n; next\n[T]\nb=2\n", "S", "K", "v",
     "[S]\na=1\nK=v\n\n; next\n[T]\nb=2\n"},
    {"adds key to an empty section", "[S]\n[T]\n", "S", "K", "v", "[S]\nK=v\n[T]\n"},
    {"adds key with CRLF", "[S]\r\na=1\r\n", "S", "K", "v", "[S]\r\na=1\r\nK=v\r\n"},
    {"adds key after last line without newline", "[S]\na=1", "S", "K", "v", "[S]\na=1\nK=v\n"},
    {"adds section after missing newline", "[A]\nx=1", "S", "K", "v", "[A]\nx=1\n\n[S]\nK=v\n"},
    {"adds section to an empty file", "", "S", "K", "v", "[S]\nK=v\n"},
    {"adds section after a blank last line", "[A]\nx=1\n\n", "S", "K", "v",
     "[A]\nx=1\n\n[S]\nK=v\n"},
    {"null key deletes the section", "[A]\nx=1\n[S]\nK=2\n[B]\ny=3\n", "S", nullptr, nullptr,
     "[A]\nx=1\n[B]\ny=3\n"},
    {"deleting a missing key changes nothing", "[S]\na=1\n", "S", "K", nullptr, "[S]\na=1\n"},
    {"value trimmed", "[S]\nK=1\n", "S", "K", "  v  ", "[S]\nK=v\n"},
    {"overlong line kept byte for byte", kLongLine.c_str(), "S", "after", "new",
     kLongLineEdited.c_str()},
};

class ProfileWrite : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(ProfileWrite, EditsOnlyWhatItMust) {
  const ProfileCase& c = GetParam();
  TempDir dir;
  dir.write("t.ini", c.file);
  ASSERT_TRUE(WriteProfileString(c.section, c.key, c.text, dir.file("t.ini").c_str())) << c.what;
  EXPECT_EQ(dir.read("t.ini"), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Cases, ProfileWrite, ::testing::ValuesIn(kWriteCases));

// Who owns the file and who writes it: "other" is uid/gid 65534, which needs root to set up.
enum class Who { Writer, Other };

struct PermCase {
  const char* what;
  mode_t fileMode;
  Who owner;
  mode_t dirMode;
  bool hardLink;
  bool writerIsOther;  // as root, the write runs in a child that has dropped to 65534
  bool expectOk;
  bool expectSameInode;
};

const PermCase kPermCases[] = {
    {"writable file keeps mode 0600", 0600, Who::Writer, 0755, false, false, true, false},
    {"read-only file is refused", 0444, Who::Writer, 0755, false, false, false, true},
    {"another user's file keeps owner and mode", 0640, Who::Other, 0755, false, false, true, false},
    {"hard-linked file is written in place", 0644, Who::Writer, 0755, true, false, true, true},
    {"file in a read-only directory is written in place", 0644, Who::Writer, 0555, false, true,
     true, true},
    {"file the writer may not write is refused", 0644, Who::Other, 0755, false, true, false, true},
};

class ProfileWritePermissions : public ::testing::TestWithParam<PermCase> {};

TEST_P(ProfileWritePermissions, FollowTheFilesOwnerAndMode) {
  const PermCase& c = GetParam();
  const bool root = geteuid() == 0;
  if (c.owner == Who::Other && !root) GTEST_SKIP() << "needs root to set up another user's file";
  const bool drop = c.writerIsOther && root;
  TempDir dir;
  const std::string before = "[S]\nK=1\n";
  dir.write("t.ini", before);
  const std::string f = dir.file("t.ini");
  if (c.hardLink) {
    ASSERT_EQ(link(f.c_str(), dir.file("other-name.ini").c_str()), 0);
  }
  // The file's owner: 65534 for "other", and also when the writer itself is 65534 and owns it.
  const bool ownedBy65534 = c.owner == Who::Other ? !drop : drop;
  if (ownedBy65534) {
    ASSERT_EQ(chown(f.c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(chmod(f.c_str(), c.fileMode), 0);
  ASSERT_EQ(chmod(dir.path().c_str(), c.dirMode), 0);
  struct stat old {};
  ASSERT_EQ(stat(f.c_str(), &old), 0);

  bool ok = false;
  if (drop) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const bool dropped = setgid(65534) == 0 && setuid(65534) == 0;
      _exit(dropped && WriteProfileString("S", "K", "2", f.c_str()) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  } else {
    ok = WriteProfileString("S", "K", "2", f.c_str());
  }
  chmod(dir.path().c_str(), 0755);

  EXPECT_EQ(ok, c.expectOk) << c.what;
  EXPECT_EQ(dir.read("t.ini"), c.expectOk ? "[S]\nK=2\n" : before) << c.what;
  if (c.hardLink) {
    EXPECT_EQ(dir.read("other-name.ini"), "[S]\nK=2\n") << c.what;
  }
  struct stat now {};
  ASSERT_EQ(stat(f.c_str(), &now), 0);
  EXPECT_EQ(now.st_mode, old.st_mode) << c.what;
  EXPECT_EQ(now.st_uid, old.st_uid) << c.what;
  EXPECT_EQ(now.st_gid, old.st_gid) << c.what;
  EXPECT_EQ(now.st_nlink, old.st_nlink) << c.what;
  if (c.expectSameInode) {
    EXPECT_EQ(now.st_ino, old.st_ino) << c.what;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), c.hardLink ? 2 : 1)
      << c.what << ": a temporary file was left";
}

INSTANTIATE_TEST_SUITE_P(Cases, ProfileWritePermissions, ::testing::ValuesIn(kPermCases));

TEST(ProfileWriteEdges, WritesThroughSymlink) {
  TempDir dir;
  dir.write("real.ini", "[S]\nK=1\n");
  std::filesystem::create_symlink(dir.file("real.ini"), dir.file("link.ini"));
  ASSERT_TRUE(WriteProfileString("S", "K", "2", dir.file("link.ini").c_str()));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.ini")));
  EXPECT_EQ(dir.read("real.ini"), "[S]\nK=2\n");
}

}  // namespace
