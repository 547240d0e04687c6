#include "scanapp_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "virtscan/virtscan.h"

namespace scanapptest {

using standin_test::Picture;

ScanappTest::ScanappTest() {
  const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  env_.set("WINPORT_SHM_NAMESPACE", "scanapp-" + std::to_string(getpid()) + "-" + test);
  env_.set(virtscan::kEnvTrace, dir_.file("trace.txt"));
  if (const char* tmpdir = std::getenv("TMPDIR")) {
    hadTmpdir_ = true;
    savedTmpdir_ = tmpdir;
  }
  mkdir(tempFolder().c_str(), 0700);
  setenv("TMPDIR", tempFolder().c_str(), 1);
}

ScanappTest::~ScanappTest() {
  const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  testsupport::RemoveSharedSections("scanapp-" + std::to_string(getpid()) + "-" + test);
  if (hadTmpdir_)
    setenv("TMPDIR", savedTmpdir_.c_str(), 1);
  else
    unsetenv("TMPDIR");
}

void ScanappTest::install(const std::string& extra) {
  std::string text = standin_test::readFile(testsupport::binPath("registry.reg"));
  ASSERT_FALSE(text.empty()) << "the build writes build/bin/registry.reg";
  text +=
      "\n[HKEY_LOCAL_MACHINE\\Software\\Duzizaziz\\Ridezodu\\Scanners\\Virtual Scanner]\n" + extra;
  installRegistryText(text);
}

void ScanappTest::installRegistryText(const std::string& text) {
  standin_test::writeFile(registryPath(), text);
  chmod(registryPath().c_str(), 0644);  // the registry refuses a file others may write
  env_.set("WINPORT_REGISTRY", registryPath());
}

void ScanappTest::setVariable(const char* name, const std::string& value) {
  if (value.empty())
    unsetenv(name);
  else
    env_.set(name, value);
}

std::string ScanappTest::writeDocument(const std::string& name, const Picture& picture) {
  standin_test::writeBytes(file(name), standin_test::bmp24(picture, 300));
  return file(name);
}

hosttest::ToolRun ScanappTest::scanapp(const std::vector<std::string>& args) {
  std::vector<std::string> argv{testsupport::binPath("scanapp")};
  argv.insert(argv.end(), args.begin(), args.end());
  return hosttest::RunProgram(argv);
}

pid_t ScanappTest::startScanapp(const std::vector<std::string>& args) {
  std::vector<std::string> argv{testsupport::binPath("scanapp")};
  argv.insert(argv.end(), args.begin(), args.end());
  return hosttest::StartProgram(argv, file("started.out"), file("started.err"));
}

int ScanappTest::waitFor(pid_t pid) { return hosttest::WaitProgram(pid); }

std::vector<std::string> ScanappTest::trace() const {
  return standin_test::readLines(file("trace.txt"));
}

hosttest::Pixels ScanappTest::bmpPixels(const std::string& name) const {
  return hosttest::DecodeBmp(hosttest::ReadBytes(file(name)));
}

hosttest::Pixels ScanappTest::tiffPixels(const std::string& name) const {
  const std::string pnm = file(name + ".pnm");
  hosttest::ToolRun run = hosttest::RunProgram({"tifftopnm", file(name)}, pnm);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  return hosttest::DecodePnm(hosttest::ReadBytes(pnm));
}

hosttest::Pixels Cut(const Picture& picture, uint32_t left, uint32_t top, uint32_t width,
                     uint32_t height) {
  hosttest::Pixels out{width, height, {}};
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* row = picture.at(left, top + y);
    out.rgb.insert(out.rgb.end(), row, row + uint64_t{width} * 3);
  }
  return out;
}

hosttest::Pixels CutGrey(const Picture& picture, uint32_t left, uint32_t top, uint32_t width,
                         uint32_t height) {
  hosttest::Pixels out{width, height, {}};
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t level = standin_test::greyOf(picture.at(left + x, top + y));
      out.rgb.insert(out.rgb.end(), {level, level, level});
    }
  }
  return out;
}

Picture PagePicture(uint32_t width, uint32_t height, uint32_t page) {
  Picture picture = standin_test::patternPicture(width, height);
  for (size_t i = 0; i < picture.rgb.size(); i += 3)
    picture.rgb[i] = static_cast<uint8_t>(picture.rgb[i] + 61 * page);
  return picture;
}

}  // namespace scanapptest
