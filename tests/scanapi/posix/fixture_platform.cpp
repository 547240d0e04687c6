// The installations on the platform layer: the registry is a file named by
// WINPORT_REGISTRY, the shared section lives under a namespace of its own.
#include "fixture_platform.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "plugin_loader.h"
#include "winport/file.h"

namespace scantest::platform {

namespace {

std::string g_registryPath;

std::string UniqueNamespace() {
  static std::atomic<int> counter{0};
  return "s1test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

}  // namespace

std::string MakeFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "suite-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern + "/";
}

void RemoveFolder(const std::string& folder) {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

std::string BinPath(const std::string& fileName) { return testsupport::binPath(fileName); }
std::string TestModulePath(const std::string& fileName) { return testsupport::testModulePath(fileName); }

std::string ShortFolder(const std::string& folder) {
  char buffer[MAX_PATH] = {};
  DWORD length = GetShortPathNameA(folder.c_str(), buffer, sizeof(buffer));
  if (length == 0 || length >= sizeof(buffer)) throw std::runtime_error("no canonical path");
  return std::string(buffer) + "/";
}

void UseTemporaryFolder(const std::string& folder) {
  if (folder.empty()) {
    unsetenv("TMPDIR");
  } else {
    setenv("TMPDIR", folder.c_str(), 1);
  }
}

// An open file without a name is found among this process's open files.
bool HeldOpen(const std::string& path) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const std::filesystem::path target = std::filesystem::read_symlink(entry.path(), error);
    if (!error && target.string() == path + " (deleted)") return true;
  }
  return false;
}

const bool kOpenSpoolKeepsItsName = false;

void BeginInstallation(const std::string& folder) {
  g_registryPath = folder + "registry.reg";
  setenv("WINPORT_REGISTRY", g_registryPath.c_str(), 1);
  setenv("WINPORT_SHM_NAMESPACE", UniqueNamespace().c_str(), 1);
}

void EndInstallation() {
  if (const char* ns = std::getenv("WINPORT_SHM_NAMESPACE")) testsupport::RemoveSharedSections(ns);
}

void ApplyRegistry(const std::string& text) {
  std::ofstream(g_registryPath, std::ios::trunc) << text;
  chmod(g_registryPath.c_str(), 0644);
}

}  // namespace scantest::platform
