// The library on Windows: the lock seen from other Windows processes through
// the DLL's shared section, and the binding's comparison with the short form
// of the library's folder.
#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ferrox_fixture.h"
#include "fixture_platform.h"

namespace scantest {
namespace {

constexpr DWORD kGotLock = 10;
constexpr DWORD kRefused = 11;

// One run of the contender program (lock_contender.cpp) on the installation's library.
class Contender {
 public:
  Contender(Installation& scanner, const std::string& tag, int index, const char* mode) {
    std::string line = "\"" + platform::TestModulePath("lock_contender.exe") + "\" \"" +
                       scanner.libraryPath() + "\" " + tag + " " + std::to_string(index) + " " + mode;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info_))
      CloseHandle(info_.hThread);
  }
  ~Contender() {
    if (info_.hProcess == 0) return;
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info_.hProcess, 99);
    CloseHandle(info_.hProcess);
  }
  Contender(const Contender&) = delete;
  Contender& operator=(const Contender&) = delete;

  bool started() const { return info_.hProcess != 0; }
  DWORD id() const { return info_.dwProcessId; }
  HANDLE process() const { return info_.hProcess; }
  // Its exit code once it ended (within 20 s), else 0xFFFF.
  DWORD exitCode() const {
    DWORD code = 0xFFFF;
    if (WaitForSingleObject(info_.hProcess, 20000) == WAIT_OBJECT_0) GetExitCodeProcess(info_.hProcess, &code);
    return code;
  }

 private:
  PROCESS_INFORMATION info_{};
};

std::string UniqueTag() {
  static int counter = 0;
  return "ferrox-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
}

HANDLE Event(const std::string& name) { return CreateEventA(nullptr, TRUE, FALSE, name.c_str()); }

bool Signalled(HANDLE event) { return WaitForSingleObject(event, 20000) == WAIT_OBJECT_0; }

DWORD LockOnce(Installation& scanner) { return Contender(scanner, UniqueTag(), 0, "once").exitCode(); }

// Two processes released together send CMD_LOCK at once; both stay alive
// until both have answered (an ended contender would be a dead owner).
TEST(WindowsProcesses, OfTwoRacingProcessesExactlyOneGetsTheLock) {
  Installation scanner;
  ASSERT_TRUE(scanner.load());
  for (int round = 0; round < 4; ++round) {
    const std::string tag = UniqueTag();
    HANDLE start = Event(tag + "-start"), release = Event(tag + "-release");
    HANDLE answers[2] = {Event(tag + "-answer-0"), Event(tag + "-answer-1")};
    Contender a(scanner, tag, 0, "race"), b(scanner, tag, 1, "race");
    ASSERT_TRUE(a.started() && b.started());
    SetEvent(start);
    EXPECT_EQ(WaitForMultipleObjects(2, answers, TRUE, 20000), WAIT_OBJECT_0) << "round " << round;
    EXPECT_EQ(scanner.send(CMD_LOCK).status, SCAN_ERR_LOCKED) << "round " << round;
    SetEvent(release);
    const std::pair<DWORD, DWORD> codes{a.exitCode(), b.exitCode()};
    EXPECT_TRUE(codes == std::make_pair(kGotLock, kRefused) || codes == std::make_pair(kRefused, kGotLock))
        << "round " << round << ": " << codes.first << ", " << codes.second;
    // The winner ended: its lock went with it, also for this process.
    EXPECT_EQ(LockOnce(scanner), kGotLock) << "round " << round;
    for (HANDLE event : {start, release, answers[0], answers[1]}) CloseHandle(event);
  }
}

// A holder killed while this process keeps the library (and so the shared
// section) loaded: its lock is refused while it runs and free once it is gone.
TEST(WindowsProcesses, LockOfAKilledHolderIsFree) {
  const std::pair<bool, const char*> ways[] = {{false, "TerminateProcess"}, {true, "taskkill /f"}};
  for (const auto& [taskkill, name] : ways) {
    Installation scanner;
    ASSERT_TRUE(scanner.load());
    const std::string tag = UniqueTag();
    HANDLE ready = Event(tag + "-ready-0");
    Contender holder(scanner, tag, 0, "hold");
    ASSERT_TRUE(holder.started() && Signalled(ready)) << name;
    CloseHandle(ready);
    EXPECT_EQ(scanner.send(CMD_LOCK).status, SCAN_ERR_LOCKED) << name;
    EXPECT_EQ(LockOnce(scanner), kRefused) << name << ": the holder still runs";
    if (taskkill) {
      std::string line = "taskkill.exe /f /pid " + std::to_string(holder.id());
      STARTUPINFOA startup{};
      startup.cb = sizeof(startup);
      PROCESS_INFORMATION info{};
      ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                 nullptr, &startup, &info));
      WaitForSingleObject(info.hProcess, 20000);
      CloseHandle(info.hThread);
      CloseHandle(info.hProcess);
    } else {
      TerminateProcess(holder.process(), 1);
    }
    EXPECT_NE(holder.exitCode(), 0xFFFFu) << name << ": the holder ended";
    scanner.openAndLock();
    EXPECT_EQ(scanner.send(CMD_FORWARD_12).status, SCAN_OK) << name;
    EXPECT_EQ(LockOnce(scanner), kRefused) << name << ": the new owner lives";
  }
}

// The scanner key binds when its "System Directory" is the library's folder in
// its short form with the trailing backslash, in any case, and only then.
TEST(WindowsBinding, SystemDirectoryIsComparedWithTheShortFolder) {
  Installation scanner;
  const std::string shortFolder = scanner.libraryFolder();
  char longFolder[MAX_PATH] = {};
  ASSERT_GT(GetLongPathNameA(shortFolder.c_str(), longFolder, sizeof(longFolder)), 0u);
  ASSERT_NE(shortFolder, std::string(longFolder)) << "the test folder needs a long name";
  std::string lower = shortFolder;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::pair<std::string, bool> cases[] = {
      {shortFolder, true},
      {lower, true},
      {longFolder, false},
      {shortFolder.substr(0, shortFolder.size() - 1), false},
  };
  for (const auto& [directory, binds] : cases) {
    ScannerKey key;
    key.systemDirectory = directory;
    scanner.writeRegistry({key});
    ASSERT_TRUE(scanner.load());
    const ScannerCommand open = scanner.send(CMD_OPEN);
    EXPECT_EQ(open.status != SCAN_ERR_NO_DRIVER, binds) << directory;
    scanner.send(CMD_CLOSE);
    scanner.unload();
  }
}

}  // namespace
}  // namespace scantest
