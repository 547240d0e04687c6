// The suite's files on Windows: the recipes need the independent tools of a
// Linux machine, so the Linux build's every_reader_files makes the files
// beforehand (the fixture test win32_reader_files) into reader_files beside
// the test program, one file per case under its case name.
#include <fstream>
#include <iterator>

#include "reader_table.h"
#include "winport/windows.h"

namespace everyreader {
namespace {

std::string PreparedFolder() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of("\\/")) + "\\reader_files";
}

}  // namespace

Bytes MakeFile(const FileCase& c, const std::string& /*dir*/, std::string& why) {
  why.clear();
  const std::string path = PreparedFolder() + "\\" + CaseName(c);
  std::ifstream in(path, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty()) why = "no file prepared in " + path + " (by the Linux build's every_reader_files)";
  return bytes;
}

}  // namespace everyreader
