// A reader plug-in that misbehaves on request, for the host's tests. Its
// files are text headers: "FAKEIMG <scenario> <width> <height> <bits> <pages>".
// Rows are 8-bit grey, pixel (x, y) of page p = (x + 3y + 17p) mod 256, and
// are OR-ed into the host's buffer (as interlaced readers do).
//
// Scenarios: plain; refuse-blocks (partial reads answer 8, like an
// interlaced PNG); fail-init; fail-read-10 (no message stored);
// fail-read-77 (an unknown result, with a message); no-header-block;
// short-palette; mismatch (header record and bitmap header disagree);
// byte-reads (init mixes one-byte reads with reads and seeks and fails
// unless each sees the file's position as the one before left it); stall
// and stall-deaf (at the middle row the reader creates "<file>.stalled" and
// waits: stall reports progress every few milliseconds until the host
// cancels, result 23; stall-deaf reports nothing, like a library call that
// blocks; either gives up after 30 s, creates "<file>.gave-up" and fails
// with result 10).
// Sizes and bit counts come from the file, so absurd ones reach the host.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "plugin/contract.h"
#include "winport/memory.h"
#include "winport/module.h"
#include "winport/resource.h"

namespace {

HINSTANCE g_instance = 0;
UINT g_lastError = 0;

struct FakeImage {
  ImageBlockHead head;
  char scenario[32];
  int32_t width, height;
  uint32_t bits, pages, page, row;
};

bool Is(const FakeImage& image, const char* scenario) {
  return std::strcmp(image.scenario, scenario) == 0;
}

int32_t Fail(UINT id, int32_t result) {
  g_lastError = id;
  return result;
}

// One-byte reads, reads and seeks in turn over the header text "FAKEIMG ...".
bool PositionsAgree(const HostFileTable& files, uint32_t file) {
  char three[3] = {};
  if (files.seek(file, 0, 0) != 0 || files.readByte(file) != 'F' || files.readByte(file) != 'A')
    return false;
  if (files.read(file, three, 3) != 3 || std::memcmp(three, "KEI", 3) != 0) return false;
  if (files.seek(file, 0, 1) != 5 || files.readByte(file) != 'M') return false;
  if (files.seek(file, 1, 0) != 1 || files.readByte(file) != 'A') return false;
  return files.seek(file, 0, 1) == 2;
}

// Waits at the middle row (scenarios stall and stall-deaf) after marking the
// file, so that a test knows the conversion is under way.
void Mark(const FakeImage& image, const char* suffix) {
  const std::string marker =
      static_cast<const char*>(image.head.fileReference) + std::string(suffix);
  if (std::FILE* file = std::fopen(marker.c_str(), "w")) std::fclose(file);
}

int32_t Stall(const FakeImage& image, const ProgressRecord* progress) {
  Mark(image, ".stalled");
  const bool reports = Is(image, "stall") && progress != nullptr && progress->callback != nullptr;
  for (int wait = 0; wait < 6000; ++wait) {
    if (reports && progress->callback(progress->firstArgument, 50, progress->thirdArgument) == 0)
      return kReaderCancelled;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  Mark(image, ".gave-up");
  return kReaderCorrupt;
}

}  // namespace

WINPORT_EXPORT int32_t WINAPI OVDLverify_img(const uint8_t* bytes, int32_t, int32_t) {
  return std::memcmp(bytes, "FAKEIMG ", 8) == 0 ? 1 : 0;
}

WINPORT_EXPORT int32_t WINAPI OVDLinit_image(FileReference ref, HGLOBAL* handle, uint32_t file,
                                      uint32_t offset, uint32_t, const HostFileTable* files) {
  char text[128] = {};
  int32_t got = files->read(file, text, sizeof text - 1);
  FakeImage image{};
  image.head = ImageBlockHead{ref, file, files, offset};
  if (got <= 0 ||
      std::sscanf(text, "FAKEIMG %31s %d %d %u %u", image.scenario, &image.width, &image.height,
                  &image.bits, &image.pages) != 5 ||
      Is(image, "fail-init") || (Is(image, "byte-reads") && !PositionsAgree(*files, file))) {
    files->close(file);
    return Fail(2, kReaderReadFailed);
  }
  HGLOBAL block = GlobalAlloc(GHND, sizeof(FakeImage));
  std::memcpy(GlobalLock(block), &image, sizeof image);
  GlobalUnlock(block);
  *handle = block;
  return kReaderOk;
}

WINPORT_EXPORT int32_t WINAPI OVDLclose_image(HGLOBAL handle) {
  auto* image = static_cast<FakeImage*>(GlobalLock(handle));
  if (image == nullptr) return Fail(4, kReaderBadHandle);
  if (image->head.file != 0) image->head.files->close(image->head.file);
  GlobalUnlock(handle);
  GlobalFree(handle);
  return kReaderOk;
}

WINPORT_EXPORT int32_t WINAPI OVDLbuildDIBhead(HGLOBAL handle, ImageHeaderRecord* record) {
  auto* image = static_cast<FakeImage*>(GlobalLock(handle));
  if (image == nullptr) return Fail(4, kReaderBadHandle);
  if (Is(*image, "no-header-block")) {
    GlobalUnlock(handle);
    return kReaderOk;
  }
  const uint32_t entries = image->bits <= 8 ? 1u << image->bits : 0;
  const uint32_t stored = Is(*image, "short-palette") ? 1 : entries;
  HGLOBAL block = GlobalAlloc(GHND, 40 + 4 * stored);
  auto* info = static_cast<BITMAPINFO*>(GlobalLock(block));
  info->bmiHeader = BITMAPINFOHEADER{
      40, image->width, image->height, 1, static_cast<uint16_t>(image->bits), 0, 0, 0, 0, 0, 0};
  for (uint32_t i = 0; i < stored; ++i) {
    uint8_t level = static_cast<uint8_t>(i * 255 / (entries > 1 ? entries - 1 : 1));
    info->bmiColors[i] = RGBQUAD{level, level, level, 0};
  }
  record->bitmapInfo = info;
  record->zeroWord = 0;
  record->width = static_cast<uint32_t>(image->width) + (Is(*image, "mismatch") ? 1 : 0);
  record->height = static_cast<uint32_t>(image->height);
  record->pageCount = image->pages;
  GlobalUnlock(handle);
  return kReaderOk;
}

WINPORT_EXPORT int32_t WINAPI OVDLread_rows(HGLOBAL handle, uint8_t* buffer, uint32_t rows,
                                     uint32_t stride, uint32_t offset, ProgressRecord* progress) {
  auto* image = static_cast<FakeImage*>(GlobalLock(handle));
  if (image == nullptr) return Fail(4, kReaderBadHandle);
  int32_t result = kReaderOk;
  if (Is(*image, "refuse-blocks") && rows != static_cast<uint32_t>(image->height)) {
    result = Fail(4, kReaderBadHandle);
  } else if (Is(*image, "fail-read-10")) {
    result = kReaderCorrupt;
  } else if (Is(*image, "fail-read-77")) {
    result = Fail(9, 77);
  } else {
    for (uint32_t k = 0; k < rows && image->row < static_cast<uint32_t>(image->height); ++k) {
      if ((Is(*image, "stall") || Is(*image, "stall-deaf")) &&
          image->row == static_cast<uint32_t>(image->height) / 2) {
        result = Stall(*image, progress);
        break;
      }
      uint8_t* row = buffer + uint64_t{rows - 1 - k} * stride;
      for (uint32_t x = offset; x < stride && x < static_cast<uint32_t>(image->width); ++x)
        row[x - offset] |= static_cast<uint8_t>(x + 3 * image->row + 17 * image->page);
      ++image->row;
      if (progress != nullptr && progress->callback != nullptr && progress->total != 0)
        progress->callback(progress->firstArgument,
                           image->row * 100 / static_cast<uint32_t>(image->height),
                           progress->thirdArgument);
    }
  }
  GlobalUnlock(handle);
  return result;
}

WINPORT_EXPORT int32_t WINAPI OVDLset_row(HGLOBAL handle, uint32_t row) {
  auto* image = static_cast<FakeImage*>(GlobalLock(handle));
  if (image == nullptr) return Fail(4, kReaderBadHandle);
  image->row = row;
  GlobalUnlock(handle);
  return kReaderOk;
}

WINPORT_EXPORT int32_t WINAPI OVDLset_page(HGLOBAL handle, int32_t page) {
  auto* image = static_cast<FakeImage*>(GlobalLock(handle));
  if (image == nullptr) return Fail(4, kReaderBadHandle);
  int32_t result = kReaderOk;
  if (page < 0 || static_cast<uint32_t>(page) >= image->pages) {
    result = Fail(15, kReaderNoSuchPage);
  } else {
    image->page = static_cast<uint32_t>(page);
    image->row = 0;
  }
  GlobalUnlock(handle);
  return result;
}

WINPORT_EXPORT int32_t WINAPI OVDLerror_string(char* buffer, int32_t size) {
  LoadStringA(g_instance, g_lastError, buffer, size);
  return kReaderOk;
}

WINPORT_EXPORT const char* WINAPI OVDLget_ver() { return "Fake Reader V0.1"; }

namespace {

BOOL FakeReaderMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) g_instance = instance;
  return TRUE;
}

constexpr WinportExport kExports[] = {
    {"OVDLinit_image", kOrdOVDLinit_image},     {"OVDLclose_image", kOrdOVDLclose_image},
    {"OVDLread_rows", kOrdOVDLread_rows},       {"OVDLset_row", kOrdOVDLset_row},
    {"OVDLbuildDIBhead", kOrdOVDLbuildDIBhead}, {"OVDLerror_string", kOrdOVDLerror_string},
    {"OVDLget_ver", kOrdOVDLget_ver},           {"OVDLset_page", kOrdOVDLset_page},
    {"OVDLverify_img", kOrdOVDLverify_img},
};

constexpr char kCannotRead[] = "Error reading from file.";
constexpr char kBadHandle[] = "Invalid image handle.";
constexpr char kFailure77[] = "Fake failure 77.";
constexpr char kNoPage[] = "Seek to non-existent page.";
constexpr char kFilter[] = "Fake images~*.fak~";
constexpr WinportResource kStrings[] = {
    {RT_STRING, 2, kCannotRead, sizeof kCannotRead - 1},
    {RT_STRING, 4, kBadHandle, sizeof kBadHandle - 1},
    {RT_STRING, 9, kFailure77, sizeof kFailure77 - 1},
    {RT_STRING, 15, kNoPage, sizeof kNoPage - 1},
    {RT_STRING, 1000, kFilter, sizeof kFilter - 1},
};

}  // namespace

WINPORT_MODULE(kExports, sizeof kExports / sizeof kExports[0], kStrings,
               sizeof kStrings / sizeof kStrings[0], FakeReaderMain)
