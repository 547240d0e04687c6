// CMD_CHECK_FRAME in a process that has not opened the device while a forked
// child has.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ferrox_fixture.h"

namespace scantest {
namespace {

// The frame check compares with the device record and asks the driver for
// limits and geometry: a process that has not opened the device gets -8 and
// the driver hears nothing, also when another process opened it.
TEST(ScanSetUpBeforeOpen, CheckFrameNeedsThisProcessToHaveOpened) {
  Installation scanner;
  ASSERT_TRUE(scanner.load());
  ScanGeometry geometry{};
  geometry.frame = ScanFrame{0, 0, 0, 300, 300, 300, 300, DATATYPE_GREY, 0, 0};
  EXPECT_EQ(scanner.send(CMD_CHECK_FRAME, &geometry).status, SCAN_ERR_STATE);
  const pid_t child = fork();
  if (child == 0) _exit(scanner.send(CMD_OPEN).status == SCAN_OK ? 0 : 1);
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(scanner.send(CMD_CHECK_FRAME, &geometry).status, SCAN_ERR_STATE);
  EXPECT_TRUE(scanner.operations().empty());
  ASSERT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  EXPECT_EQ(scanner.send(CMD_CHECK_FRAME, &geometry).status, SCAN_OK);
}

}  // namespace
}  // namespace scantest
