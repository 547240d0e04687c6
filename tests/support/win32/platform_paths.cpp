// The test support's Windows side: the deliverables' folder found from the
// test program's own place (build-win32/tests beside build-win32/bin),
// temporary folders under the system's temporary path.
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "allocation_hooks.h"
#include "platform_paths.h"
#include "plugin_loader.h"

namespace testsupport {
namespace {

// The folder of the running program, without a trailing separator.
std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of("\\/"));
}

}  // namespace

std::string binDir() {
  const char* dir = std::getenv("SUITE_BIN_DIR");
  if (dir != nullptr && *dir != '\0') return dir;
  const std::string tests = ProgramFolder();
  return tests.substr(0, tests.find_last_of("\\/")) + "\\bin";
}

std::string testModuleDir() {
  return ProgramFolder() + "\\modules";
}

void InstrumentModule(HMODULE module) {
  HookAllocations(module);
}

// Shared sections end with the last process that maps them.
void RemoveSharedSections(const std::string&) {}

TempDir::TempDir() {
  char base[MAX_PATH] = {};
  if (GetTempPathA(MAX_PATH, base) == 0) throw std::runtime_error("GetTempPathA failed");
  static unsigned serial = 0;
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    const std::string candidate = std::string(base) + "suite-test-" +
                                  std::to_string(GetCurrentProcessId()) + "-" +
                                  std::to_string(++serial);
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("no temporary folder could be made");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace testsupport
