// The backend in this process through its sane_* entry points: the option
// table against what the device tells, value checks, exact parameters, the
// bytes of a frame in any read size, cancel, the maintenance buttons and the
// configuration file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>

#include "sane_fixture.h"

namespace sanetest {
namespace {

class SaneBackend : public SaneTest {
 protected:
  // Initialises the backend and opens the scanner configured by `extra`.
  void openWith(const std::string& extra = "") {
    install(extra);
    ASSERT_TRUE(backend_);
    ASSERT_EQ(backend_.init(nullptr, nullptr), SANE_STATUS_GOOD);
    initialised_ = true;
    ASSERT_EQ(backend_.open("scanner", &handle_), SANE_STATUS_GOOD);
  }
  ~SaneBackend() override {
    if (handle_ != nullptr) backend_.close(handle_);
    if (initialised_) backend_.exit();
  }
  SANE_Word word(const std::string& name) {
    SANE_Word value = 0;
    EXPECT_EQ(backend_.control(handle_, backend_.find(handle_, name), SANE_ACTION_GET_VALUE, &value,
                               nullptr),
              SANE_STATUS_GOOD)
        << name;
    return value;
  }
  std::string text(const std::string& name) {
    char value[256] = {};
    EXPECT_EQ(backend_.control(handle_, backend_.find(handle_, name), SANE_ACTION_GET_VALUE, value,
                               nullptr),
              SANE_STATUS_GOOD)
        << name;
    return value;
  }
  const SANE_Option_Descriptor& describe(const std::string& name) {
    return *backend_.descriptor(handle_, backend_.find(handle_, name));
  }
  std::vector<std::string> strings(const std::string& name) {
    std::vector<std::string> list;
    for (const SANE_String_Const* s = describe(name).constraint.string_list; *s != nullptr; ++s)
      list.push_back(*s);
    return list;
  }
  void smallArea(SANE_Word mm = SANE_FIX(5.0)) {
    ASSERT_EQ(backend_.setWord(handle_, "br-x", mm), SANE_STATUS_GOOD);
    ASSERT_EQ(backend_.setWord(handle_, "br-y", mm), SANE_STATUS_GOOD);
  }

  Backend backend_;
  SANE_Handle handle_ = nullptr;
  bool initialised_ = false;
};

// Lists and ranges come from what the device reports, whatever it reports.
TEST_F(SaneBackend, OptionConstraintsFollowTheDevice) {
  struct Case {
    const char* registry;
    std::vector<std::string> modes, sources;
    std::vector<SANE_Word> depths;
    SANE_Word highestDpi;
    double bedWidthMm;
  };
  const Case cases[] = {
      {"", {"Lineart", "Halftone", "Gray", "Color"}, {"Flatbed"}, {8, 16}, 2400, 215.9},
      {"\"Highest Data Type\"=dword:00000002\n\"Highest Resolution\"=dword:000004b0\n"
       "\"Width Limit\"=dword:00000960\n",
       {"Lineart", "Halftone", "Gray"},
       {"Flatbed"},
       {8},
       1200,
       203.2},
      {"\"Capabilities\"=dword:00000021\n\"Highest Data Type\"=dword:00000003\n",
       {"Lineart", "Halftone", "Gray", "Color"},
       {"Flatbed", "ADF", "Positive Film", "Negative Film"},
       {8},
       2400,
       215.9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.registry);
    openWith(c.registry);
    EXPECT_EQ(strings("mode"), c.modes);
    EXPECT_EQ(strings("source"), c.sources);
    const SANE_Word* depths = describe("depth").constraint.word_list;
    EXPECT_EQ(std::vector<SANE_Word>(depths + 1, depths + 1 + depths[0]), c.depths);
    EXPECT_EQ(describe("resolution").constraint.range->max, c.highestDpi);
    EXPECT_NEAR(SANE_UNFIX(describe("br-x").constraint.range->max), c.bedWidthMm, 0.01);
    EXPECT_EQ(SANE_UNFIX(word("br-x")), SANE_UNFIX(describe("br-x").constraint.range->max));
    std::set<std::string> names;
    SANE_Int count = 0;
    ASSERT_EQ(backend_.control(handle_, 0, SANE_ACTION_GET_VALUE, &count, nullptr),
              SANE_STATUS_GOOD);
    for (SANE_Int i = 1; i < count; ++i) {
      const SANE_Option_Descriptor* d = backend_.descriptor(handle_, i);
      ASSERT_NE(d, nullptr);
      if (d->type != SANE_TYPE_GROUP) {
        EXPECT_TRUE(names.insert(d->name).second) << d->name;
      }
    }
    EXPECT_EQ(backend_.descriptor(handle_, count), nullptr);
    backend_.close(handle_);
    handle_ = nullptr;
    backend_.exit();
    initialised_ = false;
  }
}

TEST_F(SaneBackend, ValuesAreCheckedAgainstTheTable) {
  openWith();
  SANE_Handle second = nullptr;
  EXPECT_EQ(backend_.open("other", &second), SANE_STATUS_INVAL);
  EXPECT_EQ(backend_.open("scanner", &second), SANE_STATUS_DEVICE_BUSY);  // one handle at a time
  struct Case {
    const char* option;
    SANE_Word value;  // ignored for string options
    const char* text;
    SANE_Status status;
    SANE_Word stored;
    bool inexact;
  };
  const Case cases[] = {
      {"resolution", 300, nullptr, SANE_STATUS_GOOD, 300, false},
      {"resolution", 10, nullptr, SANE_STATUS_GOOD, 25, true},
      {"resolution", 5000, nullptr, SANE_STATUS_GOOD, 2400, true},
      {"brightness", 200, nullptr, SANE_STATUS_GOOD, 127, true},
      {"contrast", -300, nullptr, SANE_STATUS_GOOD, -127, true},
      {"depth", 15, nullptr, SANE_STATUS_GOOD, 16, true},
      {"depth", 8, nullptr, SANE_STATUS_GOOD, 8, false},
      {"preview", 2, nullptr, SANE_STATUS_INVAL, SANE_FALSE, false},
      {"tl-x", SANE_FIX(-5), nullptr, SANE_STATUS_GOOD, 0, true},
      {"br-y", SANE_FIX(1000), nullptr, SANE_STATUS_GOOD, SANE_FIX(3508 * 25.4 / 300), true},
      {"mode", 0, "Sepia", SANE_STATUS_INVAL, 0, false},
      {"source", 0, "ADF", SANE_STATUS_INVAL, 0, false},                  // no feeder
      {"halftone-pattern", 0, "Pattern 1", SANE_STATUS_INVAL, 0, false},  // inactive in Color
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.option) + " " + std::to_string(c.value));
    SANE_Int info = 0;
    const SANE_Status status = c.text != nullptr
                                   ? backend_.setString(handle_, c.option, c.text, &info)
                                   : backend_.setWord(handle_, c.option, c.value, &info);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ((info & SANE_INFO_INEXACT) != 0, c.inexact);
    if (status == SANE_STATUS_GOOD) {
      EXPECT_EQ(word(c.option), c.stored);
    }
  }
  EXPECT_EQ(text("mode"), "Color");
  // A mode name in other case is taken as the listed one; the options it
  // switches on and off follow.
  SANE_Int info = 0;
  ASSERT_EQ(backend_.setString(handle_, "mode", "halftone", &info), SANE_STATUS_GOOD);
  EXPECT_EQ(info & SANE_INFO_RELOAD_OPTIONS, SANE_INFO_RELOAD_OPTIONS);
  EXPECT_EQ(text("mode"), "Halftone");
  EXPECT_TRUE(SANE_OPTION_IS_ACTIVE(describe("halftone-pattern").cap));
  EXPECT_FALSE(SANE_OPTION_IS_ACTIVE(describe("depth").cap));
  EXPECT_EQ(backend_.setString(handle_, "halftone-pattern", "Pattern 4"), SANE_STATUS_GOOD);
  // resolution sets both directions; each direction alone leaves the other.
  ASSERT_EQ(backend_.setWord(handle_, "resolution", 150), SANE_STATUS_GOOD);
  EXPECT_EQ(word("x-resolution"), 150);
  EXPECT_EQ(word("y-resolution"), 150);
  ASSERT_EQ(backend_.setWord(handle_, "y-resolution", 600), SANE_STATUS_GOOD);
  EXPECT_EQ(word("x-resolution"), 150);
  // Indices outside the table, and groups, are refused.
  SANE_Word value = 0;
  EXPECT_EQ(backend_.control(handle_, 999, SANE_ACTION_GET_VALUE, &value, nullptr),
            SANE_STATUS_INVAL);
  EXPECT_EQ(backend_.control(handle_, 1, SANE_ACTION_GET_VALUE, &value, nullptr),
            SANE_STATUS_INVAL);
  EXPECT_EQ(backend_.control(handle_, 0, SANE_ACTION_SET_VALUE, &value, nullptr),
            SANE_STATUS_INVAL);
}

// The parameters before a scan are those during it, and the frame holds
// exactly lines x bytes_per_line bytes, the same in any read size.
TEST_F(SaneBackend, ParametersAreExactAndEveryReadSizeGivesTheSameFrame) {
  openWith();
  struct Case {
    const char* mode;
    SANE_Word depth;
    SANE_Int expectedDepth;
    SANE_Frame frame;
    int bytesPerPixelTimes8;
  };
  const Case cases[] = {
      {"Lineart", 8, 1, SANE_FRAME_GRAY, 1}, {"Halftone", 8, 1, SANE_FRAME_GRAY, 1},
      {"Gray", 8, 8, SANE_FRAME_GRAY, 8},    {"Color", 8, 8, SANE_FRAME_RGB, 24},
      {"Color", 16, 16, SANE_FRAME_RGB, 48},
  };
  ASSERT_EQ(backend_.setWord(handle_, "resolution", 100), SANE_STATUS_GOOD);
  smallArea(SANE_FIX(5.1));  // 61 units: 20 pixels, not a whole number of bytes in line art
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " " + std::to_string(c.depth));
    ASSERT_EQ(backend_.setString(handle_, "mode", c.mode), SANE_STATUS_GOOD);
    if (std::string(c.mode) == "Color") {
      ASSERT_EQ(backend_.setWord(handle_, "depth", c.depth), SANE_STATUS_GOOD);
    }
    SANE_Parameters before{}, during{};
    ASSERT_EQ(backend_.parameters(handle_, &before), SANE_STATUS_GOOD);
    EXPECT_EQ(before.pixels_per_line, 20);
    EXPECT_EQ(before.lines, 20);
    EXPECT_EQ(before.depth, c.expectedDepth);
    EXPECT_EQ(before.format, c.frame);
    EXPECT_EQ(before.bytes_per_line, (20 * c.bytesPerPixelTimes8 + 7) / 8);
    std::vector<uint8_t> first;
    for (SANE_Int chunk : {1, 7, 65536}) {
      ASSERT_EQ(backend_.start(handle_), SANE_STATUS_GOOD);
      ASSERT_EQ(backend_.parameters(handle_, &during), SANE_STATUS_GOOD);
      EXPECT_EQ(std::memcmp(&before, &during, sizeof before), 0);
      std::vector<uint8_t> bytes;
      EXPECT_EQ(backend_.readAll(handle_, bytes, chunk), SANE_STATUS_EOF);
      EXPECT_EQ(bytes.size(), size_t(before.lines) * size_t(before.bytes_per_line));
      if (first.empty()) first = bytes;
      EXPECT_EQ(bytes, first) << "chunk " << chunk;
      backend_.cancel(handle_);
      EXPECT_TRUE(scannerFree());
    }
  }
}

// Brightness and contrast reach the scan through the library's tone maps.
TEST_F(SaneBackend, BrightnessAndContrastChangeTheLevels) {
  openWith("\"Document\"=\"" +
           writeDocument("document.bmp", standin_test::patternPicture(100, 100)) + "\"\n");
  ASSERT_EQ(backend_.setString(handle_, "mode", "Gray"), SANE_STATUS_GOOD);
  ASSERT_EQ(backend_.setWord(handle_, "resolution", 300), SANE_STATUS_GOOD);
  smallArea(SANE_FIX(8.0));
  struct Levels {
    double mean = 0, spread = 0;
  };
  auto scan = [this](SANE_Word brightness, SANE_Word contrast) {
    EXPECT_EQ(backend_.setWord(handle_, "brightness", brightness), SANE_STATUS_GOOD);
    EXPECT_EQ(backend_.setWord(handle_, "contrast", contrast), SANE_STATUS_GOOD);
    EXPECT_EQ(backend_.start(handle_), SANE_STATUS_GOOD);
    std::vector<uint8_t> bytes;
    EXPECT_EQ(backend_.readAll(handle_, bytes, 4096), SANE_STATUS_EOF);
    Levels levels;
    for (uint8_t b : bytes) levels.mean += b;
    levels.mean /= static_cast<double>(std::max<size_t>(bytes.size(), 1));
    for (uint8_t b : bytes) levels.spread += std::abs(b - levels.mean);
    levels.spread /= static_cast<double>(std::max<size_t>(bytes.size(), 1));
    return levels;
  };
  const Levels plain = scan(0, 0);
  EXPECT_GT(scan(60, 0).mean, plain.mean + 10);
  EXPECT_LT(scan(-60, 0).mean, plain.mean - 10);
  EXPECT_GT(scan(0, 80).spread, plain.spread + 5);
  EXPECT_LT(scan(0, -80).spread, plain.spread - 5);
}

TEST_F(SaneBackend, CancelEndsThePageAndFreesTheScanner) {
  openWith();
  smallArea();
  ASSERT_EQ(backend_.start(handle_), SANE_STATUS_GOOD);
  SANE_Byte bytes[10];
  SANE_Int length = 0;
  ASSERT_EQ(backend_.read(handle_, bytes, sizeof bytes, &length), SANE_STATUS_GOOD);
  EXPECT_FALSE(scannerFree());
  backend_.cancel(handle_);
  EXPECT_TRUE(scannerFree());
  EXPECT_EQ(backend_.read(handle_, bytes, sizeof bytes, &length), SANE_STATUS_CANCELLED);
  EXPECT_EQ(length, 0);
  // Options can be changed again, and the next page is whole.
  EXPECT_EQ(backend_.setWord(handle_, "resolution", 50), SANE_STATUS_GOOD);
  SANE_Parameters p{};
  ASSERT_EQ(backend_.start(handle_), SANE_STATUS_GOOD);
  ASSERT_EQ(backend_.parameters(handle_, &p), SANE_STATUS_GOOD);
  std::vector<uint8_t> all;
  EXPECT_EQ(backend_.readAll(handle_, all, 4096), SANE_STATUS_EOF);
  EXPECT_EQ(all.size(), size_t(p.lines) * size_t(p.bytes_per_line));
  EXPECT_TRUE(scannerFree());
}

TEST_F(SaneBackend, MaintenanceButtonsRunUnderTheLock) {
  openWith();
  for (const char* button : {"calibrate", "clean"}) {
    SCOPED_TRACE(button);
    const SANE_Int index = backend_.find(handle_, button);
    EXPECT_EQ(backend_.control(handle_, index, SANE_ACTION_SET_VALUE, nullptr, nullptr),
              SANE_STATUS_GOOD);
    {
      LockHolder other;
      ASSERT_TRUE(other.held());
      EXPECT_EQ(backend_.control(handle_, index, SANE_ACTION_SET_VALUE, nullptr, nullptr),
                SANE_STATUS_DEVICE_BUSY);
    }
    EXPECT_TRUE(scannerFree());
  }
  // The trace: lock, calibrate (43), unlock; lock, clean (45), unlock.
  std::vector<std::string> ops;
  for (const std::string& line : trace())
    if (line.rfind("op=43 ", 0) == 0 || line.rfind("op=45 ", 0) == 0)
      ops.push_back(line.substr(0, 5));
  EXPECT_EQ(ops, (std::vector<std::string>{"op=43", "op=45"}));
}

// ferrox.conf names the suite folder and, where the environment names none,
// the registry file; a line it does not understand is skipped.
TEST_F(SaneBackend, ConfigurationFileNamesTheSuiteAndTheRegistry) {
  install("\"Product Name\"=\"Testing Bench Scanner\"\n");
  const std::string registry = registryPath();
  const std::string folder = file("config");
  mkdir(folder.c_str(), 0755);
  standin_test::writeFile(folder + "/ferrox.conf", "# a comment\nsuite " + testsupport::binDir() +
                                                       "\nregistry " + registry +
                                                       "\nnonsense here\n");
  setVariable("SANE_CONFIG_DIR", folder);
  setVariable("WINPORT_REGISTRY", "");
  ASSERT_EQ(backend_.init(nullptr, nullptr), SANE_STATUS_GOOD);
  initialised_ = true;
  const char* named = std::getenv("WINPORT_REGISTRY");
  ASSERT_NE(named, nullptr);
  EXPECT_EQ(std::string(named), registry);
  const SANE_Device** devices = nullptr;
  ASSERT_EQ(backend_.getDevices(&devices, SANE_FALSE), SANE_STATUS_GOOD);
  ASSERT_NE(devices[0], nullptr);
  EXPECT_STREQ(devices[0]->vendor, "Testing");
  EXPECT_STREQ(devices[0]->model, "Bench Scanner");
}

}  // namespace
}  // namespace sanetest
