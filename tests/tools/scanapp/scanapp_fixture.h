// Running build/bin/scanapp against the virtual scanner: a registry file of
// the test's own (the build's scanner key plus the test's values), an isolated
// shared section, the driver's trace, and the images the program wrote.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "plugin_loader.h"
#include "standin_fixture.h"
#include "tool_runner.h"

namespace scanapptest {

class ScanappTest : public ::testing::Test {
 protected:
  // Each test has its own registry file, shared section, driver trace and
  // temporary folder (the library's spool file of an enhanced scan goes there,
  // so that tests running side by side do not share it).
  ScanappTest();
  ~ScanappTest() override;

  // Names a registry file holding the build's scanner key with `extra` value
  // lines added to it ("\"Name\"=..." lines, each ending in a newline).
  void install(const std::string& extra = "");
  // Names a registry file with exactly `text`.
  void installRegistryText(const std::string& text);
  // A document for the scanner: a 24-bit BMP at 300 dpi in the test folder.
  std::string writeDocument(const std::string& name, const standin_test::Picture& picture);

  // scanapp with `args`; waits for it.
  hosttest::ToolRun scanapp(const std::vector<std::string>& args);
  // scanapp with `args`, not waited for; its stdout and stderr go to files.
  pid_t startScanapp(const std::vector<std::string>& args);
  // The exit status of a started scanapp (128 + signal when killed).
  static int waitFor(pid_t pid);

  // An environment variable for the runs that follow (the driver's fault
  // injection); restored at the end of the test. An empty value unsets it.
  void setVariable(const char* name, const std::string& value);

  std::string file(const std::string& name) const { return dir_.file(name); }
  std::string registryPath() const { return dir_.file("registry.reg"); }
  std::string tempFolder() const { return dir_.file("tmp"); }
  std::vector<std::string> trace() const;
  // The image in a BMP file, or in a TIFF file's page (through netpbm's tifftopnm).
  hosttest::Pixels bmpPixels(const std::string& name) const;
  hosttest::Pixels tiffPixels(const std::string& name) const;

 private:
  standin_test::Environment env_;
  testsupport::TempDir dir_;
  std::string savedTmpdir_;
  bool hadTmpdir_ = false;
};

// `picture` cut to the area at (left, top), `width` x `height` pixels, as RGB rows.
hosttest::Pixels Cut(const standin_test::Picture& picture, uint32_t left, uint32_t top,
                     uint32_t width, uint32_t height);
// The same, each pixel the grey value the scanner makes of it.
hosttest::Pixels CutGrey(const standin_test::Picture& picture, uint32_t left, uint32_t top,
                         uint32_t width, uint32_t height);
// A picture unlike patternPicture and unlike the other pages: page `page` of a feeder batch.
standin_test::Picture PagePicture(uint32_t width, uint32_t height, uint32_t page);

}  // namespace scanapptest
