// Process identity: handles that tell a running process from one that ended
// (a zombie included), and creation times that stay the same for a process.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "winport/windows.h"

namespace {

uint64_t CreationOf(HANDLE process) {
  FILETIME creation{1, 1};
  EXPECT_TRUE(GetProcessTimes(process, &creation, nullptr, nullptr, nullptr));
  return (uint64_t{creation.dwHighDateTime} << 32) | creation.dwLowDateTime;
}

DWORD ExitCodeOf(HANDLE process) {
  DWORD code = 12345;
  EXPECT_TRUE(GetExitCodeProcess(process, &code));
  return code;
}

// A child that waits until it is killed.
pid_t Sleeper() {
  const pid_t pid = fork();
  if (pid == 0) {
    pause();
    _exit(0);
  }
  return pid;
}

TEST(Processes, OwnProcessRunsAndKeepsItsCreationTime) {
  EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
  HANDLE first = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, GetCurrentProcessId());
  HANDLE second = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, GetCurrentProcessId());
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  EXPECT_NE(first, second);
  EXPECT_EQ(ExitCodeOf(first), STILL_ACTIVE);
  EXPECT_EQ(CreationOf(first), CreationOf(second));
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_TRUE(CloseHandle(second));
  DWORD code = 0;
  SetLastError(0);
  EXPECT_FALSE(GetExitCodeProcess(first, &code));  // closed
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(CloseHandle(first));
}

// Running, then a zombie (ended, not reaped), then gone: the handle opened
// while it ran says it ended; a new open of a zombie says so too; once it
// is reaped it cannot be opened at all.
TEST(Processes, ChildRunsThenEndsThenIsGone) {
  const pid_t child = Sleeper();
  ASSERT_GT(child, 0);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(child));
  ASSERT_NE(process, 0u);
  EXPECT_EQ(ExitCodeOf(process), STILL_ACTIVE);
  HANDLE self = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, GetCurrentProcessId());
  EXPECT_GE(CreationOf(process), CreationOf(self));  // started later
  CloseHandle(self);
  kill(child, SIGKILL);
  siginfo_t info{};
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
  EXPECT_NE(ExitCodeOf(process), STILL_ACTIVE);
  HANDLE zombie = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(child));
  ASSERT_NE(zombie, 0u);
  EXPECT_NE(ExitCodeOf(zombie), STILL_ACTIVE);
  CloseHandle(zombie);
  waitpid(child, nullptr, 0);
  EXPECT_NE(ExitCodeOf(process), STILL_ACTIVE);
  SetLastError(0);
  EXPECT_EQ(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(child)), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  CloseHandle(process);
}

TEST(Processes, BadArguments) {
  SetLastError(0);
  EXPECT_EQ(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 0), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 0x7FFFFFF0u), 0u);
  DWORD code = 0;
  EXPECT_FALSE(GetExitCodeProcess(0, &code));
  EXPECT_FALSE(GetProcessTimes(INVALID_HANDLE_VALUE, nullptr, nullptr, nullptr, nullptr));
  HANDLE self = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, GetCurrentProcessId());
  EXPECT_FALSE(GetExitCodeProcess(self, nullptr));
  CloseHandle(self);
}

}  // namespace
