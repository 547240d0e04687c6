// The lock seen from several processes: one shared lock word, claimed atomically.
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ferrox_fixture.h"

namespace scantest {
namespace {

// The child's exit status, or 100 + signal number.
int Reap(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// Exit codes of a contender.
constexpr int kGotLock = 10;
constexpr int kRefused = 11;

// Forks a process that waits for the start byte, sends CMD_LOCK and exits
// with kGotLock, kRefused, or 20 + anything else.
pid_t Contender(Installation& scanner, int startPipe) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  char byte;
  pollfd ready{startPipe, POLLIN, 0};
  if (poll(&ready, 1, 10000) != 1 || read(startPipe, &byte, 1) != 1) _exit(30);
  const ScannerCommand command = scanner.send(CMD_LOCK);
  _exit(command.status == SCAN_OK ? kGotLock : command.status == SCAN_ERR_LOCKED ? kRefused : 20);
}

TEST(LockAcrossProcesses, OfTwoRacingLocksExactlyOneSucceeds) {
  Installation scanner;
  scanner.driver().lockDelayMicros = 2000;
  ASSERT_TRUE(scanner.load());
  ASSERT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  for (int round = 0; round < 10; ++round) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t first = Contender(scanner, fds[0]);
    const pid_t second = Contender(scanner, fds[0]);
    ASSERT_EQ(write(fds[1], "xx", 2), 2);  // both start at once
    const int a = Reap(first);
    const int b = Reap(second);
    close(fds[0]);
    close(fds[1]);
    EXPECT_TRUE((a == kGotLock && b == kRefused) || (a == kRefused && b == kGotLock))
        << "round " << round << ": " << a << ", " << b;
    // The winner's handle is the driver's; release it for the next round.
    ScannerCommand unlock{};
    unlock.code = CMD_UNLOCK;
    unlock.lockHandle = 0x1234;
    scanner.send(unlock);
    ASSERT_EQ(unlock.status, SCAN_OK);
  }
}

TEST(LockAcrossProcesses, AnotherProcessSeesTheLockAndItsHandle) {
  Installation scanner;
  ASSERT_TRUE(scanner.load());
  ASSERT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  const pid_t child = fork();
  if (child == 0) {
    const ScannerCommand command = scanner.send(CMD_LOCK);
    _exit(command.status == SCAN_OK && command.lockHandle == 0x1234 ? 0 : 1);
  }
  ASSERT_EQ(Reap(child), 0);
  EXPECT_EQ(scanner.send(CMD_LOCK).status, SCAN_ERR_LOCKED);
  EXPECT_EQ(scanner.send(CMD_FORWARD_12).status, SCAN_ERR_NOT_OWNER);
  EXPECT_EQ(scanner.send(CMD_SET_PROGRESS_CALLBACK).status, SCAN_ERR_NOT_OWNER);
  // Presenting the handle the other process was given passes the gates.
  ScannerCommand owner{};
  owner.code = CMD_FORWARD_12;
  owner.lockHandle = 0x1234;
  scanner.send(owner);
  EXPECT_EQ(owner.status, SCAN_OK);
}

// The lock belongs to the system, not to a process's copy of the library: a
// forked child that unloads the library leaves the parent's lock alone.
TEST(LockAcrossProcesses, ForkedChildUnloadingLeavesTheLock) {
  Installation scanner;
  ASSERT_TRUE(scanner.load());
  scanner.openAndLock();
  const pid_t child = fork();
  if (child == 0) {
    scanner.unload();
    _exit(0);
  }
  ASSERT_EQ(Reap(child), 0);
  EXPECT_EQ(scanner.send(CMD_FORWARD_12).status, SCAN_OK);
}

}  // namespace
}  // namespace scantest
