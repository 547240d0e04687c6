// Reading what programs under test leave behind: text files, their lines, the
// functions a built shared object exports, and what a command line prints.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace testsupport {

// The whole file; empty when it cannot be read.
std::string ReadText(const std::string& path);
// The text split at newlines (the newlines dropped).
std::vector<std::string> LinesOf(const std::string& text);

struct ExportedSymbols {
  bool listed = false;              // nm ran and succeeded
  std::set<std::string> functions;  // T, W and i symbols not starting with '_'
  std::string nmOutput;             // for failure messages
};
// The functions `path` exports, from `nm -D --defined-only`. Reserved names
// (_init, _fini, sanitizer hooks, template instances of unoptimised builds)
// are the toolchain's, not the module's, and are left out.
ExportedSymbols ExportedFunctions(const std::string& path);

// Runs `command` through the shell: its exit status (-1 when it did not exit),
// and its stdout and stderr together into `output` when given.
int RunCommand(const std::string& command, std::string* output = nullptr);

}  // namespace testsupport
