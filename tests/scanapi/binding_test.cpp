// Attach: which registry key binds, the driver and music binding, the product record.
#include <algorithm>
#include <cctype>
#include <cstring>

#include <gtest/gtest.h>

#include "ferrox_fixture.h"
#include "plugin_loader.h"

namespace scantest {
namespace {

ProductRecord ProductOf(Installation& scanner) {
  ProductRecord product{};
  EXPECT_EQ(scanner.send(CMD_GET_PRODUCT_INFO, &product).status, SCAN_OK);
  return product;
}

TEST(Binding, CanonicalFolderWithTrailingSlashBindsTheDriver) {
  Installation scanner;
  ASSERT_TRUE(scanner.load());
  const ProductRecord product = ProductOf(scanner);
  EXPECT_EQ(product.found, 1);
  EXPECT_EQ(product.productWord, 1);
  EXPECT_STREQ(product.productName, "Test Flatbed");
  EXPECT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  EXPECT_EQ(scanner.callsOf(DRV_OPEN_DEVICE), 1u);
}

TEST(Binding, FolderComparesWithoutRegardToCase) {
  Installation scanner;
  ScannerKey key;
  key.systemDirectory = scanner.libraryFolder();
  std::transform(key.systemDirectory.begin(), key.systemDirectory.end(), key.systemDirectory.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  scanner.writeRegistry({key});
  ASSERT_TRUE(scanner.load());
  EXPECT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
}

// Another spelling of the right folder, or one without the trailing '/', binds nothing.
TEST(Binding, OtherSpellingsOfTheFolderDoNotMatch) {
  const std::string variants[] = {"lib/../lib/", "lib", "lib//"};
  for (const std::string& variant : variants) {
    Installation scanner;
    ScannerKey key;
    const std::string folder = scanner.libraryFolder();
    const std::string base = folder.substr(0, folder.size() - 4);  // without "lib/"
    key.systemDirectory = base + variant;
    scanner.writeRegistry({key});
    ASSERT_TRUE(scanner.load());
    EXPECT_EQ(scanner.send(CMD_OPEN).status, SCAN_ERR_NO_DRIVER) << variant;
    const ProductRecord product = ProductOf(scanner);
    EXPECT_EQ(product.found, kProductNotFound) << variant;
    EXPECT_EQ(product.productWord, 0) << variant;
    EXPECT_STREQ(product.productName, "") << variant;
    EXPECT_EQ(scanner.callsOf(DRV_OPEN_DEVICE), 0u);
  }
}

TEST(Binding, FirstParentWinsOverTheSecond) {
  Installation scanner;
  ScannerKey second;
  second.parent = "Software\\Scanner Information";
  second.name = "ZZZ";
  second.productName = "Second Parent";
  ScannerKey first;
  first.name = "AAA";
  first.productName = "First Parent";
  scanner.writeRegistry({second, first});
  ASSERT_TRUE(scanner.load());
  EXPECT_STREQ(ProductOf(scanner).productName, "First Parent");
}

TEST(Binding, SecondParentAloneBinds) {
  Installation scanner;
  ScannerKey key;
  key.parent = "Software\\Scanner Information";
  key.productName = "Second Parent";
  scanner.writeRegistry({key});
  ASSERT_TRUE(scanner.load());
  EXPECT_STREQ(ProductOf(scanner).productName, "Second Parent");
  EXPECT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
}

// Subkeys enumerate in name order; the search walks from the highest index down.
TEST(Binding, HighestEnumerationIndexWins) {
  Installation scanner;
  ScannerKey a, b, c;
  a.name = "Alpha";
  a.productName = "Alpha";
  b.name = "Bravo";
  b.productName = "Bravo";
  c.name = "Charlie";
  c.productName = "Charlie";
  c.systemDirectory = "/elsewhere/";
  scanner.writeRegistry({a, c, b});
  ASSERT_TRUE(scanner.load());
  EXPECT_STREQ(ProductOf(scanner).productName, "Bravo");
}

// A name that counts as missing leaves all 40 bytes zero, not just the first.
TEST(Binding, ProductNameOf40BytesWithTerminatorIsLeftEmpty) {
  {
    Installation scanner;
    ScannerKey key;
    key.productName = std::string(39, 'N');  // 40 bytes stored
    scanner.writeRegistry({key});
    ASSERT_TRUE(scanner.load());
    const ProductRecord product = ProductOf(scanner);
    EXPECT_EQ(product.found, 1);
    const char zeros[sizeof(product.productName)] = {};
    EXPECT_EQ(std::memcmp(product.productName, zeros, sizeof(zeros)), 0);
    EXPECT_EQ(scanner.send(CMD_OPEN).status, SCAN_OK);
  }
  {
    Installation scanner;
    ScannerKey key;
    key.productName = std::string(38, 'N');
    scanner.writeRegistry({key});
    ASSERT_TRUE(scanner.load());
    EXPECT_EQ(std::strlen(ProductOf(scanner).productName), 38u);
  }
}

TEST(Binding, DriverWithoutEntryIsUnloadedButMusicStaysBound) {
  Installation scanner;
  scanner.installMusic();
  ScannerKey key;
  key.driverPath = testsupport::testModulePath("noentry.dll");
  scanner.writeRegistry({key});
  ASSERT_TRUE(scanner.load());
  EXPECT_EQ(GetModuleHandleA("noentry.dll"), 0u);
  fake::MusicState* music = scanner.music();
  ASSERT_NE(music, nullptr);
  music->logCount = 0;
  EXPECT_EQ(scanner.send(CMD_OPEN).status, SCAN_ERR_NO_DRIVER);
  ASSERT_EQ(music->logCount, 1u);  // the music library still opens
  EXPECT_EQ(music->log[0].slot, 0u);
  EXPECT_EQ(music->lastOpenRecord.nine, 9);
  EXPECT_EQ(music->lastOpenRecord.one, 1u);
}

TEST(Binding, MissingDriverLibraryBindsNeitherDriverNorMusic) {
  Installation scanner;
  scanner.installMusic();
  ScannerKey key;
  key.driverPath = scanner.libraryFolder() + "absent.dll";
  scanner.writeRegistry({key});
  ASSERT_TRUE(scanner.load());
  EXPECT_EQ(GetModuleHandleA("Music.dll"), 0u);
  EXPECT_EQ(scanner.send(CMD_OPEN).status, SCAN_ERR_NO_DRIVER);
}

// Without a driver every command that would reach it answers -7; the
// library's own answers still work.
TEST(Binding, CommandsThatNeedTheDriverAnswerNoDriver) {
  Installation scanner;
  ScannerKey key;
  key.systemDirectory = "/nowhere/";
  scanner.writeRegistry({key});
  ASSERT_TRUE(scanner.load());
  uint8_t buffer[256] = {};
  const uint16_t needDriver[] = {CMD_OPEN, CMD_GET_DEVICE_INFO, CMD_GET_SCAN_LIMITS, CMD_FORWARD_10,
                                 CMD_LOCK, CMD_FORWARD_21, CMD_FORWARD_25, CMD_FORWARD_26,
                                 CMD_FORWARD_27, CMD_FORWARD_28, CMD_FORWARD_31, CMD_FORWARD_32,
                                 CMD_FORWARD_33, CMD_FORWARD_35, CMD_FORWARD_36, CMD_FORWARD_39,
                                 CMD_CALIBRATE, CMD_CLEAN, CMD_FORWARD_44, CMD_FORWARD_46,
                                 CMD_CHECK_FRAME};
  for (uint16_t code : needDriver) EXPECT_EQ(scanner.send(code, buffer).status, SCAN_ERR_NO_DRIVER) << code;
  EXPECT_EQ(scanner.send(CMD_GET_HALFTONE, buffer, 2).status, SCAN_OK);
  EXPECT_EQ(scanner.send(CMD_CLOSE).status, SCAN_OK);
  EXPECT_EQ(scanner.send(CMD_UNLOCK).status, SCAN_ERR_NOT_OWNER);
}

}  // namespace
}  // namespace scantest
