#include "plugin_loader.h"

#include <filesystem>

#include "platform_paths.h"

namespace testsupport {

std::string binPath(const std::string& fileName) {
  return binDir() + "/" + fileName;
}

std::string testModulePath(const std::string& fileName) {
  return testModuleDir() + "/" + fileName;
}

LoadedModule::LoadedModule(const std::string& fileName) {
  std::string path = fileName;
  if (fileName.find_first_of("/\\") == std::string::npos) {
    path = binPath(fileName);
    if (!std::filesystem::exists(path)) path = testModulePath(fileName);
  }
  module_ = LoadLibraryA(path.c_str());
  if (module_ != 0) InstrumentModule(module_);
}

LoadedModule::~LoadedModule() {
  if (module_ != 0) FreeLibrary(module_);
}

}  // namespace testsupport
