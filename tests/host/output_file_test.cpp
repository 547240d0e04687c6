// The output file's work file on the system's own file calls: failures name
// the target and the reason in the same words on every platform, a stale work
// file is replaced, and only commit puts the new bytes at the target. Builds
// into the Linux host tests and the Windows ones alike.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "host/output.h"
#include "winport/windows.h"

namespace {

namespace fs = std::filesystem;

class OutputScratch {
 public:
  OutputScratch() {
    static int counter = 0;
    path_ = fs::temp_directory_path() / ("host-output-" + std::to_string(GetCurrentProcessId()) +
                                         "-" + std::to_string(counter++));
    fs::create_directories(path_);
  }
  ~OutputScratch() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

std::string Content(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void Put(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

TEST(HostOutputFile, FailuresNameTheTargetAndTheReason) {
  struct Case {
    const char* name;
    std::function<std::string(const OutputScratch&)> target;  // sets the scene, gives OUT
    bool append;
    const char* reason;
  };
  const Case cases[] = {
      {"missing folder", [](const OutputScratch& d) { return d.file("missing") + "/out.bmp"; },
       false, "No such file or directory"},
      {"a folder as OUT",
       [](const OutputScratch& d) {
         fs::create_directory(d.file("folder.bmp"));
         return d.file("folder.bmp");
       },
       true, "Is a directory"},
      {"a folder as OUT.part",
       [](const OutputScratch& d) {
         fs::create_directory(d.file("out.tif.part"));
         return d.file("out.tif");
       },
       false, "Is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OutputScratch dir;
    const std::string out = c.target(dir);
    imagehost::OutputFile output;
    imagehost::Status prepared = output.prepare(out, c.append);
    ASSERT_FALSE(prepared);
    EXPECT_EQ(prepared.message(), "cannot write " + out + ": " + c.reason);
  }
}

TEST(HostOutputFile, AStaleWorkFileGoesAndOnlyCommitReplacesTheTarget) {
  OutputScratch dir;
  const std::string out = dir.file("out.bmp");
  Put(out, "earlier");
  Put(out + ".part", "stale");
  {
    imagehost::OutputFile output;
    ASSERT_TRUE(output.prepare(out, false));
    EXPECT_FALSE(fs::exists(output.workPath())) << "the writer creates it afresh";
    Put(output.workPath(), "abandoned");
  }  // never committed: the work file goes, the target stays
  EXPECT_FALSE(fs::exists(out + ".part"));
  EXPECT_EQ(Content(out), "earlier");
  imagehost::OutputFile output;
  ASSERT_TRUE(output.prepare(out, false));
  Put(output.workPath(), "new");
  ASSERT_TRUE(output.commit());
  EXPECT_EQ(Content(out), "new");
  EXPECT_FALSE(fs::exists(out + ".part"));
}

}  // namespace
