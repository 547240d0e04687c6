#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "plugin_loader.h"
#include "winport/windows.h"

namespace {

using testsupport::binPath;

constexpr char kModule[] = "winport_test_module.dll";
constexpr char kRefusing[] = "winport_test_refusing.dll";

using BinaryOp = int (*)(int, int);
using Query = int (*)();

std::string events() {
  const char* text = std::getenv("WINPORT_TEST_EVENTS");
  return text != nullptr ? text : "";
}

std::string canonical(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? resolved : "";
}

// True while the object is mapped in the process (whatever our table says).
bool objectLoaded(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
}

class Modules : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("WINPORT_TEST_EVENTS");
    unsetenv("WINPORT_TEST_NESTED");
    unsetenv("WINPORT_TEST_ACCEPT");
    unsetenv("WINPORT_PATH");
  }
  void TearDown() override { SetUp(); }
};

TEST_F(Modules, ExportsByNameAndOrdinalOnlyFromTheTable) {
  testsupport::LoadedModule module(kModule);
  ASSERT_TRUE(module);
  HMODULE handle = module.handle();
  auto add = module.get<BinaryOp>("TestAdd");
  ASSERT_NE(add, nullptr);
  EXPECT_EQ(add(2, 3), 5);
  auto multiply = reinterpret_cast<BinaryOp>(GetProcAddress(handle, MAKEINTRESOURCEA(2)));
  ASSERT_NE(multiply, nullptr);
  EXPECT_EQ(multiply(4, 5), 20);
  EXPECT_EQ(GetProcAddress(handle, MAKEINTRESOURCEA(1)), reinterpret_cast<FARPROC>(add));

  // Exported by the linker but not listed; a dependency's symbol; wrong case;
  // unknown and zero ordinals.
  for (const char* missing : {"TestUnlisted", "GlobalAlloc", "testadd", "", "NoSuchName"}) {
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(handle, missing), nullptr) << missing;
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  }
  EXPECT_EQ(GetProcAddress(handle, MAKEINTRESOURCEA(99)), nullptr);
  EXPECT_EQ(GetProcAddress(handle, MAKEINTRESOURCEA(0)), nullptr);

  const WinportModuleInfo* info = winport_module_info_of(handle);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->exportCount, 5u);
}

TEST_F(Modules, ObjectWithoutDescriptorAnswersItsOwnNamesOnly) {
  // The platform layer's own library has no descriptor.
  std::string path = binPath("libwinport.so");
  HMODULE library = LoadLibraryA(path.c_str());
  ASSERT_NE(library, 0u);
  EXPECT_EQ(winport_module_info_of(library), nullptr);
  EXPECT_EQ(GetProcAddress(library, "GlobalAlloc"), reinterpret_cast<FARPROC>(&GlobalAlloc));
  EXPECT_EQ(GetProcAddress(library, "dlopen"), nullptr);  // found only in a dependency
  EXPECT_EQ(GetProcAddress(library, MAKEINTRESOURCEA(1)), nullptr);
  EXPECT_TRUE(FreeLibrary(library));
  EXPECT_FALSE(FreeLibrary(library));
  EXPECT_EQ(GetProcAddress(library, "GlobalAlloc"), nullptr);
}

TEST_F(Modules, FileNamesMatchWithoutRegardToCase) {
  HMODULE exact = LoadLibraryA(testsupport::testModulePath(kModule).c_str());
  ASSERT_NE(exact, 0u);
  HMODULE upper = LoadLibraryA(testsupport::testModulePath("WINPORT_TEST_MODULE.DLL").c_str());
  EXPECT_EQ(upper, exact);
  EXPECT_EQ(GetModuleHandleA("Winport_Test_Module.Dll"), exact);
  EXPECT_EQ(GetModuleHandleA(testsupport::testModulePath("winport_TEST_module.dll").c_str()), exact);
  EXPECT_EQ(events(), "M+");  // one attach for both loads
  FreeLibrary(upper);
  FreeLibrary(exact);
}

TEST_F(Modules, BareNamesAreSearchedInCurrentFolderThenWinportPath) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("Winport_Test_Module.DLL"), 0u);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);

  setenv("WINPORT_PATH", ("/no/such/folder::" + testsupport::testModuleDir()).c_str(), 1);
  HMODULE viaPath = LoadLibraryA("Winport_Test_Module.DLL");
  EXPECT_NE(viaPath, 0u);
  unsetenv("WINPORT_PATH");

  char previous[PATH_MAX];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(testsupport::testModuleDir().c_str()), 0);
  HMODULE viaCurrentFolder = LoadLibraryA("WINPORT_TEST_MODULE.dll");
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_EQ(viaCurrentFolder, viaPath);
  FreeLibrary(viaCurrentFolder);
  FreeLibrary(viaPath);
}

TEST_F(Modules, ReferencesAreCountedAndDetachRunsWithTheLastFree) {
  std::string path = testsupport::testModulePath(kModule);
  HMODULE first = LoadLibraryA(path.c_str());
  ASSERT_NE(first, 0u);
  EXPECT_EQ(events(), "M+");
  auto attachCount = reinterpret_cast<Query>(GetProcAddress(first, "TestAttachCount"));
  auto attachInstance =
      reinterpret_cast<HINSTANCE (*)()>(GetProcAddress(first, "TestAttachInstance"));
  EXPECT_EQ(attachCount(), 1);
  EXPECT_EQ(attachInstance(), first);  // DllMain got the handle LoadLibraryA returns

  HMODULE second = LoadLibraryA(path.c_str());
  EXPECT_EQ(second, first);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(events(), "M+");
  EXPECT_TRUE(objectLoaded(path));
  EXPECT_EQ(attachCount(), 1);  // still mapped: callable

  EXPECT_TRUE(FreeLibrary(second));
  EXPECT_EQ(events(), "M+M-");
  EXPECT_FALSE(objectLoaded(path));
  EXPECT_EQ(GetModuleHandleA(kModule), 0u);
  SetLastError(0);
  EXPECT_FALSE(FreeLibrary(first));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetProcAddress(first, "TestAdd"), nullptr);

  // Loaded again: a fresh attach under a handle that is not the stale one.
  HMODULE again = LoadLibraryA(path.c_str());
  ASSERT_NE(again, 0u);
  EXPECT_NE(again, first);
  EXPECT_EQ(events(), "M+M-M+");
  EXPECT_EQ(reinterpret_cast<Query>(GetProcAddress(again, "TestAttachCount"))(), 1);
  FreeLibrary(again);
}

TEST_F(Modules, RefusedAttachFailsTheLoadAndUnloads) {
  std::string path = testsupport::testModulePath(kRefusing);
  for (int attempt = 0; attempt < 2; ++attempt) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(path.c_str()), 0u);
    EXPECT_EQ(GetLastError(), ERROR_DLL_INIT_FAILED);
    EXPECT_FALSE(objectLoaded(path));
    EXPECT_EQ(GetModuleHandleA(kRefusing), 0u);
  }
  EXPECT_EQ(events(), "R+R+");  // never a detach for a refused attach

  setenv("WINPORT_TEST_ACCEPT", "1", 1);
  HMODULE accepted = LoadLibraryA(path.c_str());
  ASSERT_NE(accepted, 0u);
  EXPECT_EQ(reinterpret_cast<Query>(GetProcAddress(accepted, "TestRefusingAnswer"))(), 42);
  FreeLibrary(accepted);
  EXPECT_EQ(events(), "R+R+R+R-");
}

TEST_F(Modules, DllMainMayLoadAndFreeOtherModules) {
  setenv("WINPORT_TEST_NESTED", testsupport::testModulePath(kRefusing).c_str(), 1);
  setenv("WINPORT_TEST_ACCEPT", "1", 1);
  HMODULE outer = LoadLibraryA(testsupport::testModulePath(kModule).c_str());
  ASSERT_NE(outer, 0u);
  HMODULE inner = reinterpret_cast<HMODULE (*)()>(GetProcAddress(outer, "TestNestedModule"))();
  EXPECT_NE(inner, 0u);
  EXPECT_EQ(GetModuleHandleA(kRefusing), inner);
  EXPECT_TRUE(FreeLibrary(outer));
  // The inner module is freed inside the outer one's detach and unloaded
  // as soon as that detach returns, still within the outer FreeLibrary.
  EXPECT_EQ(events(), "M+R+M-R-");
  EXPECT_EQ(GetModuleHandleA(kRefusing), 0u);
}

TEST_F(Modules, MissingBadAndInvalidArguments) {
  testsupport::TempDir folder;
  std::ofstream(folder.file("notes.dll")) << "not a shared object";
  struct Case {
    const char* name;
    DWORD error;
  };
  std::string notObject = folder.file("notes.dll");
  std::string missing = folder.file("missing.dll");
  for (const Case& c :
       {Case{missing.c_str(), ERROR_MOD_NOT_FOUND}, Case{"no_such_module.dll", ERROR_MOD_NOT_FOUND},
        Case{notObject.c_str(), ERROR_BAD_FORMAT}, Case{folder.path().c_str(), ERROR_MOD_NOT_FOUND},
        Case{"", ERROR_INVALID_PARAMETER}, Case{nullptr, ERROR_INVALID_PARAMETER}}) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(c.name), 0u) << (c.name ? c.name : "(null)");
    EXPECT_EQ(GetLastError(), c.error) << (c.name ? c.name : "(null)");
  }
  EXPECT_FALSE(FreeLibrary(0));
  EXPECT_FALSE(FreeLibrary(0x12345));
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(0x12345, "TestAdd"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetModuleHandleA("no_such_module.dll"), 0u);
}

// A library someone else could have changed is refused before it is opened:
// the file or a folder above it writable by others (a sticky folder is fine),
// or owned by another user (those cases need root to set up).
TEST_F(Modules, LibrariesOthersCanChangeAreRefused) {
  struct Case {
    const char* name;
    mode_t fileMode;
    mode_t folderMode;
    bool otherOwnerOfFile;
    bool otherOwnerOfFolder;
    const char* refusal;  // nullptr: loads
  };
  const Case cases[] = {
      {"owner only", 0755, 0755, false, false, nullptr},
      {"sticky folder", 0755, 01777, false, false, nullptr},
      {"group writes file", 0775, 0755, false, false, "users other than its owner can write it"},
      {"others write file", 0757, 0755, false, false, "users other than its owner can write it"},
      {"others write folder", 0755, 0777, false, false,
       "a folder on its path can be written by users other than its owner"},
      {"file of another user", 0755, 0755, true, false, "it belongs to another user"},
      {"folder of another user", 0755, 0755, false, true, "a folder on its path belongs to another user"},
  };
  for (const Case& c : cases) {
    if ((c.otherOwnerOfFile || c.otherOwnerOfFolder) && geteuid() != 0) continue;
    testsupport::TempDir top;
    const std::string folder = top.file("lib");
    const std::string path = folder + "/" + kModule;
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    std::filesystem::copy_file(testsupport::testModulePath(kModule), path);
    ASSERT_EQ(chmod(path.c_str(), c.fileMode), 0);
    ASSERT_EQ(chmod(folder.c_str(), c.folderMode), 0);
    ASSERT_TRUE(!c.otherOwnerOfFile || chown(path.c_str(), 65534, 65534) == 0);
    ASSERT_TRUE(!c.otherOwnerOfFolder || chown(folder.c_str(), 65534, 65534) == 0);
    SetLastError(0);
    HMODULE module = LoadLibraryA(path.c_str());
    if (c.refusal == nullptr) {
      EXPECT_NE(module, 0u) << c.name;
      if (module != 0) FreeLibrary(module);
      continue;
    }
    EXPECT_EQ(module, 0u) << c.name;
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << c.name;
    char refused[PATH_MAX + 200] = {};
    ASSERT_LT(winport_last_module_refusal(refused, sizeof refused), sizeof refused);
    EXPECT_EQ(std::string(refused), canonical(path) + ": " + c.refusal) << c.name;
    EXPECT_FALSE(objectLoaded(canonical(path))) << c.name;
  }
}

TEST_F(Modules, ModuleFileNameAndItsTruncation) {
  testsupport::LoadedModule module(kModule);
  ASSERT_TRUE(module);
  std::string expected = canonical(testsupport::testModulePath(kModule));
  char buffer[PATH_MAX];
  EXPECT_EQ(GetModuleFileNameA(module.handle(), buffer, sizeof buffer), expected.size());
  EXPECT_EQ(buffer, expected);

  DWORD length = static_cast<DWORD>(expected.size());
  EXPECT_EQ(GetModuleFileNameA(module.handle(), buffer, length + 1), length);  // exact fit
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(module.handle(), buffer, length), length);  // one short
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(buffer, expected.substr(0, length - 1));
  EXPECT_EQ(GetModuleFileNameA(module.handle(), buffer, 1), 1u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(GetModuleFileNameA(module.handle(), nullptr, 0), 0u);

  EXPECT_EQ(GetModuleFileNameA(0, buffer, sizeof buffer), canonical("/proc/self/exe").size());
  EXPECT_EQ(buffer, canonical("/proc/self/exe"));
  EXPECT_EQ(GetModuleFileNameA(0x12345, buffer, sizeof buffer), 0u);
}

TEST(ShortPathName, CanonicalFormOfExistingPaths) {
  std::string roundabout = testsupport::testModuleDir() + "/./../modules/" + kModule;
  std::string expected = canonical(roundabout);
  char buffer[PATH_MAX];
  DWORD length = static_cast<DWORD>(expected.size());
  EXPECT_EQ(GetShortPathNameA(roundabout.c_str(), buffer, sizeof buffer), length);
  EXPECT_EQ(buffer, expected);
  EXPECT_EQ(GetShortPathNameA(roundabout.c_str(), buffer, length + 1), length);
  EXPECT_EQ(GetShortPathNameA(roundabout.c_str(), buffer, length), length + 1);  // size needed
  EXPECT_EQ(GetShortPathNameA(roundabout.c_str(), nullptr, 0), length + 1);
  SetLastError(0);
  EXPECT_EQ(GetShortPathNameA("/no/such/file", buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

}  // namespace
