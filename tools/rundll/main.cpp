// rundll LIBRARY,FUNCTION [COMMAND LINE]
// Loads LIBRARY with LoadLibraryA (a bare name is found beside this program
// first), looks FUNCTION up by name and calls it with (0, 0, command line, 1):
// the command line is the remaining arguments joined by single blanks, in a
// writable buffer the function may cut up. Exit status 0 once the function
// has returned; 2 for a bad argument, a missing library or function.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "winport/windows.h"

namespace {

using LibraryFunction = void (*)(HWND window, HINSTANCE instance, char* commandLine, int show);

constexpr int kUsageStatus = 2;

int usage() {
  std::fputs("usage: rundll LIBRARY,FUNCTION [COMMAND LINE]\n", stderr);
  return kUsageStatus;
}

std::vector<char> commandLineOf(int argc, char** argv) {
  std::string line;
  for (int i = 2; i < argc; ++i) {
    if (i > 2) line += ' ';
    line += argv[i];
  }
  return std::vector<char>(line.c_str(), line.c_str() + line.size() + 1);
}

int run(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string target = argv[1];
  size_t comma = target.rfind(',');
  if (comma == std::string::npos || comma == 0 || comma + 1 == target.size()) return usage();
  std::string library = target.substr(0, comma);
  std::string function = target.substr(comma + 1);

  HMODULE module = LoadLibraryA(library.c_str());
  if (module == 0) {
    std::fprintf(stderr, "rundll: cannot load %s (error %u)\n", library.c_str(), GetLastError());
    return kUsageStatus;
  }
  auto entry = reinterpret_cast<LibraryFunction>(GetProcAddress(module, function.c_str()));
  if (entry == nullptr) {
    std::fprintf(stderr, "rundll: %s has no function %s\n", library.c_str(), function.c_str());
    FreeLibrary(module);
    return kUsageStatus;
  }
  std::vector<char> commandLine = commandLineOf(argc, argv);
  entry(0, 0, commandLine.data(), SW_SHOWNORMAL);
  FreeLibrary(module);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "rundll: %s\n", error.what());
    return kUsageStatus;
  }
}
