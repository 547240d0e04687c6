// Where the scanner suite lives: the folder holding FERROX.DLL and, unless
// the environment names another, the registry file that configures it.
//
// "ferrox.conf" is looked up in the folders of SANE_CONFIG_DIR (colon
// separated; a trailing colon adds the system folder), else in the system
// SANE folder. Its lines ('#' starts a comment):
//   suite <folder>       the folder of FERROX.DLL
//   registry <file>      the registry file (default: <suite>/registry.reg)
// Without the file, or without a "suite" line: the suite folder of the
// installation the backend lies in (<prefix>/lib/ferrox beside
// <prefix>/lib/<multiarch>/sane) when it holds FERROX.DLL, else the
// compiled-in folder of an installed suite.
#pragma once

#include <string>
#include <vector>

namespace ferroxsane {

struct BackendConfig {
  std::string suiteFolder;
  std::string registryFile;  // empty: <suiteFolder>/registry.reg
  std::string source;        // the file it came from, or "" for the defaults
};

// The config folders to search, in order.
std::vector<std::string> ConfigFolders();
// Reads the first ferrox.conf found; defaults when there is none.
BackendConfig ReadConfig();
// Parses the text of a ferrox.conf over `config`; the number of lines it
// could not use (each reported on the debug output).
int ParseConfig(const std::string& text, BackendConfig& config);
// Names the registry file to the platform layer (WINPORT_REGISTRY) unless the
// environment already does, so that FERROX.DLL in a foreign program finds its
// scanner key. Returns the file in use.
std::string UseRegistry(const BackendConfig& config);

}  // namespace ferroxsane
