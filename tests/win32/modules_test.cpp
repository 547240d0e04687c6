// Every plug-in DLL under the system's own loader (Wine or Windows): it loads
// with no runtime DLL beside it, resolves every tabled export by name and by
// ordinal to one address, carries its string table as real resources with the
// exact texts of its string list, and answers through its stdcall exports
// (a wrong calling convention would unbalance the stack on the first call).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fax_format.h"
#include "gem_format.h"
#include "gif_format.h"
#include "jpeg_format.h"
#include "pcd_reader.h"
#include "pcx_format.h"
#include "plugin/writer_module.h"
#include "png_format.h"
#include "tga_format.h"
#include "tiff_format.h"

namespace {

struct StringEntry {
  UINT id;
  const char* text;
};
#define WIN32_TEST_STRING(name, id, text) StringEntry{id, text},

struct ModuleCase {
  const char* file;
  bool reader;
  std::vector<StringEntry> strings;
  std::vector<WinportExport> extraExports;  // beyond the core reader or writer table
};

const std::vector<ModuleCase>& Modules() {
  static const std::vector<WinportExport> kPages(std::begin(reader::kPageExports),
                                                 std::end(reader::kPageExports));
  std::vector<WinportExport> faxExports = kPages;
  faxExports.push_back({"GetRawStripData", rdfax::kOrdGetRawStripData});
  faxExports.push_back({"GetTiffHeader", rdfax::kOrdGetTiffHeader});
  static const std::vector<ModuleCase> kModules = {
      {"rdtiff.DIL", true, {RDTIFF_STRINGS(WIN32_TEST_STRING)}, kPages},
      {"rdfax.DIL", true, {RDFAX_STRINGS(WIN32_TEST_STRING)}, faxExports},
      {"rdpcx.DIL", true, {RDPCX_STRINGS(WIN32_TEST_STRING)}, kPages},
      {"rdjpeg.DIL", true, {RDJPEG_STRINGS(WIN32_TEST_STRING)}, {}},
      {"rdpng.DIL", true, {RDPNG_STRINGS(WIN32_TEST_STRING)}, {}},
      {"rdgif.DIL", true, {RDGIF_STRINGS(WIN32_TEST_STRING)}, {}},
      {"rdtga.DIL", true, {RDTGA_STRINGS(WIN32_TEST_STRING)}, {}},
      {"rdgem.DIL", true, {RDGEM_STRINGS(WIN32_TEST_STRING)}, {}},
      {"rdpcd.DIL", true, {RDPCD_STRINGS(WIN32_TEST_STRING)}, {}},
      {"wrtiff.DEL", false, {WRITER_COMMON_STRINGS(WIN32_TEST_STRING)}, {}},
      {"wrjpeg.DEL", false,
       {WRITER_COMMON_STRINGS(WIN32_TEST_STRING) WRITER_MEMORY_STRINGS(WIN32_TEST_STRING)}, {}},
      {"wrpcx.DEL", false, {WRITER_COMMON_STRINGS(WIN32_TEST_STRING)}, {}},
      {"wrbmp.DEL", false, {WRITER_COMMON_STRINGS(WIN32_TEST_STRING)}, {}},
      {"wrpng.DEL", false,
       {WRITER_COMMON_STRINGS(WIN32_TEST_STRING) WRITER_MEMORY_STRINGS(WIN32_TEST_STRING)}, {}},
  };
  return kModules;
}

// build-win32/bin, beside the folder of this program (build-win32/tests).
std::string BinFolder() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  folder.erase(folder.find_last_of("\\/"));
  folder.erase(folder.find_last_of("\\/") + 1);
  return folder + "bin\\";
}

template <typename F>
F Export(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

class ModuleTest : public testing::TestWithParam<ModuleCase> {
 protected:
  void SetUp() override {
    module_ = LoadLibraryA((BinFolder() + GetParam().file).c_str());
    ASSERT_NE(module_, nullptr) << GetParam().file << ": error " << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  HMODULE module_ = nullptr;
};

TEST_P(ModuleTest, EveryTabledExportResolvesByNameAndOrdinalToOneAddress) {
  std::vector<WinportExport> exports = GetParam().extraExports;
  if (GetParam().reader) {
    exports.insert(exports.end(), std::begin(reader::kCoreExports), std::end(reader::kCoreExports));
  } else {
    exports.insert(exports.end(), std::begin(writer::kWriterExports),
                   std::end(writer::kWriterExports));
  }
  for (const WinportExport& entry : exports) {
    SCOPED_TRACE(entry.name);
    const FARPROC byName = GetProcAddress(module_, entry.name);
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(GetProcAddress(module_, MAKEINTRESOURCEA(entry.ordinal)), byName);
  }
  EXPECT_EQ(GetProcAddress(module_, "DllMain"), nullptr);
}

TEST_P(ModuleTest, StringTableIsTheModulesStringListExactly) {
  char text[512];
  for (const StringEntry& entry : GetParam().strings) {
    SCOPED_TRACE(entry.id);
    const int length = LoadStringA(module_, entry.id, text, sizeof text);
    EXPECT_EQ(length, static_cast<int>(std::string(entry.text).size()));
    EXPECT_STREQ(text, entry.text);
  }
  EXPECT_EQ(LoadStringA(module_, 999, text, sizeof text), 0);
}

// Calls through the stdcall exports: an invalid handle stores id 4 in the
// reader's thread slot, and OVDLerror_string loads its text from the module's
// own string table; writers answer their version text and refuse a bad block.
TEST_P(ModuleTest, ExportsAnswerThroughTheirCallingConvention) {
  if (GetParam().reader) {
    auto closeImage = Export<OVDLclose_image_fn>(module_, "OVDLclose_image");
    auto errorString = Export<OVDLerror_string_fn>(module_, "OVDLerror_string");
    auto getVersion = Export<OVDLget_ver_fn>(module_, "OVDLget_ver");
    ASSERT_TRUE(closeImage && errorString && getVersion);
    EXPECT_EQ(closeImage(nullptr), kReaderBadHandle);
    char text[64] = {};
    EXPECT_EQ(errorString(text, sizeof text), 1);
    EXPECT_STREQ(text, "Invalid image handle.");
    EXPECT_GT(std::string(getVersion()).size(), 0u);
  } else {
    auto getVersion = Export<OVXDLget_ver_fn>(module_, "OVXDLget_ver");
    auto endWrite = Export<OVXDLend_write_fn>(module_, "OVXDLend_write");
    ASSERT_TRUE(getVersion && endWrite);
    EXPECT_STREQ(getVersion(), "1.00");
    ExportProgress progress{};
    EXPECT_NE(endWrite(nullptr, &progress), kWriterOk);
    const HGLOBAL foreign = GlobalAlloc(GHND, 64);  // a block of no writer
    EXPECT_NE(endWrite(foreign, &progress), kWriterOk);
    EXPECT_EQ(GlobalFree(foreign), nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryPlugin, ModuleTest, testing::ValuesIn(Modules()),
                         [](const testing::TestParamInfo<ModuleCase>& info) {
                           std::string name = info.param.file;
                           name[name.find('.')] = '_';
                           return name;
                         });

}  // namespace
