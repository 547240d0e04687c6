#include "text_files.h"

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace testsupport {

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

ExportedSymbols ExportedFunctions(const std::string& path) {
  ExportedSymbols symbols;
  const std::string command = "nm -D --defined-only '" + path + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return symbols;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) symbols.nmOutput += buffer;
  symbols.listed = pclose(pipe) == 0;
  for (const std::string& line : LinesOf(symbols.nmOutput)) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (!(fields >> address >> type >> name)) continue;
    const bool function = type == "T" || type == "W" || type == "i";
    if (function && name.rfind('_', 0) != 0) symbols.functions.insert(name);
  }
  return symbols;
}

int RunCommand(const std::string& command, std::string* output) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char buffer[4096];
  for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, got);
  const int status = pclose(pipe);
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace testsupport
