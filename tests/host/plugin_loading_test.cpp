// Plug-ins load when first needed: what a conversion finds must be what
// loading the whole folder finds (the first writer by name for an extension,
// the skipped files in name order), and no reader may claim the BMP files that
// the host now recognises before asking any reader.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "host/plugins.h"
#include "plugin_loader.h"
#include "tool_runner.h"

namespace hosttest {
namespace {

using imagehost::PluginSet;
using testsupport::TempDir;

std::string WriterNameFor(const PluginSet& plugins, const std::string& extension) {
  const imagehost::WriterPlugin* writer = plugins.writerForExtension(extension);
  return writer == nullptr ? "(none)" : writer->fileName();
}

TEST(HostPluginLoading, TheWriterForAnExtensionIsTheOneAFullLoadFinds) {
  PluginSet everything;
  ASSERT_TRUE(everything.load(testsupport::binDir()));
  ASSERT_FALSE(everything.writers().empty());  // loads the whole folder first
  for (const char* extension :
       {"bmp", "BMP", "tif", "tiff", "TIFF", "jpg", "jpeg", "pcx", "png", "ppm", "pgm", "pnm", "xyz", ""}) {
    SCOPED_TRACE(extension);
    PluginSet lazy;
    ASSERT_TRUE(lazy.load(testsupport::binDir()));
    EXPECT_EQ(WriterNameFor(lazy, extension), WriterNameFor(everything, extension));
    // Asking again, or after everything has loaded, changes nothing.
    EXPECT_EQ(WriterNameFor(lazy, extension), WriterNameFor(everything, extension));
    lazy.readers();
    EXPECT_EQ(WriterNameFor(lazy, extension), WriterNameFor(everything, extension));
  }
}

// A folder of a real writer between files that are no libraries: whatever was
// loaded before, the list and the skipped files come in file-name order.
TEST(HostPluginLoading, SkippedFilesAreListedInNameOrderWhateverLoadedFirst) {
  TempDir dir;
  for (const char* bogus : {"aaa.DIL", "mmm.DEL", "zzz.DIL"}) std::ofstream(dir.file(bogus)) << "no library";
  std::filesystem::copy_file(testsupport::binPath("wrbmp.DEL"), dir.file("wrbmp.DEL"));
  for (bool writerFirst : {false, true}) {
    SCOPED_TRACE(writerFirst);
    PluginSet plugins;
    ASSERT_TRUE(plugins.load(dir.path()));
    if (writerFirst) {
      EXPECT_EQ(WriterNameFor(plugins, "bmp"), "wrbmp.DEL");
    }
    const std::vector<std::string>& problems = plugins.problems();
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_EQ(problems[0].rfind("aaa.DIL:", 0), 0u) << problems[0];
    EXPECT_EQ(problems[1].rfind("mmm.DEL:", 0), 0u) << problems[1];
    EXPECT_EQ(problems[2].rfind("zzz.DIL:", 0), 0u) << problems[2];
    EXPECT_TRUE(plugins.readers().empty());
    ASSERT_EQ(plugins.writers().size(), 1u);
    EXPECT_EQ(WriterNameFor(plugins, "bmp"), "wrbmp.DEL");
    const imagehost::ReaderPlugin* reader = nullptr;
    imagehost::Status found = plugins.findReader("AAA.dil", reader);
    EXPECT_FALSE(found);
    EXPECT_EQ(found.message(), "no reader named AAA.dil in the plug-in folder");
  }
}

// A BMP header of `infoSize` bytes and `bits` per pixel, zero after it.
std::array<uint8_t, kVerifyBytes> BmpStart(uint32_t infoSize, uint16_t bits, int32_t height) {
  std::array<uint8_t, kVerifyBytes> bytes{};
  auto put = [&](size_t at, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  bytes[0] = 'B';
  bytes[1] = 'M';
  put(2, 14 + infoSize + 64 * 64 * 4, 4);
  put(10, 14 + infoSize, 4);
  put(14, infoSize, 4);
  put(18, 64, 4);
  put(22, static_cast<uint32_t>(height), 4);
  put(26, 1, 2);
  put(28, bits, 2);
  return bytes;
}

TEST(HostPluginLoading, NoReaderClaimsABmpFile) {
  PluginSet plugins;
  ASSERT_TRUE(plugins.load(testsupport::binDir()));
  ASSERT_GE(plugins.readers().size(), 9u);
  std::vector<std::array<uint8_t, kVerifyBytes>> starts;
  for (uint32_t infoSize : {40u, 52u, 56u, 108u, 124u})
    for (uint16_t bits : {1, 4, 8, 16, 24, 32})
      for (int32_t height : {64, -64}) starts.push_back(BmpStart(infoSize, bits, height));
  for (const auto& entry : std::filesystem::directory_iterator(SamplesDir())) {
    if (entry.path().extension() != ".bmp") continue;
    std::array<uint8_t, kVerifyBytes> bytes{};
    std::ifstream(entry.path(), std::ios::binary).read(reinterpret_cast<char*>(bytes.data()), bytes.size());
    starts.push_back(bytes);
  }
  for (const imagehost::ReaderPlugin* reader : plugins.readers())
    for (size_t i = 0; i < starts.size(); ++i)
      EXPECT_NE(reader->verify(starts[i]), 1) << reader->fileName() << " claims BMP start " << i;
}

}  // namespace
}  // namespace hosttest
