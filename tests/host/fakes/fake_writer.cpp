// A writer plug-in for the host's tests. It wants the bottom row first (like
// the BMP writer without "FORWARD") but is not the BMP writer, so the host
// must reverse a reader's rows through its temporary file. It writes a text
// line "FAKEROWS <width> <height> <bits> <stride> echo=<value of ECHO>", then
// every block's bytes as they lie in memory: the file's rows end up bottom
// row first. Options come through the host's OvgXOptBlkGet:
//   ECHO=text      copied into the first line
//   FAIL=begin     open fails: error 1, null handle
//   FAIL=report    a block reports error 3 but answers success
//   FAIL=result    a block answers 204 without reporting
//   FAIL=end       OVXDLend_write answers 204
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "plugin/contract.h"
#include "winport/memory.h"
#include "winport/module.h"

namespace {

HINSTANCE g_instance = 0;
ExportErrorCallback g_report = nullptr;
OvgXOptBlkGet_fn g_getOption = nullptr;
constexpr char kModuleName[] = "fakewrite.DEL";

struct FakeExport {
  ExportBlockHead head;
  char fail[16];
};

void Report(int32_t id, const char* fileName) {
  if (g_report != nullptr) g_report(g_instance, id, kModuleName, fileName);
}

void Option(HGLOBAL options, const char* key, char* value) {
  value[0] = '\0';
  if (g_getOption == nullptr || g_getOption(options, key, value) != 0) value[0] = '\0';
}

}  // namespace

WINPORT_EXPORT const char* WINAPI OVXDLget_ext(ExportHostInfo* host) {
  host->flags = 1;
  g_report = host->errorCallback;
  g_getOption =
      host->hostInstance == 0
          ? nullptr
          : reinterpret_cast<OvgXOptBlkGet_fn>(reinterpret_cast<void (*)()>(
                GetProcAddress(host->hostInstance, "OvgXOptBlkGet")));
  return "FAK;Fake rows (*.fak)";
}

WINPORT_EXPORT HGLOBAL WINAPI OVXDLbegin_write(FileReference file, const HostFileTable* files,
                                        const char* fileName, const BITMAPINFOHEADER* image,
                                        HGLOBAL options, int32_t* flags) {
  *flags = 1;
  char fail[kOptionValueSize], echo[kOptionValueSize];
  Option(options, "FAIL", fail);
  Option(options, "ECHO", echo);
  uint32_t handle = 0;
  if (std::strcmp(fail, "begin") == 0 || files->open(file, kOpenCreate, &handle) != 1) {
    Report(kWriterErrorOpen, fileName);
    return 0;
  }
  HGLOBAL block = GlobalAlloc(GHND, sizeof(FakeExport));
  auto* state = static_cast<FakeExport*>(GlobalLock(block));
  std::snprintf(state->head.fileName, sizeof state->head.fileName, "%s", fileName);
  state->head.file = handle;
  state->head.files = files;
  std::memcpy(state->fail, fail, std::min(std::strlen(fail), sizeof state->fail - 1));  // zeroed block
  char line[512];
  int length = std::snprintf(line, sizeof line, "FAKEROWS %d %d %u %llu echo=%s\n",
                             static_cast<int>(image->biWidth), static_cast<int>(image->biHeight),
                             static_cast<unsigned>(image->biBitCount),
                             static_cast<unsigned long long>(DibRowBytes(
                                 static_cast<uint64_t>(image->biWidth), image->biBitCount)),
                             echo);
  files->write(handle, line, static_cast<uint32_t>(length));
  GlobalUnlock(block);
  return block;
}

WINPORT_EXPORT int32_t WINAPI OVXDLwrite_block(HGLOBAL block, uint32_t rows, uint32_t stride,
                                        const uint8_t* data, ExportProgress* progress) {
  auto* state = static_cast<FakeExport*>(GlobalLock(block));
  if (state == nullptr) return kWriterWriteFailed;
  int32_t result = kWriterOk;
  const uint32_t bytes = rows * stride;
  if (state->head.files->write(state->head.file, data, bytes) != static_cast<int32_t>(bytes) ||
      std::strcmp(state->fail, "report") == 0)
    Report(kWriterErrorWrite, state->head.fileName);
  if (std::strcmp(state->fail, "result") == 0) result = kWriterWriteFailed;
  progress->sinceLast += bytes;
  if (progress->sinceLast > progress->interval) {
    progress->bytesDone += progress->sinceLast;
    progress->sinceLast = 0;
    if (progress->callback != nullptr)
      progress->callback(
          0, static_cast<int32_t>(uint64_t{progress->bytesDone} * 100 / progress->bytesTotal),
          progress->userValue);
  }
  GlobalUnlock(block);
  return result;
}

WINPORT_EXPORT int32_t WINAPI OVXDLend_write(HGLOBAL block, ExportProgress* progress) {
  auto* state = static_cast<FakeExport*>(GlobalLock(block));
  if (state == nullptr) return kWriterWriteFailed;
  const bool fail = std::strcmp(state->fail, "end") == 0;
  progress->fileSize = static_cast<uint32_t>(state->head.files->seek(state->head.file, 0, 2));
  state->head.files->close(state->head.file);
  GlobalUnlock(block);
  GlobalFree(block);
  return fail ? kWriterWriteFailed : kWriterOk;
}

WINPORT_EXPORT const char* WINAPI OVXDLget_ver() { return "0.1"; }

namespace {

BOOL FakeWriterMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) g_instance = instance;
  return TRUE;
}

constexpr WinportExport kExports[] = {
    {"OVXDLget_ext", kOrdOVXDLget_ext},         {"OVXDLbegin_write", kOrdOVXDLbegin_write},
    {"OVXDLwrite_block", kOrdOVXDLwrite_block}, {"OVXDLend_write", kOrdOVXDLend_write},
    {"OVXDLget_ver", kOrdOVXDLget_ver},
};

constexpr char kCannotOpen[] = "Unable to open file.";
constexpr char kCannotWrite[] = "Fake write failure.";
constexpr WinportResource kStrings[] = {
    {RT_STRING, 1, kCannotOpen, sizeof kCannotOpen - 1},
    {RT_STRING, 3, kCannotWrite, sizeof kCannotWrite - 1},
};

}  // namespace

WINPORT_MODULE(kExports, sizeof kExports / sizeof kExports[0], kStrings,
               sizeof kStrings / sizeof kStrings[0], FakeWriterMain)
