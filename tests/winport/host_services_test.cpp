// The services the host relies on (renaming, standard handles, temporary and
// shared files, the exact size of a global block), checked the same way
// against the platform layer on Linux and against the system on Windows
// (this file builds into both test programs).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "winport/windows.h"

namespace {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed afterwards.
class Scratch {
 public:
  Scratch() {
    static int counter = 0;
    path_ = fs::temp_directory_path() /
            ("winport-move-" + std::to_string(GetCurrentProcessId()) + "-" +
             std::to_string(counter++));
    fs::create_directories(path_);
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

std::string ContentOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

TEST(Renaming, ReplacesOnlyWhenAskedAndNeverAFolder) {
  enum class Target { kNone, kFile, kFolder };
  struct Case {
    const char* name;
    bool sourceExists;
    Target target;
    DWORD flags;
    DWORD error;  // ERROR_SUCCESS: moved
  };
  const Case cases[] = {
      {"to a free name", true, Target::kNone, 0, ERROR_SUCCESS},
      {"over a file, not asked", true, Target::kFile, 0, ERROR_ALREADY_EXISTS},
      {"over a file, asked", true, Target::kFile, MOVEFILE_REPLACE_EXISTING, ERROR_SUCCESS},
      {"over a folder", true, Target::kFolder, MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
      {"a missing file", false, Target::kNone, MOVEFILE_REPLACE_EXISTING, ERROR_FILE_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch dir;
    const std::string from = dir.file("from.bin"), to = dir.file("to.bin");
    if (c.sourceExists) WriteText(from, "new");
    if (c.target == Target::kFile) WriteText(to, "old");
    if (c.target == Target::kFolder) fs::create_directory(to);
    SetLastError(ERROR_SUCCESS);
    const BOOL moved = MoveFileExA(from.c_str(), to.c_str(), c.flags);
    if (c.error == ERROR_SUCCESS) {
      EXPECT_TRUE(moved);
      EXPECT_EQ(ContentOf(to), "new");
      EXPECT_FALSE(fs::exists(from));
    } else {
      EXPECT_FALSE(moved);
      EXPECT_EQ(GetLastError(), c.error);
      EXPECT_EQ(fs::exists(from), c.sourceExists);
      if (c.target == Target::kFile) {
        EXPECT_EQ(ContentOf(to), "old");
      }
    }
  }
}

// The host's spool: a new name in the temporary folder, deleted on close,
// written and read back at chosen positions.
TEST(TemporaryFiles, DeleteOnCloseFilesReadBackAndVanish) {
  char folder[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(sizeof folder, folder);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, sizeof folder);
  ASSERT_TRUE(folder[length - 1] == '/' || folder[length - 1] == '\\') << folder;
  const std::string name =
      std::string(folder) + "winport-spool-" + std::to_string(GetCurrentProcessId()) + ".tmp";
  HANDLE file = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, 0);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(file, "0123456789", 10, &done, nullptr));
  LONG high = 0;
  EXPECT_EQ(SetFilePointer(file, 4, &high, FILE_BEGIN), 4u);
  char back[3] = {};
  ASSERT_TRUE(ReadFile(file, back, 3, &done, nullptr));
  EXPECT_EQ(std::string(back, done), "456");
  ASSERT_TRUE(CloseHandle(file));
  EXPECT_EQ(GetFileAttributesA(name.c_str()), INVALID_FILE_ATTRIBUTES);
}

// A file opened sharing everything, as the host opens plug-ins' files: a
// second handle on it works, and it can be deleted while open.
TEST(SharedFiles, OpenTwiceAndDeleteWhileOpen) {
  Scratch dir;
  const std::string path = dir.file("shared.bin");
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE writer = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, 0);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(writer, "abc", 3, &done, nullptr));
  char got[4] = {};
  ASSERT_TRUE(ReadFile(reader, got, 3, &done, nullptr));
  EXPECT_EQ(std::string(got, done), "abc");
  EXPECT_TRUE(DeleteFileA(path.c_str()));
  EXPECT_TRUE(CloseHandle(reader));
  EXPECT_TRUE(CloseHandle(writer));
  EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(StandardHandles, ErrorOutputTakesWritesAndOtherValuesAreRefused) {
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  ASSERT_NE(error, INVALID_HANDLE_VALUE);
  DWORD done = 1;
  EXPECT_TRUE(WriteFile(error, "", 0, &done, nullptr));
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(GetStdHandle(STD_ERROR_HANDLE), error);
  EXPECT_EQ(GetStdHandle(12345), INVALID_HANDLE_VALUE);
}

// Option blocks and header blocks are read up to GlobalSize: it must be the
// size asked for, never rounded up to the allocator's granule.
TEST(GlobalBlocks, SizeIsTheSizeAskedFor) {
  for (size_t size : {size_t{1}, size_t{7}, size_t{12}, size_t{41}, size_t{1000}, size_t{65537}}) {
    for (UINT flags : {UINT{GMEM_FIXED}, UINT{GHND}}) {
      HGLOBAL block = GlobalAlloc(flags, size);
      ASSERT_NE(block, HGLOBAL{}) << size;
      EXPECT_EQ(static_cast<size_t>(GlobalSize(block)), size) << "flags " << flags;
      GlobalFree(block);
    }
  }
}

}  // namespace
