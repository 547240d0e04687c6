// Loading the built modules by file name from build/bin, as the host does.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "allocation_hooks.h"
#include "winport/windows.h"

namespace testsupport {

// The folder holding the built deliverables (SUITE_BIN_DIR, else the build's bin folder).
std::string binDir();
// binDir() + "/" + fileName.
std::string binPath(const std::string& fileName);
// The folder of the modules built only for tests (kept out of the deliverables' folder).
std::string testModuleDir();
// testModuleDir() + "/" + fileName.
std::string testModulePath(const std::string& fileName);
// Removes the shared data sections a test made under the namespace `ns` (the
// value it gave WINPORT_SHM_NAMESPACE), so test runs leave none behind.
void RemoveSharedSections(const std::string& ns);

// A handle of the platform's type made from a number (the forged handles of
// the tests), and a handle as a number (for messages): handles are numbers on
// Linux, pointers on Windows.
template <typename Handle = HGLOBAL>
Handle HandleFromNumber(uintptr_t number) {
  if constexpr (std::is_pointer_v<Handle>) {
    return reinterpret_cast<Handle>(number);
  } else {
    return static_cast<Handle>(number);
  }
}
template <typename Handle>
uintptr_t NumberOf(Handle handle) {
  if constexpr (std::is_pointer_v<Handle>) {
    return reinterpret_cast<uintptr_t>(handle);
  } else {
    return static_cast<uintptr_t>(handle);
  }
}

// A fresh empty folder for one test's files; removed with its content by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A module loaded with LoadLibraryA and freed at the end of the scope.
class LoadedModule {
 public:
  explicit LoadedModule(const std::string& fileName);  // a path, or a file name in binDir() or testModuleDir()
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  HMODULE handle() const { return module_; }
  explicit operator bool() const { return module_ != 0; }

  // The export `name`, cast to F; nullptr when missing.
  template <typename F>
  F get(const char* name) const {
    // Through the generic function type, whatever the platform declares FARPROC as.
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
  }

 private:
  HMODULE module_ = 0;
};

}  // namespace testsupport
