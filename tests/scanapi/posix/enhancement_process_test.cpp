// Resolution enhancement on the platform layer: a process killed while
// spooling, and a link planted where the spool file goes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "enhancement_fixture.h"

namespace scantest {
namespace {

// A scanning process that is killed while spooling leaves no spool file
// behind; the test process stays as a bystander with the library loaded.
TEST_F(Enhancement, ProcessKilledWhileSpoolingLeavesNoFile) {
  static int signalFd = -1;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  signalFd = fds[1];
  scanner.driver().device.capabilities = DEVCAP_KEEP_CALLBACK;
  ASSERT_EQ(scanner.send(CMD_REINITIALIZE).status, SCAN_OK);
  ScannerCommand& session = scanner.session();
  session.code = CMD_SET_PROGRESS_CALLBACK;
  session.data = reinterpret_cast<void*>(+[](uint32_t event, uint32_t) -> int16_t {
    if (event == PROGRESS_SPOOLED && write(signalFd, "s", 1) == 1) pause();  // killed here
    return 0;
  });
  scanner.send(session);
  scanner.driver().linesPerRead = 4;
  ScanParameters params = request(DATATYPE_GREY, 1200, 600, 150, 10);
  start(params);
  const pid_t child = fork();
  if (child == 0) {
    std::vector<uint8_t> buffer(65536);
    scanner.send(CMD_READ_LINES, buffer.data(), static_cast<uint32_t>(buffer.size()));
    _exit(0);
  }
  char byte = 0;
  EXPECT_EQ(read(fds[0], &byte, 1), 1);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(fds[0]);
  close(fds[1]);
  EXPECT_TRUE(std::filesystem::is_empty(temp));
}

TEST_F(Enhancement, PlantedLinkIsReplacedAndItsTargetUntouched) {
  const std::string victim = temp + "victim.txt";
  std::ofstream(victim) << "precious";
  std::filesystem::create_symlink(victim, spoolPath());
  ScanParameters params = request(DATATYPE_GREY, 1200, 600, 150, 10);
  start(params);
  const ScanGeometry out = fake::GeometryOf(request(DATATYPE_GREY, 1200, 600, 150, 10).frame);
  EXPECT_EQ(readAll(out.bytesPerLine, 8).size(), out.lineCount);
  std::ifstream in(victim);
  std::string content;
  in >> content;
  EXPECT_EQ(content, "precious");
  EXPECT_FALSE(std::filesystem::is_symlink(spoolPath()));
}

}  // namespace
}  // namespace scantest
