#include "config.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "debug.h"

#ifndef FERROX_SANE_SYSTEM_CONFIG_DIR
#define FERROX_SANE_SYSTEM_CONFIG_DIR "/etc/sane.d"
#endif
#ifndef FERROX_SANE_DEFAULT_SUITE
#define FERROX_SANE_DEFAULT_SUITE "/usr/local/lib/ferrox"
#endif
// The suite folder of an installation, relative to the backend's own folder.
#ifndef FERROX_SANE_SUITE_FROM_BACKEND
#define FERROX_SANE_SUITE_FROM_BACKEND "../../ferrox"
#endif

namespace ferroxsane {

namespace {

constexpr const char* kConfigFile = "ferrox.conf";

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// The suite folder of the installation this backend lies in
// (<prefix>/lib/<multiarch>/sane -> <prefix>/lib/ferrox) when it holds the
// scanner library, so that a package installed under any prefix needs no
// ferrox.conf; else the compiled-in folder.
std::string DefaultSuite() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&DefaultSuite), &info) == 0 || info.dli_fname == nullptr)
    return FERROX_SANE_DEFAULT_SUITE;
  std::string candidate = info.dli_fname;
  const size_t slash = candidate.rfind('/');
  if (slash == std::string::npos) return FERROX_SANE_DEFAULT_SUITE;
  candidate = candidate.substr(0, slash + 1) + FERROX_SANE_SUITE_FROM_BACKEND;
  char* canonical = realpath(candidate.c_str(), nullptr);
  if (canonical == nullptr) return FERROX_SANE_DEFAULT_SUITE;
  const std::string folder = canonical;
  std::free(canonical);
  struct stat library;
  if (stat((folder + "/FERROX.DLL").c_str(), &library) != 0) return FERROX_SANE_DEFAULT_SUITE;
  return folder;
}

}  // namespace

std::vector<std::string> ConfigFolders() {
  std::vector<std::string> folders;
  const char* named = std::getenv("SANE_CONFIG_DIR");
  if (named == nullptr || *named == '\0') return {FERROX_SANE_SYSTEM_CONFIG_DIR};
  const std::string list = named;
  size_t start = 0;
  for (;;) {
    const size_t colon = list.find(':', start);
    const std::string folder =
        list.substr(start, colon == std::string::npos ? colon : colon - start);
    if (!folder.empty()) folders.push_back(folder);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (!list.empty() && list.back() == ':') folders.push_back(FERROX_SANE_SYSTEM_CONFIG_DIR);
  return folders;
}

int ParseConfig(const std::string& text, BackendConfig& config) {
  std::istringstream lines(text);
  std::string line;
  int unused = 0;
  for (unsigned number = 1; std::getline(lines, line); ++number) {
    line = Trim(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    const size_t gap = line.find_first_of(" \t");
    const std::string key = line.substr(0, gap);
    const std::string value = gap == std::string::npos ? "" : Trim(line.substr(gap));
    if (key == "suite" && !value.empty()) {
      config.suiteFolder = value;
    } else if (key == "registry" && !value.empty()) {
      config.registryFile = value;
    } else {
      Debug(kDebugError,
            "%s, line %u: \"%s\" is not understood (suite <folder> or registry <file>)",
            kConfigFile, number, line.c_str());
      ++unused;
    }
  }
  return unused;
}

BackendConfig ReadConfig() {
  BackendConfig config;
  config.suiteFolder = DefaultSuite();
  for (const std::string& folder : ConfigFolders()) {
    const std::string path = folder + "/" + kConfigFile;
    std::ifstream file(path);
    if (!file) continue;
    std::ostringstream text;
    text << file.rdbuf();
    ParseConfig(text.str(), config);
    config.source = path;
    break;
  }
  Debug(kDebugInfo, "suite folder %s (%s)", config.suiteFolder.c_str(),
        config.source.empty() ? "the default" : config.source.c_str());
  return config;
}

std::string UseRegistry(const BackendConfig& config) {
  if (const char* named = std::getenv("WINPORT_REGISTRY"); named != nullptr && *named != '\0')
    return named;
  if (!config.registryFile.empty()) {
    setenv("WINPORT_REGISTRY", config.registryFile.c_str(), 1);
    return config.registryFile;
  }
  // The suite's own file when it has one; else the platform layer's usual choice.
  const std::string beside = config.suiteFolder + "/registry.reg";
  struct stat info;
  if (stat(beside.c_str(), &info) != 0) return "(the platform layer's default)";
  setenv("WINPORT_REGISTRY", beside.c_str(), 1);
  return beside;
}

}  // namespace ferroxsane
