#include "platform/owner_endpoint.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/socket_error.h"
#include "platform/temp_folder.h"

namespace zv::platform {
namespace {

using namespace std::chrono_literals;

// A user id that no password database names, so its text is the number.
constexpr uid_t kStranger = 3987654321u;

SocketError ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const SocketError& error) {
    return error;
  }
  return SocketError(0, "");
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

// A home with its Settings/ folder and a private socket folder beside it.
struct TestHome {
  TempFolder Folder;
  std::string Home = Folder / "home";
  OwnerSite Site{Folder / "run", ::geteuid()};

  TestHome() {
    std::filesystem::create_directories(Home + "/Settings");
    ::mkdir(Site.SocketFolder.c_str(), 0700);
  }
};

TEST(OwnerEndpointTest, SocketNamesAreAHashOfTheCanonicalHome) {
  // The published FNV-1a test values.
  EXPECT_EQ(Fnv1a64(""), 0xcbf29ce484222325ull);
  EXPECT_EQ(Fnv1a64("a"), 0xaf63dc4c8601ec8cull);
  EXPECT_EQ(Fnv1a64("foobar"), 0x85944171f73967e8ull);
  EXPECT_EQ(OwnerSocketName("foobar"), "owner-85944171f73967e8.sock");
  EXPECT_EQ(OwnerSocketName("a"), "owner-af63dc4c8601ec8c.sock");

  TestHome test;
  const std::string link = test.Folder / "link";
  std::filesystem::create_directory_symlink(test.Home, link);
  const std::string socket = OwnerSocketPath(test.Home, "/run");
  // Every name of one home finds one socket; another home another one.
  for (const std::string& name :
       {test.Home + "/", link, test.Home + "/Settings/..", link + "/./"}) {
    EXPECT_EQ(OwnerSocketPath(name, "/run"), socket) << name;
  }
  EXPECT_NE(OwnerSocketPath(test.Folder.Path(), "/run"), socket);
  EXPECT_EQ(CanonicalHome(test.Home + "/missing/../x/"), test.Home + "/x");
  EXPECT_EQ(OwnerLockPath(test.Home), test.Home + "/Settings/zvcc-owner.lock");
}

TEST(OwnerEndpointTest, TheSocketFolderIsTheRuntimeFolderWhenItIsOursElseTmp) {
  TempFolder base;
  const uid_t me = ::geteuid();
  const std::string runtime = base / "runtime";
  ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
  const std::string runtimeLink = base / "runtime-link";
  ASSERT_EQ(::symlink(runtime.c_str(), runtimeLink.c_str()), 0);
  const std::string fallback = base / ("zvcc-" + std::to_string(me));
  const struct {
    std::string Runtime;
    std::string Expected;
  } cases[] = {
      {runtime, runtime + "/zvcc"},
      {runtime + "/", runtime + "/zvcc"},
      {"", fallback},
      {"relative/run", fallback},
      {base / "missing", fallback},
      {runtimeLink, fallback},  // a link could point anywhere
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PrepareOwnerSocketFolder(c.Runtime, base.Path(), me), c.Expected) << c.Runtime;
    EXPECT_EQ(ModeOf(c.Expected) & 07777, 0700u) << c.Runtime;
    EXPECT_TRUE(S_ISDIR(ModeOf(c.Expected)));
  }
}

TEST(OwnerEndpointTest, TheSocketFolderIsPrivateWhateverTheUmask) {
  TempFolder base;
  const mode_t before = ::umask(0777);
  const std::string folder = PrepareOwnerSocketFolder("", base.Path(), ::geteuid());
  ::umask(before);
  EXPECT_EQ(ModeOf(folder) & 07777, 0700u);
}

TEST(OwnerEndpointTest, AnUnsafeSocketFolderIsRefused) {
  const uid_t me = ::geteuid();
  const std::string name = "zvcc-" + std::to_string(me);
  const struct {
    const char* Kind;
    std::function<void(const std::string& path, const std::string& base)> Make;
    uid_t User;
    int Errno;
    const char* Text;
  } cases[] = {
      {"open mode",
       [](const std::string& path, const std::string&) {
         ::mkdir(path.c_str(), 0755);
         ::chmod(path.c_str(), 0755);
       },
       me, EPERM, "has mode 0755, not 0700"},
      {"symbolic link",
       [](const std::string& path, const std::string& base) {
         const std::string target = base + "/target";
         ::mkdir(target.c_str(), 0700);
         ::symlink(target.c_str(), path.c_str());
       },
       me, ELOOP, "is a symbolic link"},
      {"file", [](const std::string& path, const std::string&) { std::ofstream(path) << "x"; }, me,
       ENOTDIR, "is not a folder"},
      // Another user's folder, seen from that user's side.
      {"not ours", [](const std::string& path, const std::string&) { ::mkdir(path.c_str(), 0700); },
       me + 1, EPERM, "belongs to user"},
  };
  for (const auto& c : cases) {
    TempFolder base;
    const std::string path = base / (c.User == me ? name : "zvcc-" + std::to_string(c.User));
    c.Make(path, base.Path());
    const SocketError error = ErrorOf([&] { PrepareOwnerSocketFolder("", base.Path(), c.User); });
    EXPECT_EQ(error.Errno(), c.Errno) << c.Kind;
    EXPECT_NE(std::string(error.what()).find(c.Text), std::string::npos)
        << c.Kind << ": " << error.what();
    EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << c.Kind;
  }
}

TEST(OwnerEndpointTest, OneOwnerPerHomeUntilItGoes) {
  TestHome test;
  EXPECT_FALSE(ConnectToOwner(test.Home, test.Site, 1s));
  std::optional<OwnerEndpoint> owner = TryBecomeOwner(test.Home, test.Site);
  ASSERT_TRUE(owner);
  EXPECT_EQ(owner->SocketPath(), OwnerSocketPath(test.Home, test.Site.SocketFolder));
  EXPECT_EQ(ModeOf(owner->SocketPath()) & 07777, 0600u);
  // A second attempt opens the lock file anew, so it meets the lock even in this process.
  EXPECT_FALSE(TryBecomeOwner(test.Home, test.Site));
  EXPECT_FALSE(TryBecomeOwner(test.Home + "/", test.Site));

  std::optional<LocalStream> client = ConnectToOwner(test.Home, test.Site, 10s);
  ASSERT_TRUE(client);
  std::optional<LocalStream> served = owner->Accept();
  ASSERT_TRUE(served);
  EXPECT_EQ(served->PeerUid(), ::geteuid());
  ASSERT_TRUE(client->WriteAll("hello\n", 10s));
  ASSERT_TRUE(served->WaitReadable(10s));
  char buffer[16];
  EXPECT_EQ(served->Read(buffer, sizeof buffer).Count, 6u);
  EXPECT_FALSE(owner->Accept());

  const std::string socket = owner->SocketPath();
  owner.reset();
  EXPECT_EQ(ModeOf(socket), 0u);
  EXPECT_FALSE(ConnectToOwner(test.Home, test.Site, 1s));
  EXPECT_TRUE(TryBecomeOwner(test.Home, test.Site));
}

TEST(OwnerEndpointTest, AKilledOwnerLeavesTheHomeToTheNext) {
  TestHome test;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Holds the lock and the socket until killed, never cleaning up; gone
    // with the test process, and after two minutes in any case.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::alarm(120);
    auto owner = TryBecomeOwner(test.Home, test.Site);
    const char mark = owner ? '1' : '0';
    (void)!::write(ready[1], &mark, 1);
    for (;;) ::pause();
  }
  struct Reaper {
    pid_t Pid;
    ~Reaper() {
      if (Pid <= 0) return;
      ::kill(Pid, SIGKILL);
      ::waitpid(Pid, nullptr, 0);
    }
  } reaper{child};
  ::close(ready[1]);
  char mark = 0;
  ASSERT_EQ(::read(ready[0], &mark, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(mark, '1');

  EXPECT_FALSE(TryBecomeOwner(test.Home, test.Site));
  std::optional<LocalStream> client = ConnectToOwner(test.Home, test.Site, 10s);
  ASSERT_TRUE(client);
  EXPECT_EQ(client->PeerPid(), child);

  ::kill(child, SIGKILL);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  reaper.Pid = 0;
  // The socket file stayed behind; nothing answers on it any more.
  EXPECT_TRUE(S_ISSOCK(ModeOf(OwnerSocketPath(test.Home, test.Site.SocketFolder))));
  EXPECT_FALSE(ConnectToOwner(test.Home, test.Site, 1s));
  std::optional<OwnerEndpoint> next = TryBecomeOwner(test.Home, test.Site);
  ASSERT_TRUE(next);
  EXPECT_TRUE(ConnectToOwner(test.Home, test.Site, 10s));
}

TEST(OwnerEndpointTest, OwnerAndClientServeOnlyTheirOwnUser) {
  TestHome test;
  // The user ids the system records are this process's on both ends, so a
  // site of another user stands in for the other side's: an owner serving
  // that user refuses this one with one line, and a client of that user
  // refuses an owner run by this one.
  const OwnerSite foreign{test.Site.SocketFolder, kStranger};
  std::optional<OwnerEndpoint> owner = TryBecomeOwner(test.Home, foreign);
  ASSERT_TRUE(owner);

  const SocketError refused = ErrorOf([&] { ConnectToOwner(test.Home, foreign, 10s); });
  EXPECT_EQ(refused.Errno(), EACCES);
  EXPECT_NE(std::string(refused.what()).find("is served by user"), std::string::npos)
      << refused.what();

  std::optional<LocalStream> client = ConnectToOwner(test.Home, test.Site, 10s);
  ASSERT_TRUE(client);
  EXPECT_FALSE(owner->Accept());  // both were refused, none is handed out
  std::string got;
  char buffer[256];
  for (;;) {
    ASSERT_TRUE(client->WaitReadable(10s));
    const auto read = client->Read(buffer, sizeof buffer);
    if (read.Status == LocalStream::IoStatus::kClosed) break;
    got.append(buffer, read.Count);
  }
  EXPECT_EQ(got, ForeignUserRefusalLine(kStranger));
  EXPECT_EQ(got, "{\"t\":\"refused\",\"reason\":\"this owner serves only user " +
                     std::to_string(kStranger) + "\"}\n");
}

TEST(OwnerEndpointTest, AHomeWithoutSettingsCannotHaveAnOwner) {
  TestHome test;
  std::filesystem::remove(test.Home + "/Settings");
  const SocketError error = ErrorOf([&] { TryBecomeOwner(test.Home, test.Site); });
  EXPECT_EQ(error.Errno(), ENOENT);
  EXPECT_NE(std::string(error.what()).find("zvcc-owner.lock"), std::string::npos) << error.what();
}

}  // namespace
}  // namespace zv::platform
