// What real machines do to the files being signed: links, owners and attributes, special
// files, truncated images, long names, read-only directories, full and read-only disks. Each
// case signs a real file with the CLI and checks the file, the row text and that nothing was
// left behind.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "base/file_publish.h"
#include "fixtures/cabinets.h"
#include "fixtures/fault_workspace.h"
#include "fixtures/pe_images.h"
#include "fixtures/temp_dir.h"

namespace corvane {
namespace {

using test::CommandResult;
using test::FaultWorkspace;

constexpr char kNotAFile[] = "Error:Not a file (a folder, pipe, socket or device)";

bool IsRoot() { return ::geteuid() == 0; }

struct stat Lstat(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st;
}

std::string Xattr(const std::string& path, const char* name) {
  char value[4096];
  ssize_t n = ::getxattr(path.c_str(), name, value, sizeof value);
  return n < 0 ? std::string("<none>") : std::string(value, static_cast<std::size_t>(n));
}

// An access ACL in the kernel's xattr form: owner rwx, user 1000 r-x, group r-x, mask r-x,
// others --x (the mode 0751).
std::string AccessAcl() {
  struct Entry {
    std::uint16_t tag, perm;
    std::uint32_t id;
  };
  const std::uint32_t version = 2;
  const Entry entries[] = {{0x01, 7, 0xFFFFFFFF},
                           {0x02, 5, 1000},
                           {0x04, 5, 0xFFFFFFFF},
                           {0x10, 5, 0xFFFFFFFF},
                           {0x20, 1, 0xFFFFFFFF}};
  std::string acl(reinterpret_cast<const char*>(&version), sizeof version);
  acl.append(reinterpret_cast<const char*>(entries), sizeof entries);
  return acl;
}

struct PathCase {
  const char* name;
  // Makes the file (or whatever stands at the path) and returns the path to sign.
  std::function<std::string(FaultWorkspace&)> setup;
  std::string line;  // what the CLI prints after "<path>: "
  // Checks what the signing did; the path, and the bytes the file had before.
  std::function<void(FaultWorkspace&, const std::string&, const std::string&)> check;
  bool rootOnly = false;
};

void Unchanged(FaultWorkspace&, const std::string& path, const std::string& before) {
  EXPECT_EQ(test::ReadFileBytes(path), before);
}

void Signed(FaultWorkspace& w, const std::string& path, const std::string&) {
  EXPECT_EQ(w.env().OsslVerify(path), 0);
}

std::string Image(FaultWorkspace& w, const std::string& name) {
  std::string path = w / name;
  test::WriteFileBytes(path, test::ReadFileBytes(test::TestImagePath("console-x64.exe")));
  return path;
}

const PathCase kPathCases[] = {
    {"symbolic link: the target is signed, the link stays",
     [](FaultWorkspace& w) {
       Image(w, "target.exe");
       ::symlink("target.exe", (w / "link.exe").c_str());
       return w / "link.exe";
     },
     "Complete",
     [](FaultWorkspace& w, const std::string& path, const std::string&) {
       EXPECT_TRUE(S_ISLNK(Lstat(path).st_mode));
       char target[64] = {};
       EXPECT_EQ(::readlink(path.c_str(), target, sizeof target - 1), 10);
       EXPECT_STREQ(target, "target.exe");
       EXPECT_EQ(w.env().OsslVerify(w / "target.exe"), 0);
     }},
    {"two hard links: both names see the signed file",
     [](FaultWorkspace& w) {
       std::string a = Image(w, "a.exe");
       ::link(a.c_str(), (w / "b.exe").c_str());
       return a;
     },
     "Complete",
     [](FaultWorkspace& w, const std::string& path, const std::string&) {
       EXPECT_EQ(Lstat(path).st_ino, Lstat(w / "b.exe").st_ino);
       EXPECT_EQ(Lstat(path).st_nlink, 2u);
       EXPECT_EQ(w.env().OsslVerify(w / "b.exe"), 0);
     }},
    {"another user's file: owner, group, mode, xattrs and ACL kept",
     [](FaultWorkspace& w) {
       std::string path = Image(w, "owned.exe");
       EXPECT_EQ(::chown(path.c_str(), 1234, 5678), 0);
       EXPECT_EQ(::chmod(path.c_str(), 0751), 0);
       EXPECT_EQ(::setxattr(path.c_str(), "user.origin", "build 7", 7, 0), 0);
       const std::string acl = AccessAcl();
       EXPECT_EQ(::setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0), 0)
           << std::strerror(errno);
       return path;
     },
     "Complete",
     [](FaultWorkspace& w, const std::string& path, const std::string& before) {
       Signed(w, path, before);
       struct stat st = Lstat(path);
       EXPECT_EQ(st.st_uid, 1234u);
       EXPECT_EQ(st.st_gid, 5678u);
       EXPECT_EQ(st.st_mode & 07777, 0751u);
       EXPECT_EQ(Xattr(path, "user.origin"), "build 7");
       EXPECT_EQ(Xattr(path, "system.posix_acl_access"), AccessAcl());
     },
     /*rootOnly=*/true},
    {"FIFO named like a program: refused at once",
     [](FaultWorkspace& w) {
       ::mkfifo((w / "x.exe").c_str(), 0644);
       return w / "x.exe";
     },
     kNotAFile,
     [](FaultWorkspace&, const std::string& path, const std::string&) {
       EXPECT_TRUE(S_ISFIFO(Lstat(path).st_mode));
     }},
    {"directory named like a program",
     [](FaultWorkspace& w) {
       ::mkdir((w / "dir.exe").c_str(), 0755);
       return w / "dir.exe";
     },
     kNotAFile,
     [](FaultWorkspace&, const std::string& path, const std::string&) {
       EXPECT_TRUE(S_ISDIR(Lstat(path).st_mode));
     }},
    {"socket named like a program",
     [](FaultWorkspace& w) {
       int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
       sockaddr_un address{};
       address.sun_family = AF_UNIX;
       std::string path = w / "s.exe";
       std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
       EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
       ::close(fd);
       return path;
     },
     kNotAFile,
     [](FaultWorkspace&, const std::string& path, const std::string&) {
       EXPECT_TRUE(S_ISSOCK(Lstat(path).st_mode));
     }},
    {"device named like a program",
     [](FaultWorkspace& w) {
       std::string path = w / "null.exe";
       if (IsRoot())
         ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3));
       else
         ::symlink("/dev/null", path.c_str());
       return path;
     },
     kNotAFile,
     [](FaultWorkspace&, const std::string& path, const std::string&) {
       struct stat st {};
       ::stat(path.c_str(), &st);
       EXPECT_TRUE(S_ISCHR(st.st_mode));
     }},
    {"truncated image: refused as damaged",
     [](FaultWorkspace& w) {
       std::string path = Image(w, "cut.exe");
       std::string bytes = test::ReadFileBytes(path);
       test::WriteFileBytes(path, bytes.substr(0, bytes.size() - 700));
       return path;
     },
     "Error:The file is damaged", Unchanged},
    {"name at the 255-byte limit",
     [](FaultWorkspace& w) { return Image(w, std::string(251, 'n') + ".exe"); }, "Complete",
     Signed},
    {"cabinet name at the 255-byte limit (a named working copy)",
     [](FaultWorkspace& w) {
       std::string member = w.tmp() + "/member.txt";
       test::WriteFileBytes(member, test::PatternBytes(5000, 3));
       std::string cab = w / (std::string(251, 'c') + ".cab");
       test::Gcab(cab, {member}, false);
       ::unlink(member.c_str());
       return cab;
     },
     "Complete", Signed},
};

class FaultSuite : public ::testing::TestWithParam<PathCase> {};

TEST_P(FaultSuite, SignsOrRefusesAndLeavesNothingBehind) {
  const PathCase& c = GetParam();
  if (c.rootOnly && !IsRoot()) GTEST_SKIP() << "needs root";
  FaultWorkspace w;
  const std::string path = c.setup(w);
  std::set<std::string> names;
  for (const std::string& left : FaultWorkspace::LeftoversIn(w.work(), {}))
    names.insert(left.substr(w.work().size() + 1));
  struct stat st {};
  const std::string before =
      ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? test::ReadFileBytes(path) : "";

  bool timedOut = false;
  CommandResult r = w.Sign({path}, {}, {}, std::chrono::seconds(60), &timedOut);
  EXPECT_FALSE(timedOut) << "the signing did not end";
  EXPECT_EQ(r.out, path + ": " + c.line + "\n") << r.err;
  EXPECT_EQ(r.exitStatus, c.line == "Complete" ? 0 : 1);
  c.check(w, path, before);
  EXPECT_EQ(w.Leftovers(names), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Paths, FaultSuite, ::testing::ValuesIn(kPathCases),
                         [](const ::testing::TestParamInfo<PathCase>& param) {
                           std::string name;
                           for (const char* p = param.param.name; *p && *p != ':'; ++p)
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

// A directory the signing user may not write to, holding a file the user may write: the
// working copy goes to the temporary directory and the signed bytes come back into the file.
TEST(FaultSuiteDirectories, ReadOnlyDirectoryWithAWritableFile) {
  FaultWorkspace w;
  std::string dir = w / "locked";
  ::mkdir(dir.c_str(), 0755);
  std::string path = Image(w, "locked/app.exe");
  std::vector<std::string> prefix;
  std::string pfx = w.env().rootA().pfxPath;
  if (IsRoot()) {
    // Root writes anywhere: sign as an ordinary user instead.
    for (const std::string& p : {w.env().dir().path(), w.work(), dir})
      ASSERT_EQ(::chmod(p.c_str(), 0755), 0);
    std::string readable = w.tmp() + "/../signer.pfx";
    test::WriteFileBytes(readable, test::ReadFileBytes(pfx));
    ::chmod(readable.c_str(), 0644);
    pfx = readable;
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(w.env().dir().path().c_str(), 0777), 0);
    prefix = {"--reuid=65534", "--regid=65534", "--clear-groups", CORVANE_CLI_PATH};
  }
  ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);
  std::vector<std::string> args = prefix;
  for (const char* a : {"sign", "--pfx"}) args.push_back(a);
  args.push_back(pfx);
  args.push_back(path);
  test::BackgroundCommand command(IsRoot() ? "/usr/bin/setpriv" : CORVANE_CLI_PATH, args,
                                  w.CliEnv());
  CommandResult r = command.WaitAtMost(std::chrono::seconds(60));
  ::chmod(dir.c_str(), 0755);
  EXPECT_EQ(r.out, path + ": Complete\n") << r.err;
  EXPECT_EQ(w.env().OsslVerify(path), 0);
  EXPECT_EQ(FaultWorkspace::LeftoversIn(dir, {"app.exe"}), std::vector<std::string>{});
  EXPECT_EQ(w.Leftovers({"locked"}), std::vector<std::string>{});
  ::unlink((w.tmp() + "/../signer.pfx").c_str());
}

// A small file system of its own, mounted for the test (root only).
class SmallDisk {
 public:
  explicit SmallDisk(const std::string& dir) : dir_(dir) {
    ::mkdir(dir.c_str(), 0755);
    mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=4m,mode=0755") == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    ::rmdir(dir_.c_str());
  }
  bool mounted() const { return mounted_; }
  bool MakeReadOnly() {
    return ::mount(nullptr, dir_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }

 private:
  std::string dir_;
  bool mounted_ = false;
};

TEST(FaultSuiteDisks, FullAndReadOnlyDisksNameTheCauseAndKeepTheFile) {
  if (!IsRoot()) GTEST_SKIP() << "mounting the small file system needs root";
  FaultWorkspace w;
  SmallDisk disk(w / "disk");
  ASSERT_TRUE(disk.mounted()) << std::strerror(errno);
  // Three of the four MiB: no room for a working copy of the same size.
  const std::string path = w.LargeImage(w / "disk/big.exe", 3u << 20);
  const std::string before = test::ReadFileBytes(path);

  CommandResult r = w.Sign({path});
  EXPECT_EQ(r.out, path + ": Error:No space left on the disk\n") << r.err;
  EXPECT_EQ(test::ReadFileBytes(path), before);
  EXPECT_EQ(FaultWorkspace::LeftoversIn(w / "disk", {"big.exe"}), std::vector<std::string>{});
  EXPECT_EQ(w.Leftovers({"disk"}), std::vector<std::string>{});
  EXPECT_NE(w.RunLog().find(path + ", no space left on device"), std::string::npos);

  ASSERT_TRUE(disk.MakeReadOnly()) << std::strerror(errno);
  r = w.Sign({path});
  EXPECT_EQ(r.out, path + ": Error:The disk is read-only\n") << r.err;
  EXPECT_EQ(test::ReadFileBytes(path), before);
  EXPECT_EQ(w.Leftovers({"disk"}), std::vector<std::string>{});
}

}  // namespace
}  // namespace corvane

namespace corvane {
namespace {

// Files written for the user take the same care with long names as the working copy.
TEST(FaultSuiteNames, PublishedFilesMayHaveNamesAtTheLimit) {
  test::TempDir dir;
  const std::string path = dir / (std::string(250, 'k') + ".pfx");
  ASSERT_TRUE(PublishFile(path, "key bytes", kPrivateFileMode));
  EXPECT_EQ(test::ReadFileBytes(path), "key bytes");
  EXPECT_EQ(FaultWorkspace::LeftoversIn(dir.path(), {std::string(250, 'k') + ".pfx"}),
            std::vector<std::string>{});
  EXPECT_LE(HiddenSiblingName(std::string(300, 'x'), ".part-XXXXXX").size(), 255u);
}

}  // namespace
}  // namespace corvane
