// The test support's Linux side: folders from the build, temporary folders
// with mkdtemp, shared sections in /dev/shm.
#include <sys/mman.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "platform_paths.h"
#include "plugin_loader.h"

namespace testsupport {

std::string binDir() {
  const char* dir = std::getenv("SUITE_BIN_DIR");
  return dir != nullptr && *dir != '\0' ? dir : SUITE_BIN_DIR_DEFAULT;
}

std::string testModuleDir() {
  return SUITE_TEST_MODULES_DIR;
}

void InstrumentModule(HMODULE) {}

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

}  // namespace testsupport
