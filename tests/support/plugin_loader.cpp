#include "plugin_loader.h"

#include <sys/mman.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace testsupport {

std::string binDir() {
  const char* dir = std::getenv("SUITE_BIN_DIR");
  return dir != nullptr && *dir != '\0' ? dir : SUITE_BIN_DIR_DEFAULT;
}

std::string binPath(const std::string& fileName) {
  return binDir() + "/" + fileName;
}

std::string testModuleDir() {
  return SUITE_TEST_MODULES_DIR;
}

std::string testModulePath(const std::string& fileName) {
  return testModuleDir() + "/" + fileName;
}

void RemoveSharedSections(const std::string& ns) {
  if (ns.empty()) return;
  const std::string prefix = "winport-" + ns + "-";
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) == 0) shm_unlink(("/" + name).c_str());
  }
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "suite-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

LoadedModule::LoadedModule(const std::string& fileName) {
  std::string path = fileName;
  if (fileName.find('/') == std::string::npos) {
    path = binPath(fileName);
    if (!std::filesystem::exists(path)) path = testModulePath(fileName);
  }
  module_ = LoadLibraryA(path.c_str());
}

LoadedModule::~LoadedModule() {
  if (module_ != 0) FreeLibrary(module_);
}

}  // namespace testsupport
