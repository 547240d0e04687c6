// Driving a writer plug-in through its exports: the errors it reports to the
// host, the options the host answers (Options(), served by the test program's
// OvgXOptBlkGet), a recording file table over the in-memory files, DIBs to
// export, and exports that deliver a DIB's rows top first.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "memory_files.h"
#include "plugin/contract.h"
#include "plugin_loader.h"
#include "winport/windows.h"

namespace testsupport {

struct ErrorReport {
  HINSTANCE instance;
  int32_t id;
  std::string module;  // "(null)" for a null pointer
  std::string file;
};
// Reports received by RecordError since the last reset.
std::vector<ErrorReport>& Reports();
void CALLBACK RecordError(HINSTANCE instance, int32_t id, const char* module, const char* file);
std::vector<int32_t> ReportedIds();

// What the test program's OvgXOptBlkGet answers (any option block). The
// getter is defined beside it (writer_options.cpp) and so is linked into, and
// exported by, exactly the programs that use Options().
std::map<std::string, std::string>& Options();

// The in-memory files behind a table that logs every write and can make chosen
// write calls come up one byte short.
class RecordingFiles {
 public:
  struct Write {
    int64_t position;
    uint32_t count;
  };
  static RecordingFiles& instance();
  static const HostFileTable* table();
  void clearLog();  // the writes seen and the ones to shorten
  void reset();     // clearLog(), and MemoryFiles reset
  std::vector<uint32_t> counts() const;  // of the writes, in order

  std::vector<Write> writes;
  std::set<size_t> shortWrites;  // 0-based indices of write calls to shorten
};

// Empties the files, the write log and the reports (not Options()).
void ResetWriterHarness();

// A DIB: header and colour table, rows top first at the padded length.
struct Dib {
  std::vector<uint8_t> info;
  std::vector<std::vector<uint8_t>> rows;
  const BITMAPINFOHEADER* header() const { return reinterpret_cast<const BITMAPINFOHEADER*>(info.data()); }
  BITMAPINFOHEADER* header() { return reinterpret_cast<BITMAPINFOHEADER*>(info.data()); }
  RGBQUAD* table() { return reinterpret_cast<RGBQUAD*>(info.data() + sizeof(BITMAPINFOHEADER)); }
  const RGBQUAD* table() const { return reinterpret_cast<const RGBQUAD*>(info.data() + sizeof(BITMAPINFOHEADER)); }
  uint32_t width() const { return static_cast<uint32_t>(header()->biWidth); }
  uint32_t height() const { return static_cast<uint32_t>(header()->biHeight); }
  uint32_t stride() const;
  // Pixel (x, y) as red, green, blue: 8-bit samples, or 16-bit at 48 bits.
  std::vector<uint16_t> pixel(uint32_t x, uint32_t y) const;
  // Every pixel as 8-bit red, green, blue, top row first.
  std::vector<uint8_t> rgb() const;
};
// The header of a `bits` DIB (no compression) and a zeroed colour table of
// 2^bits entries up to 8 bits; no rows.
Dib DibHeader(int32_t width, int32_t height, uint16_t bits, int32_t xPerMetre, int32_t yPerMetre);

// What one export gave back.
struct ExportRun {
  HGLOBAL handle = 0;
  int32_t flags = -1;
  std::vector<int32_t> blockResults;
  int32_t endResult = 0;
  ExportProgress progress{};
  std::vector<uint8_t> file;
};

// A writer module with its exports resolved (null when missing).
struct WriterModule {
  explicit WriterModule(const std::string& fileName);
  // The four calls of an export are there.
  bool loaded() const;
  // OVXDLget_ext with RecordError and `host` (whose OvgXOptBlkGet the writer
  // uses; 0: none); the extension text, and the writer's flags into `hostFlags`.
  const char* connect(HMODULE host, uint32_t* hostFlags = nullptr) const;

  LoadedModule module;
  OVXDLget_ext_fn getExt = nullptr;
  OVXDLbegin_write_fn beginWrite = nullptr;
  OVXDLwrite_block_fn writeBlock = nullptr;
  OVXDLend_write_fn endWrite = nullptr;
  OVXDLget_ver_fn getVer = nullptr;
  WriterWEP_fn wep = nullptr;
};

struct TopFirstPlan {
  std::string fileName;
  uint32_t rowsPerCall = 0;              // 0: all rows in one call
  uint32_t stride = 0;                   // 0: the padded row; bytes past a row are 0x77
  int64_t rows = -1;                     // rows delivered (-1: all); past the last it repeats
  const HostFileTable* files = nullptr;  // null: MemoryFiles
  uint32_t interval = 0;                 // of the ExportProgress
  bool progressFlags = false;            // the ExportProgress flags from begin's
};
// Begins an export of `dib` into `plan.fileName`, delivers its rows top first
// in blocks (each block bottom-up in memory: its top row last) and ends it;
// the file's bytes from MemoryFiles.
ExportRun ExportTopFirst(const WriterModule& writer, const Dib& dib, const TopFirstPlan& plan);

}  // namespace testsupport
