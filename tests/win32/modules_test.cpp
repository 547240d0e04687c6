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

#include <winver.h>  // after the system headers the ones above include

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

// The file's VERSIONINFO resource, as GetFileVersionInfoA reads it.
struct VersionResource {
  bool present = false;
  std::string description;
  std::string fileVersion;
  std::string originalName;
  DWORD versionMS = 0;
  DWORD versionLS = 0;
};

VersionResource ReadVersion(const std::string& path) {
  VersionResource out;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return out;
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return out;
  auto text = [&](const char* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::string key = std::string("\\StringFileInfo\\040904E4\\") + name;
    return VerQueryValueA(data.data(), key.c_str(), &value, &length) && length > 0
               ? std::string(static_cast<const char*>(value))
               : std::string();
  };
  void* fixed = nullptr;
  UINT length = 0;
  out.present = VerQueryValueA(data.data(), "\\", &fixed, &length) && length >= sizeof(VS_FIXEDFILEINFO);
  if (out.present) {
    out.versionMS = static_cast<VS_FIXEDFILEINFO*>(fixed)->dwFileVersionMS;
    out.versionLS = static_cast<VS_FIXEDFILEINFO*>(fixed)->dwFileVersionLS;
  }
  out.description = text("FileDescription");
  out.fileVersion = text("FileVersion");
  out.originalName = text("OriginalFilename");
  return out;
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

// The version resource is made from the text the version export returns:
// that text is its description, and its "major.minor" the file version.
TEST_P(ModuleTest, VersionResourceIsTheVersionText) {
  const char* version = GetParam().reader ? Export<OVDLget_ver_fn>(module_, "OVDLget_ver")()
                                          : Export<OVXDLget_ver_fn>(module_, "OVXDLget_ver")();
  const VersionResource resource = ReadVersion(BinFolder() + GetParam().file);
  ASSERT_TRUE(resource.present) << "no VERSIONINFO";
  EXPECT_EQ(resource.description, version);
  EXPECT_EQ(resource.originalName, GetParam().file);
  const std::string text = version;
  const std::string dotted = text.substr(text.find_last_of(" V") + 1);
  EXPECT_EQ(resource.fileVersion, dotted);
  const DWORD major = std::stoul(dotted), minor = std::stoul(dotted.substr(dotted.find('.') + 1));
  EXPECT_EQ(resource.versionMS, (major << 16) | minor);
  EXPECT_EQ(resource.versionLS, 0u);
}

TEST(PhotoCdLibrary, CarriesAVersionResource) {
  const VersionResource resource = ReadVersion(BinFolder() + "PCDLIB32.dll");
  ASSERT_TRUE(resource.present) << "no VERSIONINFO";
  EXPECT_EQ(resource.description, "Photo CD Image Library V1.0");
  EXPECT_EQ(resource.fileVersion, "1.0");
  EXPECT_EQ(resource.originalName, "PCDLIB32.dll");
}

INSTANTIATE_TEST_SUITE_P(EveryPlugin, ModuleTest, testing::ValuesIn(Modules()),
                         [](const testing::TestParamInfo<ModuleCase>& info) {
                           std::string name = info.param.file;
                           name[name.find('.')] = '_';
                           return name;
                         });

}  // namespace
