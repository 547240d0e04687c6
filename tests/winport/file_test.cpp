#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "plugin_loader.h"
#include "winport/windows.h"

namespace {

using testsupport::TempDir;

std::string contentOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

bool exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

HANDLE open(const std::string& path, DWORD access, DWORD disposition, DWORD flags = 0) {
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition, flags, 0);
}

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;

TEST(Files, WriteSeekReadRoundTrip) {
  TempDir dir;
  HANDLE file = open(dir.file("data.bin"), kReadWrite, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(file, "0123456789", 10, &done, nullptr));
  EXPECT_EQ(done, 10u);
  EXPECT_EQ(GetFileSize(file, nullptr), 10u);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), 0u);
  char buffer[16] = {};
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(done, 10u);  // short read at the end of the file is a success
  EXPECT_EQ(std::string(buffer, done), "0123456789");
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(done, 0u);

  EXPECT_EQ(SetFilePointer(file, -3, nullptr, FILE_END), 7u);
  EXPECT_EQ(SetFilePointer(file, 1, nullptr, FILE_CURRENT), 8u);
  SetLastError(0);
  EXPECT_EQ(SetFilePointer(file, -100, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 8u);  // unchanged by the failure
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, 7), INVALID_SET_FILE_POINTER);

  EXPECT_TRUE(CloseHandle(file));
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(ReadFile(file, buffer, 1, &done, nullptr));
  EXPECT_EQ(GetFileSize(file, nullptr), INVALID_FILE_SIZE);
}

TEST(Files, Dispositions) {
  TempDir dir;
  std::string path = dir.file("existing.txt");
  writeText(path, "content");
  struct Case {
    std::string name;
    DWORD access;
    DWORD disposition;
    DWORD error;  // ERROR_SUCCESS: opens
    const char* contentAfter;
  };
  const Case cases[] = {
      {path, kReadWrite, CREATE_NEW, ERROR_FILE_EXISTS, "content"},
      {path, GENERIC_READ, OPEN_EXISTING, ERROR_SUCCESS, "content"},
      {path, kReadWrite, OPEN_ALWAYS, ERROR_SUCCESS, "content"},
      {path, GENERIC_READ, TRUNCATE_EXISTING, ERROR_INVALID_PARAMETER, "content"},
      {path, GENERIC_WRITE, TRUNCATE_EXISTING, ERROR_SUCCESS, ""},
      {path, GENERIC_WRITE, 99, ERROR_INVALID_PARAMETER, ""},
      {dir.file("missing"), GENERIC_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND, nullptr},
      {dir.file("missing"), GENERIC_WRITE, TRUNCATE_EXISTING, ERROR_FILE_NOT_FOUND, nullptr},
      {dir.file("no/such/folder"), kReadWrite, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND, nullptr},
      {dir.path(), GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED, nullptr},  // a folder
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + " disposition " + std::to_string(c.disposition));
    SetLastError(12345);
    HANDLE file = open(c.name, c.access, c.disposition);
    if (c.error == ERROR_SUCCESS) {
      EXPECT_NE(file, INVALID_HANDLE_VALUE);
      CloseHandle(file);
    } else {
      EXPECT_EQ(file, INVALID_HANDLE_VALUE);
      EXPECT_EQ(GetLastError(), c.error);
    }
    if (c.contentAfter != nullptr) {
      EXPECT_EQ(contentOf(c.name), c.contentAfter);
    }
  }
  HANDLE fresh = open(dir.file("fresh"), GENERIC_WRITE, CREATE_ALWAYS);
  EXPECT_NE(fresh, INVALID_HANDLE_VALUE);
  CloseHandle(fresh);
  EXPECT_TRUE(exists(dir.file("fresh")));
}

TEST(Files, CreationNeverFollowsAPlantedLink) {
  TempDir dir;
  std::string victim = dir.file("victim");
  writeText(victim, "precious");
  std::string link = dir.file("spool.tmp");
  ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
  std::string dangling = dir.file("dangling.tmp");
  std::string danglingTarget = dir.file("would-be-created");
  ASSERT_EQ(symlink(danglingTarget.c_str(), dangling.c_str()), 0);

  for (DWORD disposition : {CREATE_NEW, CREATE_ALWAYS, OPEN_ALWAYS, TRUNCATE_EXISTING}) {
    for (const std::string& name : {link, dangling}) {
      SCOPED_TRACE(name + " disposition " + std::to_string(disposition));
      SetLastError(0);
      EXPECT_EQ(open(name, kReadWrite, disposition), INVALID_HANDLE_VALUE);
      EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
  }
  OFSTRUCT info{};
  EXPECT_EQ(OpenFile(link.c_str(), &info, OF_CREATE | OF_WRITE), HFILE_ERROR);
  EXPECT_EQ(contentOf(victim), "precious");
  EXPECT_FALSE(exists(danglingTarget));

  // Opening an existing file through a link is not creation.
  HANDLE reader = open(link, GENERIC_READ, OPEN_EXISTING);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  CloseHandle(reader);
}

TEST(Files, AccessModeIsEnforced) {
  TempDir dir;
  writeText(dir.file("f"), "abc");
  HANDLE reader = open(dir.file("f"), GENERIC_READ, OPEN_EXISTING);
  DWORD done = 99;
  SetLastError(0);
  EXPECT_FALSE(WriteFile(reader, "x", 1, &done, nullptr));
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  CloseHandle(reader);
  HANDLE writer = open(dir.file("f"), GENERIC_WRITE, OPEN_EXISTING);
  char byte = 0;
  EXPECT_FALSE(ReadFile(writer, &byte, 1, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(ReadFile(writer, nullptr, 1, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  CloseHandle(writer);
}

TEST(Files, PositionsBeyondFourGiBUseTheHighPart) {
  TempDir dir;
  HANDLE file = open(dir.file("sparse"), kReadWrite, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(file, 5, &high, FILE_BEGIN), 5u);
  EXPECT_EQ(high, 1);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(file, "z", 1, &done, nullptr));
  DWORD sizeHigh = 0;
  EXPECT_EQ(GetFileSize(file, &sizeHigh), 6u);
  EXPECT_EQ(sizeHigh, 1u);
  // Without a high part the position must fit in 32 bits.
  SetLastError(0);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  // A real position whose low part looks like the failure value.
  high = 0;
  SetLastError(12345);
  EXPECT_EQ(SetFilePointer(file, -1, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(high, 0);
  // A negative 64-bit distance: 2 back from the end at 4 GiB + 6.
  high = -1;
  EXPECT_EQ(SetFilePointer(file, -2, &high, FILE_END), 4u);
  EXPECT_EQ(high, 1);
  CloseHandle(file);
}

// Deleting on close: the name goes at once (so nothing is left behind by a
// process that is killed), the handle keeps its file, and the name is free
// for a new exclusive creation meanwhile.
TEST(Files, DeleteOnCloseAndDeleteFile) {
  TempDir dir;
  std::string path = dir.file("scratch");
  HANDLE file = open(path, kReadWrite, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(exists(path));
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(file, "spool", 5, &done, nullptr));
  HANDLE second = open(path, kReadWrite, CREATE_NEW, 0);
  EXPECT_NE(second, INVALID_HANDLE_VALUE);
  CloseHandle(second);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), 0u);
  char back[8] = {};
  ASSERT_TRUE(ReadFile(file, back, sizeof back, &done, nullptr));
  EXPECT_EQ(std::string(back, done), "spool");
  CloseHandle(file);
  EXPECT_TRUE(exists(path));  // the second file, untouched by the close
  EXPECT_TRUE(DeleteFileA(path.c_str()));

  writeText(path, "x");
  EXPECT_TRUE(DeleteFileA(path.c_str()));
  EXPECT_FALSE(exists(path));
  SetLastError(0);
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(DeleteFileA(dir.path().c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(Files, TemporaryFilesAreForTheirCreatorOnly) {
  TempDir dir;
  std::string path = dir.file("spool.tmp");
  HANDLE file = open(path, kReadWrite, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0077, 0u);
  CloseHandle(file);
}

TEST(OpenFileCall, ExistCreateAndOpen) {
  TempDir dir;
  std::string path = dir.file("open.dat");
  OFSTRUCT info{};
  EXPECT_EQ(OpenFile(path.c_str(), &info, OF_EXIST), HFILE_ERROR);
  EXPECT_EQ(info.nErrCode, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(info.cBytes, sizeof(OFSTRUCT));

  HFILE created = OpenFile(path.c_str(), &info, OF_CREATE);
  ASSERT_GT(created, 0);
  EXPECT_EQ(info.nErrCode, 0);
  char resolved[4096];
  ASSERT_NE(realpath(path.c_str(), resolved), nullptr);
  EXPECT_STREQ(info.szPathName, resolved);
  DWORD done = 0;
  EXPECT_TRUE(WriteFile(static_cast<HANDLE>(created), "abc", 3, &done, nullptr));
  EXPECT_TRUE(CloseHandle(static_cast<HANDLE>(created)));

  HFILE existing = OpenFile(path.c_str(), nullptr, OF_EXIST);
  EXPECT_GT(existing, 0);
  EXPECT_FALSE(CloseHandle(static_cast<HANDLE>(existing)));  // already closed again

  HFILE both = OpenFile(path.c_str(), nullptr, OF_READWRITE);
  ASSERT_GT(both, 0);
  char text[4] = {};
  EXPECT_TRUE(ReadFile(static_cast<HANDLE>(both), text, 3, &done, nullptr));
  EXPECT_STREQ(text, "abc");
  EXPECT_TRUE(WriteFile(static_cast<HANDLE>(both), "d", 1, &done, nullptr));
  CloseHandle(static_cast<HANDLE>(both));

  HFILE reader = OpenFile(path.c_str(), nullptr, OF_READ);
  ASSERT_GT(reader, 0);
  EXPECT_FALSE(WriteFile(static_cast<HANDLE>(reader), "e", 1, &done, nullptr));
  CloseHandle(static_cast<HANDLE>(reader));
  EXPECT_EQ(contentOf(path), "abcd");
}

// Sets or clears TMPDIR for one scope.
class TmpdirSetting {
 public:
  explicit TmpdirSetting(const char* value) {
    if (const char* old = std::getenv("TMPDIR")) saved_ = old, hadValue_ = true;
    value != nullptr ? setenv("TMPDIR", value, 1) : unsetenv("TMPDIR");
  }
  ~TmpdirSetting() { hadValue_ ? setenv("TMPDIR", saved_.c_str(), 1) : unsetenv("TMPDIR"); }

 private:
  std::string saved_;
  bool hadValue_ = false;
};

std::string tempPath() {
  char buffer[4096];
  DWORD length = GetTempPathA(sizeof buffer, buffer);
  return length > 0 && length < sizeof buffer ? std::string(buffer, length) : "";
}

TEST(TempPath, TmpdirWithTrailingSlash) {
  TempDir dir;
  TmpdirSetting setting(dir.path().c_str());
  std::string expected = dir.path() + "/";
  EXPECT_EQ(tempPath(), expected);
  char small[4];
  DWORD needed = static_cast<DWORD>(expected.size() + 1);
  EXPECT_EQ(GetTempPathA(sizeof small, small), needed);
  EXPECT_EQ(GetTempPathA(0, nullptr), needed);
  char exact[4096];
  EXPECT_EQ(GetTempPathA(needed, exact), needed - 1);
}

TEST(TempPath, PrivateFolderWhenTmpdirIsUnsetOrNoFolder) {
  std::string expected = "/tmp/winport-" + std::to_string(getuid()) + "/";
  {
    TmpdirSetting setting(nullptr);
    EXPECT_EQ(tempPath(), expected);
  }
  TempDir dir;
  writeText(dir.file("plain-file"), "");
  TmpdirSetting setting(dir.file("plain-file").c_str());
  EXPECT_EQ(tempPath(), expected);
  struct stat info {};
  ASSERT_EQ(lstat(expected.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(info.st_uid, getuid());
}

// GetTempPathA run as user `uid` in a child process, TMPDIR unset; "" when it
// fails, with the error in *error.
std::string tempPathAsUser(uid_t uid, DWORD* error) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return "pipe failed";
  pid_t child = fork();
  if (child == 0) {
    close(pipeEnds[0]);
    unsetenv("TMPDIR");
    char buffer[256] = {};
    DWORD length = 0;
    DWORD code = 0xFFFF;
    if (setgid(uid) == 0 && setuid(uid) == 0) {
      length = GetTempPathA(sizeof buffer, buffer);
      code = GetLastError();
    }
    ssize_t ignored = write(pipeEnds[1], &code, sizeof code);
    ignored = write(pipeEnds[1], buffer, length < sizeof buffer ? length : 0);
    (void)ignored;
    _exit(0);
  }
  close(pipeEnds[1]);
  std::string result;
  *error = 0;
  if (read(pipeEnds[0], error, sizeof *error) == sizeof *error) {
    char buffer[256];
    ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
    if (got > 0) result.assign(buffer, static_cast<size_t>(got));
  }
  close(pipeEnds[0]);
  waitpid(child, nullptr, 0);
  return result;
}

TEST(TempPath, PrivateFolderIsUsedOnlyIfOwnedClosedAndNoLink) {
  if (geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
  constexpr uid_t kUser = 54321;  // a user of its own, so the real folder is never touched
  const std::string folder = "/tmp/winport-" + std::to_string(kUser);
  auto removeFolder = [&] {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);  // a link itself, never its target
  };
  removeFolder();
  DWORD error = 0;
  EXPECT_EQ(tempPathAsUser(kUser, &error), folder + "/");  // made on first use
  struct stat info {};
  ASSERT_EQ(lstat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(info.st_uid, kUser);

  ASSERT_EQ(chmod(folder.c_str(), 0750), 0);  // others may enter
  EXPECT_EQ(tempPathAsUser(kUser, &error), "");
  EXPECT_EQ(error, ERROR_ACCESS_DENIED);

  ASSERT_EQ(chmod(folder.c_str(), 0700), 0);
  ASSERT_EQ(chown(folder.c_str(), 0, 0), 0);  // someone else's
  EXPECT_EQ(tempPathAsUser(kUser, &error), "");
  EXPECT_EQ(error, ERROR_ACCESS_DENIED);

  removeFolder();
  TempDir target;  // a link planted in its place, even to a folder fit for the user
  ASSERT_EQ(chown(target.path().c_str(), kUser, kUser), 0);
  ASSERT_EQ(chmod(target.path().c_str(), 0700), 0);
  ASSERT_EQ(symlink(target.path().c_str(), folder.c_str()), 0);
  EXPECT_EQ(tempPathAsUser(kUser, &error), "");
  EXPECT_EQ(error, ERROR_ACCESS_DENIED);
  removeFolder();
}

TEST(FileAttributes, MissingFolderReadOnlyAndNormal) {
  TempDir dir;
  SetLastError(0);
  EXPECT_EQ(GetFileAttributesA(dir.file("missing").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesA(dir.path().c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            FILE_ATTRIBUTE_DIRECTORY);
  std::string path = dir.file("f");
  writeText(path, "x");
  chmod(path.c_str(), 0644);
  EXPECT_EQ(GetFileAttributesA(path.c_str()), FILE_ATTRIBUTE_NORMAL);
  chmod(path.c_str(), 0444);
  EXPECT_EQ(GetFileAttributesA(path.c_str()), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(GetFileAttributesA(nullptr), INVALID_FILE_ATTRIBUTES);
}

// Links are not followed, as the system does not follow reparse points:
// only whether the target is a folder shows, and a dangling link exists.
TEST(FileAttributes, LinksAreReparsePointsOfTheirOwn) {
  TempDir dir;
  writeText(dir.file("file"), "x");
  ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0755), 0);
  const std::pair<const char*, DWORD> cases[] = {
      {"file", FILE_ATTRIBUTE_REPARSE_POINT},
      {"folder", FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY},
      {"missing", FILE_ATTRIBUTE_REPARSE_POINT},
  };
  for (const auto& [target, attributes] : cases) {
    const std::string link = dir.file(std::string("to-") + target);
    ASSERT_EQ(symlink(dir.file(target).c_str(), link.c_str()), 0);
    EXPECT_EQ(GetFileAttributesA(link.c_str()), attributes) << target;
  }
}

}  // namespace

namespace {

// Runs `body` in a child whose descriptor 1 is `stdoutFd`; its exit status.
template <typename Body>
int inChildWithStdout(int stdoutFd, Body body) {
  const pid_t child = fork();
  if (child == 0) {
    dup2(stdoutFd, 1);
    _exit(body());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

// The standard handles stand for descriptors 0-2; GetConsoleMode tells a
// terminal from anything else.
TEST(StandardHandles, StableHandlesTerminalsAndWrites) {
  for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE handle = GetStdHandle(which);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetStdHandle(which), handle);
  }
  EXPECT_NE(GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE));
  SetLastError(0);
  EXPECT_EQ(GetStdHandle(7), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  TempDir dir;
  const std::string path = dir.file("plain");
  HANDLE file = open(path, kReadWrite, CREATE_NEW);
  DWORD mode = 7;
  EXPECT_FALSE(GetConsoleMode(file, &mode));
  CloseHandle(file);
  EXPECT_FALSE(GetConsoleMode(0, &mode));

  // A pipe on descriptor 1: written through, and not a terminal.
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const int wrote = inChildWithStdout(pipeFds[1], [] {
    DWORD done = 0, unused = 0;
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (GetConsoleMode(out, &unused)) return 2;
    return WriteFile(out, "abc", 3, &done, nullptr) && done == 3 ? 0 : 1;
  });
  close(pipeFds[1]);
  char got[8] = {};
  EXPECT_EQ(read(pipeFds[0], got, sizeof got), 3);
  close(pipeFds[0]);
  EXPECT_EQ(wrote, 0);
  EXPECT_STREQ(got, "abc");

  // A pseudo-terminal on descriptor 1 is one.
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) GTEST_SKIP() << "no pseudo-terminal";
  const int terminal = ::open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  EXPECT_EQ(inChildWithStdout(terminal, [] {
              DWORD unused = 0;
              return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &unused) ? 0 : 1;
            }),
            0);
  close(terminal);
  close(master);
}
