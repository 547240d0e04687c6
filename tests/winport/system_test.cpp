#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <string>
#include <thread>

#include "child_test_run.h"
#include "winport/windows.h"

namespace {

TEST(TickCount, FreezeAdvanceAndThaw) {
  winport_test_freeze_tick(1000);
  EXPECT_EQ(GetTickCount(), 1000u);
  EXPECT_EQ(GetTickCount(), 1000u);
  winport_test_advance_tick(250);
  EXPECT_EQ(GetTickCount(), 1250u);
  winport_test_freeze_tick(0xFFFFFFF0u);
  winport_test_advance_tick(0x20);
  EXPECT_EQ(GetTickCount(), 0x10u);  // wraps at 2^32
  winport_test_thaw_tick();
  DWORD real = GetTickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_NE(GetTickCount(), real);
}

// Sleep lasts at least what it is asked for on the real clock; while the
// clock is frozen it returns at once and leaves the time alone (a ten-minute
// sleep here would time the test out).
TEST(TickCount, SleepFollowsTheClock) {
  winport_test_freeze_tick(500);
  Sleep(600000);
  EXPECT_EQ(GetTickCount(), 500u);
  winport_test_thaw_tick();
  const DWORD before = GetTickCount();
  Sleep(20);
  EXPECT_GE(GetTickCount() - before, 20u);
  Sleep(0);
}

TEST(TickCount, EnvironmentChild) {
  if (!winporttest::inChild()) GTEST_SKIP() << "runs in a child process only";
  EXPECT_EQ(GetTickCount(), 500u);
  EXPECT_EQ(GetTickCount(), 510u);
  winport_test_advance_tick(100);
  EXPECT_EQ(GetTickCount(), 620u);
  winport_test_freeze_tick(7);  // the test hook takes over: no more steps
  EXPECT_EQ(GetTickCount(), 7u);
  EXPECT_EQ(GetTickCount(), 7u);
}

TEST(TickCount, EnvironmentStartAndStep) {
  if (winporttest::inChild()) GTEST_SKIP();
  auto run = winporttest::runTestInChild("TickCount.EnvironmentChild",
                                         {"WINPORT_TICK_START=500", "WINPORT_TICK_STEP=10"});
  EXPECT_TRUE(run.passed("TickCount.EnvironmentChild")) << run.output;
}

template <typename... Args>
std::string format(const char* pattern, Args... args) {
  char buffer[1024];
  int length = wsprintfA(buffer, pattern, args...);
  EXPECT_EQ(length, static_cast<int>(std::strlen(buffer)));
  return buffer;
}

TEST(Wsprintf, IntegerConversions) {
  EXPECT_EQ(format("%d|%i", -42, 17), "-42|17");
  EXPECT_EQ(format("%5d|%-5d|%05d", 42, 42, -42), "   42|42   |-0042");
  EXPECT_EQ(format("%.3d|%8.3d|%-6.2d|", 7, -7, 3), "007|    -007|03    |");
  EXPECT_EQ(format("%u|%u", 4294967295u, -1), "4294967295|4294967295");
  EXPECT_EQ(format("%ld|%lu|%lx", INT_MIN, 3000000000u, 0xDEADBEEFu),
            "-2147483648|3000000000|deadbeef");
  EXPECT_EQ(format("%x|%X|%08X|%#x|%#X|%#x", 255, 0xabcdef, 0x1f, 255, 255, 0),
            "ff|ABCDEF|0000001F|0xff|0XFF|0");
  EXPECT_EQ(format("%hd|%hu", 70000, 70000), "4464|4464");
  EXPECT_EQ(format("%d %d %d", 0, 1, -1), "0 1 -1");
}

TEST(Wsprintf, TextCharactersAndLiterals) {
  EXPECT_EQ(format("%s=%d", "key", 5), "key=5");
  EXPECT_EQ(format("[%6s][%-6s][%.2s][%s]", "abc", "abc", "abc", ""), "[   abc][abc   ][ab][]");
  EXPECT_EQ(format("%s", static_cast<const char*>(nullptr)), "(null)");
  EXPECT_EQ(format("%c%c%3c", 'o', 'k', '!'), "ok  !");
  EXPECT_EQ(format("100%%"), "100%");
  EXPECT_EQ(format("%q|"), "q|");
  EXPECT_EQ(format("end%"), "end");
  EXPECT_EQ(format("%ls", "narrow"), "narrow");
}

TEST(Wsprintf, NeverWritesMoreThan1024Bytes) {
  std::string longText(3000, 'a');
  char buffer[1100];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(wsprintfA(buffer, "%s", longText.c_str()), 1023);
  EXPECT_EQ(buffer[1023], '\0');
  EXPECT_EQ(buffer[1024], '#');
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(wsprintfA(buffer, "x%99999d", 1), 1023);  // a huge width is capped too
  EXPECT_EQ(buffer[1024], '#');
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(wsprintfA(buffer, longText.c_str()), 1023);
  EXPECT_EQ(buffer[1024], '#');
}

TEST(CharUpper, InPlaceAsciiAndSingleCharacters) {
  char text[] = "abc-XYZ 09 \xe4z";
  EXPECT_EQ(CharUpperA(text), text);
  EXPECT_STREQ(text, "ABC-XYZ 09 \xe4Z");
  auto single = [](char c) { return reinterpret_cast<char*>(static_cast<uintptr_t>(c)); };
  EXPECT_EQ(CharUpperA(single('q')), single('Q'));
  EXPECT_EQ(CharUpperA(single('7')), single('7'));
}

}  // namespace
