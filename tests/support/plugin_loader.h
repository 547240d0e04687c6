// Loading the built modules by file name from build/bin, as the host does.
#pragma once

#include <string>

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
    return reinterpret_cast<F>(GetProcAddress(module_, name));
  }

 private:
  HMODULE module_ = 0;
};

}  // namespace testsupport
