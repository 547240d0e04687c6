// every_reader_files <folder>: makes the contract suite's file of every case
// with the independent tools and writes it into <folder> under its case name,
// for the Windows build's run of the suite (whose programs cannot run the
// tools). A case whose tools are missing is reported and left out.
#include <cstdio>
#include <fstream>

#include "plugin_loader.h"
#include "reader_table.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: every_reader_files <folder>\n");
    return 2;
  }
  const std::string folder = argv[1];
  int made = 0;
  for (const everyreader::FileCase& c : everyreader::Files()) {
    testsupport::TempDir work;
    std::string why;
    const everyreader::Bytes bytes = everyreader::MakeFile(c, work.path(), why);
    const std::string path = folder + "/" + everyreader::CaseName(c);
    std::remove(path.c_str());
    if (bytes.empty()) {
      std::fprintf(stderr, "%s not made: %s\n", everyreader::CaseName(c).c_str(), why.c_str());
      continue;
    }
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ++made;
  }
  std::printf("%d of %zu files made in %s\n", made, everyreader::Files().size(), folder.c_str());
  return 0;
}
