// ShellExecuteA: executables started with an argument list (no shell), other
// files handed to the desktop opener, failures as the platform reports them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "plugin_loader.h"
#include "winport/windows.h"

namespace {

// A script that writes its folder and arguments, one a line, into `output`
// (through a temporary name, so a reader never sees half of it).
void writeRecorder(const std::string& path, const std::string& output) {
  std::ofstream(path) << "#!/bin/sh\n{ pwd; for a in \"$@\"; do echo \"[$a]\"; done; } > '"
                      << output << ".tmp'\nmv '" << output << ".tmp' '" << output << "'\n";
  chmod(path.c_str(), 0700);
}

// The file's text once it exists (the started program runs on its own).
std::string waitForFile(const std::string& path) {
  for (int i = 0; i < 1000 && access(path.c_str(), F_OK) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ShellExecute, StartsAnExecutableWithArgumentsAndNoShell) {
  testsupport::TempDir dir;
  writeRecorder(dir.file("setup.sh"), dir.file("ran"));
  HINSTANCE result = ShellExecuteA(0, nullptr, dir.file("setup.sh").c_str(),
                                   "one \"two words\" $HOME;x", dir.path().c_str(), SW_SHOWNORMAL);
  EXPECT_GT(result, 32u);
  EXPECT_EQ(waitForFile(dir.file("ran")),
            dir.path() + "\n[one]\n[two words]\n[$HOME;x]\n");
}

TEST(ShellExecute, OpensOtherFilesWithTheDesktopOpener) {
  testsupport::TempDir dir;
  mkdir(dir.file("tools").c_str(), 0700);
  writeRecorder(dir.file("tools/xdg-open"), dir.file("opened"));
  std::ofstream(dir.file("readme.txt")) << "text";
  const char* oldPath = std::getenv("PATH");
  std::string savedPath = oldPath != nullptr ? oldPath : "";
  setenv("PATH", (dir.file("tools") + ":" + savedPath).c_str(), 1);
  HINSTANCE opened = ShellExecuteA(0, "open", dir.file("readme.txt").c_str(), nullptr, nullptr,
                                   SW_SHOWNORMAL);
  setenv("PATH", dir.file("nothing-here").c_str(), 1);
  HINSTANCE noOpener = ShellExecuteA(0, nullptr, dir.file("readme.txt").c_str(), nullptr,
                                     nullptr, SW_SHOWNORMAL);
  setenv("PATH", savedPath.c_str(), 1);
  EXPECT_GT(opened, 32u);
  EXPECT_NE(waitForFile(dir.file("opened")).find("[" + dir.file("readme.txt") + "]"),
            std::string::npos);
  EXPECT_EQ(noOpener, SE_ERR_NOASSOC);
}

TEST(ShellExecute, ReportsMissingFilesAndUnknownVerbs) {
  testsupport::TempDir dir;
  writeRecorder(dir.file("setup.sh"), dir.file("ran"));
  EXPECT_EQ(ShellExecuteA(0, nullptr, dir.file("absent").c_str(), nullptr, nullptr, 1),
            SE_ERR_FNF);
  EXPECT_EQ(ShellExecuteA(0, nullptr, dir.file("setup.sh/below").c_str(), nullptr, nullptr, 1),
            SE_ERR_PNF);
  EXPECT_EQ(ShellExecuteA(0, nullptr, nullptr, nullptr, nullptr, 1), SE_ERR_FNF);
  EXPECT_EQ(ShellExecuteA(0, "print", dir.file("setup.sh").c_str(), nullptr, nullptr, 1),
            SE_ERR_NOASSOC);
  // The program's folder must exist: the failure comes back from the new process.
  EXPECT_EQ(ShellExecuteA(0, nullptr, dir.file("setup.sh").c_str(), nullptr,
                          dir.file("no-folder").c_str(), 1),
            SE_ERR_FNF);
  EXPECT_NE(access(dir.file("ran").c_str(), F_OK), 0);
}

}  // namespace
