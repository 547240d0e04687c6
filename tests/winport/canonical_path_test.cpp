// Paths of files right in the program's folder are taken as they are when the
// file is no link (the folder is canonical); a link there, and "." or "..",
// still resolve to where they lead.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "plugin_loader.h"
#include "winport/windows.h"

namespace {

std::string ShortPath(const std::string& path) {
  char buffer[4096] = {};
  return GetShortPathNameA(path.c_str(), buffer, sizeof buffer) > 0 ? buffer : "(failed)";
}

std::string ProgramFolder() {
  char buffer[4096] = {};
  const DWORD length = GetModuleFileNameA(0, buffer, sizeof buffer);
  const std::string program(buffer, length);
  return program.substr(0, program.rfind('/'));
}

TEST(CanonicalPath, FilesInTheProgramFolderAndLinksThere) {
  testsupport::TempDir dir;
  const std::string target = dir.file("target.bin");
  std::ofstream(target) << "x";
  const std::string realTarget = ShortPath(target);
  ASSERT_NE(realTarget, "(failed)");

  const std::string folder = ProgramFolder();
  const std::string tag = std::to_string(getpid());
  const std::string plain = folder + "/canonical-plain-" + tag;
  const std::string link = folder + "/canonical-link-" + tag;
  std::ofstream(plain) << "y";
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);

  struct Case {
    std::string path, expected;
  };
  const Case cases[] = {
      {plain, plain},
      {link, realTarget},
      {folder + "/.", folder},
      {folder + "/..", folder.substr(0, folder.rfind('/'))},
      {folder + "/canonical-missing-" + tag, "(failed)"},
  };
  for (const Case& c : cases) EXPECT_EQ(ShortPath(c.path), c.expected) << c.path;
  unlink(link.c_str());
  unlink(plain.c_str());
}

}  // namespace
