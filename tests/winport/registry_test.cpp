// The registry over a .reg file: parsing, lookups, enumeration order, the
// size rules of RegQueryValueExA, reporting, refusal and reloading.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "plugin_loader.h"
#include "winport/registry.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Redirects file descriptor 2 into a temporary file until finish().
class StderrCapture {
 public:
  StderrCapture() {
    std::fflush(stderr);
    saved_ = dup(2);
    file_ = std::tmpfile();
    dup2(fileno(file_), 2);
  }
  ~StderrCapture() { finish(); }
  std::string finish() {
    if (file_ == nullptr) return text_;
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    std::rewind(file_);
    char chunk[512];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file_)) > 0) text_.append(chunk, got);
    std::fclose(file_);
    file_ = nullptr;
    return text_;
  }

 private:
  int saved_ = -1;
  std::FILE* file_ = nullptr;
  std::string text_;
};

size_t occurrences(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("WINPORT_REGISTRY", path_.c_str(), 1); }
  void TearDown() override { unsetenv("WINPORT_REGISTRY"); }

  // Replaces the file as editors do (new inode), owner-only writable.
  void writeFile(const std::string& text, const std::string& path) const {
    std::string temporary = path + ".new";
    std::ofstream(temporary, std::ios::binary) << text;
    chmod(temporary.c_str(), 0644);
    ASSERT_EQ(rename(temporary.c_str(), path.c_str()), 0);
  }
  void writeReg(const std::string& body) const { writeFile("REGEDIT4\n" + body, path_); }

  static HKEY open(HKEY parent, const char* path) {
    HKEY key = 0;
    return RegOpenKeyExA(parent, path, 0, KEY_READ, &key) == ERROR_SUCCESS ? key : 0;
  }
  static HKEY openLm(const char* path) { return open(HKEY_LOCAL_MACHINE, path); }

  // The value's bytes and type, or "<missing>".
  static std::string query(HKEY key, const char* name, DWORD* type = nullptr) {
    BYTE buffer[512];
    DWORD size = sizeof buffer;
    if (RegQueryValueExA(key, name, nullptr, type, buffer, &size) != ERROR_SUCCESS) {
      return "<missing>";
    }
    return std::string(reinterpret_cast<char*>(buffer), size);
  }
  static std::string queryLm(const char* keyPath, const char* name, DWORD* type = nullptr) {
    HKEY key = openLm(keyPath);
    if (key == 0) return "<no key>";
    std::string value = query(key, name, type);
    RegCloseKey(key);
    return value;
  }

  static std::vector<std::string> subkeys(HKEY key) {
    std::vector<std::string> names;
    char name[300];
    for (DWORD i = 0;; ++i) {
      DWORD length = sizeof name;
      LONG rc = RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (rc != ERROR_SUCCESS) {
        EXPECT_EQ(rc, static_cast<LONG>(ERROR_NO_MORE_ITEMS));
        return names;
      }
      EXPECT_EQ(length, strlen(name));
      names.emplace_back(name);
    }
  }

  testsupport::TempDir dir_;
  std::string path_ = dir_.file("test.reg");
};

TEST_F(RegistryTest, BothHeadersParseAlikeWithCrLfAndByteOrderMark) {
  const std::string body =
      "\r\n[HKEY_LOCAL_MACHINE\\Software\\Acme]\r\n"
      "\"Name\"=\"Scanner\"\r\n\"Count\"=dword:0000002a\r\n";
  const std::string withMark = "\xEF\xBB\xBFWindows Registry Editor Version 5.00";
  for (const std::string& header : {std::string("REGEDIT4"), withMark}) {
    SCOPED_TRACE(header);
    writeFile(header + "\r\n" + body, path_);
    DWORD type = 0;
    EXPECT_EQ(queryLm("Software\\Acme", "Name", &type), std::string("Scanner\0", 8));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(queryLm("Software\\Acme", "Count", &type), std::string("\x2a\0\0\0", 4));
    EXPECT_EQ(type, REG_DWORD);
  }
}

TEST_F(RegistryTest, StringEscapesAndComments) {
  writeReg(
      "; a comment before the first key\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Acme]   ; trailing comment\n"
      "\"Dir\"=\"C:\\\\Scan\\\\\"\n"
      "\"Quote\"=\"say \\\"hi\\\"\"  ; comment after data\n"
      "  ; an indented comment\n"
      "\"Semi\"=\"a;b\"\n"
      "@=\"default\"\n");
  EXPECT_EQ(queryLm("Software\\Acme", "Dir"), std::string("C:\\Scan\\\0", 9));
  EXPECT_EQ(queryLm("Software\\Acme", "Quote"), std::string("say \"hi\"\0", 9));
  EXPECT_EQ(queryLm("Software\\Acme", "Semi"), std::string("a;b\0", 4));
  EXPECT_EQ(queryLm("Software\\Acme", nullptr), std::string("default\0", 8));
  EXPECT_EQ(queryLm("Software\\Acme", ""), std::string("default\0", 8));
}

TEST_F(RegistryTest, DwordAndHexValuesKeepTheirTypesAndBytes) {
  writeReg(
      "[HKEY_CURRENT_USER\\Data]\n"
      "\"Max\"=DWORD:FFFFFFFF\n"
      "\"One\"=dword:1\n"
      "\"Bin\"=hex:01,02,ff\n"
      "\"Expand\"=hex(2):25,41,25,00\n"
      "\"Multi\"=hex(7):61,00,\\\n"
      "    62,00,\\\n"
      "  00\n"
      "\"Empty\"=hex:\n"
      "\"None\"=hex(0):7f\n"
      "\"After\"=\"still read\"\n");
  HKEY key = open(HKEY_CURRENT_USER, "Data");
  ASSERT_NE(key, 0u);
  DWORD type = 0;
  EXPECT_EQ(query(key, "Max", &type), "\xff\xff\xff\xff");
  EXPECT_EQ(query(key, "One", &type), std::string("\1\0\0\0", 4));
  EXPECT_EQ(query(key, "Bin", &type), "\x01\x02\xff");
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(query(key, "Expand", &type), std::string("%A%\0", 4));
  EXPECT_EQ(type, REG_EXPAND_SZ);
  EXPECT_EQ(query(key, "Multi", &type), std::string("a\0b\0\0", 5));
  EXPECT_EQ(type, REG_MULTI_SZ);
  EXPECT_EQ(query(key, "Empty", &type), "");
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(query(key, "None", &type), "\x7f");
  EXPECT_EQ(type, REG_NONE);
  EXPECT_EQ(query(key, "After"), std::string("still read\0", 11));
  RegCloseKey(key);
}

TEST_F(RegistryTest, KeyAndValueNamesIgnoreCaseAndIntermediateKeysExist) {
  writeReg(
      "[HKEY_LOCAL_MACHINE\\Software\\Acme\\Deep\\Leaf]\n"
      "\"Product Name\"=\"X\"\n"
      "[hkey_local_machine\\SOFTWARE\\acme]\n"
      "\"PRODUCT NAME\"=\"Y\"\n");
  EXPECT_EQ(queryLm("software\\ACME\\deep\\LEAF", "product name"), std::string("X\0", 2));
  EXPECT_EQ(queryLm("Software\\Acme", "Product Name"), std::string("Y\0", 2));
  HKEY acme = openLm("SOFTWARE\\ACME\\");  // a trailing backslash is tolerated
  ASSERT_NE(acme, 0u);
  EXPECT_EQ(subkeys(acme), std::vector<std::string>{"Deep"});  // first spelling kept
  RegCloseKey(acme);
  EXPECT_EQ(openLm("Software\\\\Acme"), 0u);
  EXPECT_EQ(openLm("\\Software"), 0u);
}

// The scanner search walks subkeys from the highest index down, so the order
// is part of the contract: names compare with letters folded to upper case.
TEST_F(RegistryTest, SubkeysEnumerateInCaseInsensitiveOrder) {
  writeReg(
      "[HKEY_LOCAL_MACHINE\\S\\beta]\n[HKEY_LOCAL_MACHINE\\S\\GAMMA]\n"
      "[HKEY_LOCAL_MACHINE\\S\\a_b]\n[HKEY_LOCAL_MACHINE\\S\\Alpha]\n"
      "[HKEY_LOCAL_MACHINE\\S\\AB]\n");
  HKEY s = openLm("S");
  ASSERT_NE(s, 0u);
  EXPECT_EQ(subkeys(s), (std::vector<std::string>{"AB", "Alpha", "a_b", "beta", "GAMMA"}));
  DWORD count = 0, longest = 0;
  ASSERT_EQ(RegQueryInfoKeyA(s, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(longest, 5u);

  char name[8] = "unused";
  DWORD length = 5;  // "GAMMA" needs 6 with its NUL
  EXPECT_EQ(RegEnumKeyExA(s, count - 1, name, &length, nullptr, nullptr, nullptr, nullptr),
            static_cast<LONG>(ERROR_MORE_DATA));
  EXPECT_EQ(length, 5u);
  EXPECT_STREQ(name, "unused");
  length = 6;
  EXPECT_EQ(RegEnumKeyExA(s, count - 1, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "GAMMA");
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(RegEnumKeyExA(s, count, name, &length, nullptr, nullptr, nullptr, nullptr),
            static_cast<LONG>(ERROR_NO_MORE_ITEMS));
  RegCloseKey(s);
}

// A string is taken only when its stored size (with the NUL) fits the buffer.
TEST_F(RegistryTest, QueryValueReportsStoredSizeAndRefusesShortBuffers) {
  const std::string text(39, 'p');  // stored as 40 bytes
  writeReg("[HKEY_LOCAL_MACHINE\\K]\n\"Product Name\"=\"" + text + "\"\n");
  HKEY key = openLm("K");
  ASSERT_NE(key, 0u);
  DWORD size = 0, type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Product Name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 40u);
  EXPECT_EQ(type, REG_SZ);

  char buffer[41];
  std::memset(buffer, '#', sizeof buffer);
  size = 39;
  EXPECT_EQ(RegQueryValueExA(key, "Product Name", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(buffer), &size),
            static_cast<LONG>(ERROR_MORE_DATA));
  EXPECT_EQ(size, 40u);
  EXPECT_EQ(buffer[0], '#');  // untouched

  size = 40;
  EXPECT_EQ(RegQueryValueExA(key, "Product Name", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(buffer), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 40u);
  EXPECT_EQ(std::string(buffer), text);
  EXPECT_EQ(buffer[40], '#');

  EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, &size),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  DWORD reserved = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Product Name", &reserved, nullptr, nullptr, &size),
            static_cast<LONG>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(RegQueryValueExA(key, "Product Name", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(buffer), nullptr),
            static_cast<LONG>(ERROR_INVALID_PARAMETER));
  RegCloseKey(key);
}

TEST_F(RegistryTest, QueryInfoKeyReportsCountsAndLongestItems) {
  writeReg(
      "[HKEY_LOCAL_MACHINE\\K\\Sub]\n[HKEY_LOCAL_MACHINE\\K\\Longer Name]\n"
      "[HKEY_LOCAL_MACHINE\\K]\n\"A\"=\"12345\"\n\"Longest name\"=dword:1\n");
  HKEY key = openLm("K");
  ASSERT_NE(key, 0u);
  DWORD subKeys = 0, maxSub = 0, maxClass = 9, values = 0, maxName = 0, maxData = 0;
  FILETIME written{};
  char className[4] = "xyz";
  DWORD classLength = sizeof className;
  ASSERT_EQ(RegQueryInfoKeyA(key, className, &classLength, nullptr, &subKeys, &maxSub, &maxClass,
                             &values, &maxName, &maxData, nullptr, &written),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 2u);
  EXPECT_EQ(maxSub, 11u);
  EXPECT_EQ(maxClass, 0u);
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(maxName, 12u);
  EXPECT_EQ(maxData, 6u);
  EXPECT_STREQ(className, "");
  EXPECT_EQ(classLength, 0u);
  EXPECT_NE(written.dwHighDateTime, 0u);  // the file's time, counted from 1601
  EXPECT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(RegistryTest, DeletionLinesRemoveWhatWasReadBefore) {
  writeReg(
      "[HKEY_LOCAL_MACHINE\\K\\Gone\\Child]\n\"V\"=\"1\"\n"
      "[HKEY_LOCAL_MACHINE\\K]\n\"Keep\"=\"1\"\n\"Drop\"=\"1\"\n\"Drop\"=-\n"
      "[-HKEY_LOCAL_MACHINE\\K\\Gone]\n\"Ignored\"=\"after a deletion\"\n"
      "[-HKEY_LOCAL_MACHINE\\K\\Never\\Was]\n");
  StderrCapture capture;
  HKEY key = openLm("K");
  ASSERT_NE(key, 0u);
  EXPECT_EQ(subkeys(key), std::vector<std::string>{});
  EXPECT_EQ(query(key, "Keep"), std::string("1\0", 2));
  EXPECT_EQ(query(key, "Drop"), "<missing>");
  EXPECT_EQ(query(key, "Ignored"), "<missing>");
  RegCloseKey(key);
  EXPECT_EQ(capture.finish(), "");
}

// A bad line is skipped, the rest is used, and the file is reported once
// (with its path and the first bad line) however often it is consulted.
TEST_F(RegistryTest, MalformedLinesAreReportedOnceWithPathAndLine) {
  writeReg(
      "[HKEY_LOCAL_MACHINE\\K]\n"
      "\"Good\"=\"1\"\n"
      "\"Bad escape\"=\"C:\\dir\"\n"
      "\"Too long\"=dword:123456789\n"
      "garbage\n"
      "\"Later\"=\"2\"\n");
  StderrCapture capture;
  EXPECT_EQ(queryLm("K", "Good"), std::string("1\0", 2));
  EXPECT_EQ(queryLm("K", "Later"), std::string("2\0", 2));
  EXPECT_EQ(queryLm("K", "Bad escape"), "<missing>");
  EXPECT_EQ(queryLm("K", "Too long"), "<missing>");
  std::string messages = capture.finish();
  EXPECT_EQ(occurrences(messages, path_), 1u) << messages;
  EXPECT_THAT(messages, HasSubstr("line 4"));  // the header is line 1
  EXPECT_THAT(messages, HasSubstr("3 malformed lines"));
}

TEST_F(RegistryTest, FileWithoutHeaderOrInUtf16IsAnEmptyRegistry) {
  writeFile("[HKEY_LOCAL_MACHINE\\K]\n\"V\"=\"1\"\n", path_);
  StderrCapture capture;
  EXPECT_EQ(openLm("K"), 0u);
  EXPECT_THAT(capture.finish(), HasSubstr(path_ + ", line 1"));

  writeFile(std::string("\xFF\xFER\0E\0G\0", 8), path_);
  StderrCapture utf16;
  EXPECT_EQ(openLm("K"), 0u);
  EXPECT_THAT(utf16.finish(), HasSubstr("UTF-16"));
}

// Hostile shapes end in a skipped line, never in unbounded work or a crash.
TEST_F(RegistryTest, OversizedNamesAndDepthsAreRefused) {
  std::string deep = "[HKEY_LOCAL_MACHINE";
  for (int i = 0; i < 600; ++i) deep += "\\d";
  writeReg(deep + "]\n\"V\"=\"1\"\n[HKEY_LOCAL_MACHINE\\" + std::string(256, 'n') +
           "]\n[HKEY_LOCAL_MACHINE\\" + std::string(255, 'n') + "]\n[HKEY_NOWHERE\\K]\n"
           "\"Orphan\"=\"1\"\n\"Tail\"=hex:01,\\\n");
  StderrCapture capture;
  HKEY root = HKEY_LOCAL_MACHINE;
  EXPECT_EQ(subkeys(root), std::vector<std::string>{std::string(255, 'n')});
  EXPECT_THAT(capture.finish(), HasSubstr("4 malformed lines"));
}

TEST_F(RegistryTest, RandomGarbageAfterTheHeaderNeverBreaksTheParser) {
  std::mt19937 random(1234);
  const std::string alphabet = "[]\\\"@=-;:,()hexdwordHKEY_LOCAL_MACHINE01fF \t\r\n";
  StderrCapture capture;
  for (int round = 0; round < 200; ++round) {
    std::string text = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n";
    for (int i = 0; i < 400; ++i) text += alphabet[random() % alphabet.size()];
    writeFile(text, path_);
    HKEY key = openLm("K");
    if (key != 0) {
      query(key, "x");
      subkeys(key);
      RegCloseKey(key);
    }
  }
}

TEST_F(RegistryTest, HandlesAreCheckedAndKeepTheContentTheyWereOpenedOn) {
  writeReg("[HKEY_LOCAL_MACHINE\\K]\n\"V\"=\"old\"\n");
  HKEY old = openLm("K");
  ASSERT_NE(old, 0u);
  EXPECT_LT(old, HKEY_CLASSES_ROOT);
  HKEY again = open(old, nullptr);  // a second handle on the same key
  ASSERT_NE(again, 0u);
  EXPECT_NE(again, old);

  writeReg("[HKEY_LOCAL_MACHINE\\K]\n\"V\"=\"new\"\n");
  EXPECT_EQ(query(old, "V"), std::string("old\0", 4));
  EXPECT_EQ(queryLm("K", "V"), std::string("new\0", 4));

  EXPECT_EQ(RegCloseKey(old), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(old), static_cast<LONG>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(query(old, "V"), "<missing>");
  EXPECT_EQ(query(again, "V"), std::string("old\0", 4));
  EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(0), static_cast<LONG>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);  // predefined: always fine
  HKEY result = 123;
  EXPECT_EQ(RegOpenKeyExA(0x80000004u, "K", 0, KEY_READ, &result),
            static_cast<LONG>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Nope", 0, KEY_ALL_ACCESS, &result),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
}

TEST_F(RegistryTest, InPlaceRewriteOfAnotherSizeIsNoticed) {
  writeReg("[HKEY_LOCAL_MACHINE\\K]\n\"V\"=\"1\"\n");
  EXPECT_EQ(queryLm("K", "V"), std::string("1\0", 2));
  std::ofstream(path_, std::ios::binary | std::ios::trunc)
      << "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"V\"=\"22\"\n";
  EXPECT_EQ(queryLm("K", "V"), std::string("22\0", 3));
}

TEST_F(RegistryTest, VariableSelectsTheFileAndAMissingNamedFileIsEmpty) {
  std::string other = dir_.file("other.reg");
  writeReg("[HKEY_LOCAL_MACHINE\\K]\n\"V\"=\"first\"\n");
  writeFile("REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"V\"=\"second\"\n", other);
  EXPECT_EQ(queryLm("K", "V"), std::string("first\0", 6));
  setenv("WINPORT_REGISTRY", other.c_str(), 1);
  EXPECT_EQ(queryLm("K", "V"), std::string("second\0", 7));

  std::string missing = dir_.file("missing.reg");
  setenv("WINPORT_REGISTRY", missing.c_str(), 1);
  StderrCapture capture;
  EXPECT_EQ(openLm("K"), 0u);
  EXPECT_EQ(openLm("K"), 0u);
  EXPECT_EQ(occurrences(capture.finish(), missing), 1u);
}

// The file names libraries to load: others must not be able to change it.
TEST_F(RegistryTest, FileWritableByOthersIsRefusedUntilMended) {
  writeReg("[HKEY_LOCAL_MACHINE\\K]\n\"Driver Pathname\"=\"/lib/driver.so\"\n");
  for (mode_t mode : {0664, 0646}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(chmod(path_.c_str(), mode), 0);
    StderrCapture capture;
    EXPECT_EQ(openLm("K"), 0u);
    EXPECT_EQ(openLm("K"), 0u);
    std::string messages = capture.finish();
    EXPECT_EQ(occurrences(messages, path_), 1u) << messages;
    EXPECT_THAT(messages, HasSubstr("refused"));
  }
  ASSERT_EQ(chmod(path_.c_str(), 0644), 0);
  EXPECT_EQ(queryLm("K", "Driver Pathname"), std::string("/lib/driver.so\0", 15));
}

TEST_F(RegistryTest, FileOfAnotherUserIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a file away needs root";
  writeReg("[HKEY_LOCAL_MACHINE\\K]\n");
  ASSERT_EQ(chown(path_.c_str(), 65534, 65534), 0);
  StderrCapture capture;
  EXPECT_EQ(openLm("K"), 0u);
  EXPECT_THAT(capture.finish(), HasSubstr("another user"));
  ASSERT_EQ(chown(path_.c_str(), 0, 0), 0);
  HKEY key = openLm("K");
  EXPECT_NE(key, 0u);
  RegCloseKey(key);
}

TEST_F(RegistryTest, DirectoryInsteadOfAFileIsRefused) {
  ASSERT_EQ(mkdir(path_.c_str(), 0755), 0);
  StderrCapture capture;
  EXPECT_EQ(openLm("K"), 0u);
  EXPECT_THAT(capture.finish(), HasSubstr("not a regular file"));
}

}  // namespace
