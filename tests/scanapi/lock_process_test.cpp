// The lock seen from several processes: one shared lock word, claimed
// atomically; a holder that ended without unlocking leaves it free.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <utility>

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

// Two processes that wait for one start signal, send CMD_LOCK together and
// report kGotLock, kRefused or 20 + anything else. Both stay alive until both
// have answered: a contender that had ended would be a dead owner, whose lock
// the other may rightly take.
std::pair<int, int> RaceForTheLock(Installation& scanner) {
  int start[2], report[2], release[2];
  if (pipe(start) != 0 || pipe(report) != 0 || pipe(release) != 0) return {-1, -1};
  pid_t pids[2];
  for (pid_t& pid : pids) {
    pid = fork();
    if (pid != 0) continue;
    char byte;
    pollfd ready{start[0], POLLIN, 0};
    if (poll(&ready, 1, 10000) != 1 || read(start[0], &byte, 1) != 1) _exit(30);
    const ScannerCommand command = scanner.send(CMD_LOCK);
    const char code = command.status == SCAN_OK ? kGotLock : command.status == SCAN_ERR_LOCKED ? kRefused : 20;
    if (write(report[1], &code, 1) != 1 || read(release[0], &byte, 1) != 1) _exit(31);
    _exit(0);
  }
  std::pair<int, int> codes{-1, -1};
  char answers[2] = {};
  if (write(start[1], "xx", 2) == 2 && read(report[0], &answers[0], 1) == 1 &&
      read(report[0], &answers[1], 1) == 1)
    codes = {answers[0], answers[1]};
  if (write(release[1], "xx", 2) != 2) {
    kill(pids[0], SIGKILL);
    kill(pids[1], SIGKILL);
  }
  Reap(pids[0]);
  Reap(pids[1]);
  for (int fd : {start[0], start[1], report[0], report[1], release[0], release[1]}) close(fd);
  return codes;
}

// Sends CMD_LOCK in a new process; its kGotLock, kRefused or 20.
int LockInNewProcess(Installation& scanner) {
  const pid_t pid = fork();
  if (pid == 0) {
    const ScannerCommand command = scanner.send(CMD_LOCK);
    _exit(command.status == SCAN_OK ? kGotLock : command.status == SCAN_ERR_LOCKED ? kRefused : 20);
  }
  return Reap(pid);
}

// How a lock holder ends without CMD_UNLOCK.
enum class Ending { Killed, ExitsAtOnce, UnloadsTheLibrary, Lives };

// A process that opens, locks and sets up a scan, then ends as told (Lives:
// waits until killed). Returns once it holds the lock; -1 when it failed.
pid_t Holder(Installation& scanner, Ending ending) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    ScanParameters params{};
    params.frame = ScanFrame{0, 0, 0, 300, 300, 300, 300, DATATYPE_GREY, 0, 0};
    params.mapMode = MAP_MODE_BUILT_IN;
    try {
      scanner.openAndLock();
    } catch (...) {
      _exit(32);
    }
    const bool ok = scanner.send(CMD_SET_PARAMETERS, &params).status == SCAN_OK;
    if (write(fds[1], ok ? "y" : "n", 1) != 1) _exit(31);
    if (ending == Ending::UnloadsTheLibrary) scanner.unload();
    if (ending == Ending::Killed || ending == Ending::Lives) pause();
    _exit(0);
  }
  close(fds[1]);
  char answer = 'n';
  pollfd ready{fds[0], POLLIN, 0};
  const bool held = poll(&ready, 1, 10000) == 1 && read(fds[0], &answer, 1) == 1 && answer == 'y';
  close(fds[0]);
  if (!held) {
    kill(pid, SIGKILL);
    Reap(pid);
    return -1;
  }
  return pid;
}

// The test process keeps the library loaded throughout (a bystander), so the
// shared state outlives every holder; the next process locks at once, and
// finds nothing prepared of the dead holder's.
TEST(LockAcrossProcesses, LockOfAHolderThatEndedWithoutUnlockingIsFree) {
  const std::pair<Ending, const char*> endings[] = {{Ending::Killed, "killed"},
                                                    {Ending::ExitsAtOnce, "_exit"},
                                                    {Ending::UnloadsTheLibrary, "unloads"}};
  for (const auto& [ending, name] : endings) {
    Installation scanner;
    ASSERT_TRUE(scanner.load());
    ASSERT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
    const pid_t holder = Holder(scanner, ending);
    ASSERT_GT(holder, 0) << name;
    if (ending == Ending::Killed) {
      EXPECT_EQ(LockInNewProcess(scanner), kRefused) << name << ": the holder still runs";
      kill(holder, SIGKILL);
    }
    EXPECT_EQ(Reap(holder), ending == Ending::Killed ? 100 + SIGKILL : 0) << name;
    scanner.openAndLock();
    EXPECT_EQ(scanner.send(CMD_START_SCAN).status, SCAN_ERR_STATE) << name << ": nothing prepared";
    EXPECT_EQ(scanner.send(CMD_FORWARD_12).status, SCAN_OK) << name;
    EXPECT_EQ(LockInNewProcess(scanner), kRefused) << name << ": the new owner lives";
  }
}

// A live holder keeps the lock however often others ask, and its lock is
// taken at once when it is gone. A zombie (ended, not yet reaped) is gone.
TEST(LockAcrossProcesses, LiveHolderIsNeverDisplaced) {
  Installation scanner;
  ASSERT_TRUE(scanner.load());
  ASSERT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  const pid_t holder = Holder(scanner, Ending::Lives);
  ASSERT_GT(holder, 0);
  for (int attempt = 0; attempt < 3; ++attempt) {
    EXPECT_EQ(scanner.send(CMD_LOCK).status, SCAN_ERR_LOCKED);
    EXPECT_EQ(LockInNewProcess(scanner), kRefused);
  }
  kill(holder, SIGKILL);
  siginfo_t info{};
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(holder), &info, WEXITED | WNOWAIT), 0);  // a zombie now
  EXPECT_EQ(LockInNewProcess(scanner), kGotLock);
  Reap(holder);
}

// Several processes that find the same dead holder: exactly one takes the lock.
TEST(LockAcrossProcesses, OfTwoTakingOverADeadHolderExactlyOneSucceeds) {
  Installation scanner;
  scanner.driver().lockDelayMicros = 2000;
  ASSERT_TRUE(scanner.load());
  ASSERT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  for (int round = 0; round < 5; ++round) {
    const pid_t holder = Holder(scanner, Ending::ExitsAtOnce);
    ASSERT_GT(holder, 0);
    ASSERT_EQ(Reap(holder), 0);
    const auto [a, b] = RaceForTheLock(scanner);
    EXPECT_TRUE((a == kGotLock && b == kRefused) || (a == kRefused && b == kGotLock))
        << "round " << round << ": " << a << ", " << b;
  }
}

TEST(LockAcrossProcesses, OfTwoRacingLocksExactlyOneSucceeds) {
  Installation scanner;
  scanner.driver().lockDelayMicros = 2000;
  ASSERT_TRUE(scanner.load());
  ASSERT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  for (int round = 0; round < 10; ++round) {
    const auto [a, b] = RaceForTheLock(scanner);
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
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  if (child == 0) {  // holds the lock until the test kills it
    const ScannerCommand command = scanner.send(CMD_LOCK);
    const char answer = command.status == SCAN_OK && command.lockHandle == 0x1234 ? 'y' : 'n';
    if (write(fds[1], &answer, 1) != 1) _exit(2);
    pause();
    _exit(0);
  }
  char answer = 'n';
  ASSERT_EQ(read(fds[0], &answer, 1), 1);
  EXPECT_EQ(answer, 'y');
  EXPECT_EQ(scanner.send(CMD_LOCK).status, SCAN_ERR_LOCKED);
  EXPECT_EQ(scanner.send(CMD_FORWARD_12).status, SCAN_ERR_NOT_OWNER);
  EXPECT_EQ(scanner.send(CMD_SET_PROGRESS_CALLBACK).status, SCAN_ERR_NOT_OWNER);
  // Presenting the handle the other process was given passes the gates.
  ScannerCommand owner{};
  owner.code = CMD_FORWARD_12;
  owner.lockHandle = 0x1234;
  scanner.send(owner);
  EXPECT_EQ(owner.status, SCAN_OK);
  close(fds[1]);
  close(fds[0]);
  kill(child, SIGKILL);
  Reap(child);
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
