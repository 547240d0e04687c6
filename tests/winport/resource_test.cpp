#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plugin_loader.h"
#include "winport/windows.h"

namespace {

constexpr char kFilter[] = "Test Images~*.tst~";  // string 1000 of the test module
constexpr int kFilterLength = sizeof kFilter - 1;

class Strings : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(module_); }
  HINSTANCE instance() const { return module_.handle(); }
  testsupport::LoadedModule module_{"winport_test_module.dll"};
};

TEST_F(Strings, CopiesWholeStringsWhenTheyFit) {
  char buffer[256];
  EXPECT_EQ(LoadStringA(instance(), 1000, buffer, sizeof buffer), kFilterLength);
  EXPECT_STREQ(buffer, kFilter);
  EXPECT_EQ(LoadStringA(instance(), 1, buffer, sizeof buffer), 11);
  EXPECT_STREQ(buffer, "Test Module");
  EXPECT_EQ(LoadStringA(instance(), 1000, buffer, kFilterLength + 1), kFilterLength);  // exact fit
  EXPECT_STREQ(buffer, kFilter);
}

TEST_F(Strings, TruncatesToSizeMinusOneAndTerminates) {
  char buffer[400];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(LoadStringA(instance(), 1000, buffer, kFilterLength), kFilterLength - 1);
  EXPECT_EQ(std::string(buffer), std::string(kFilter, kFilterLength - 1));
  EXPECT_EQ(buffer[kFilterLength], 'x');  // nothing written past size

  EXPECT_EQ(LoadStringA(instance(), 1000, buffer, 1), 0);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], std::string(kFilter, kFilterLength - 1)[1]);  // untouched

  // The 300-character string in the usual 256-byte buffer.
  EXPECT_EQ(LoadStringA(instance(), 2, buffer, 256), 255);
  EXPECT_EQ(std::strlen(buffer), 255u);
  EXPECT_EQ(LoadStringA(instance(), 2, buffer, sizeof buffer), 300);
}

TEST_F(Strings, MissingStringsAndBadArguments) {
  char buffer[16] = "untouched";
  SetLastError(0);
  EXPECT_EQ(LoadStringA(instance(), 4242, buffer, sizeof buffer), 0);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  std::strcpy(buffer, "untouched");
  EXPECT_EQ(LoadStringA(instance(), 7, buffer, sizeof buffer), 0);  // id of a bitmap, not a string
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(LoadStringA(instance(), 0x10000 + 1000, buffer, sizeof buffer), 0);  // beyond 16 bits

  std::strcpy(buffer, "untouched");
  EXPECT_EQ(LoadStringA(instance(), 1000, nullptr, 16), 0);
  EXPECT_EQ(LoadStringA(instance(), 1000, buffer, 0), 0);
  EXPECT_EQ(LoadStringA(instance(), 1000, buffer, -5), 0);
  EXPECT_STREQ(buffer, "untouched");

  EXPECT_EQ(LoadStringA(0x12345, 1000, buffer, sizeof buffer), 0);
  EXPECT_EQ(buffer[0], '\0');
}

TEST_F(Strings, OtherResourcesByTypeAndId) {
  const WinportResource* bitmap = winport_find_resource(instance(), RT_BITMAP, 7);
  ASSERT_NE(bitmap, nullptr);
  ASSERT_EQ(bitmap->size, 6u);
  EXPECT_EQ(std::memcmp(bitmap->data, "BM", 2), 0);
  SetLastError(0);
  EXPECT_EQ(winport_find_resource(instance(), RT_DIALOG, 7), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  EXPECT_EQ(winport_find_resource(0x12345, RT_BITMAP, 7), nullptr);
}

}  // namespace
