// Driving wrpcx.DEL through its exports: DIBs to export, a file table over
// the in-memory files that logs writes and can cut them short, error reports.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "memory_files.h"
#include "plugin/contract.h"
#include "plugin_loader.h"
#include "winport/windows.h"

namespace wrpcxtest {

using Bytes = std::vector<uint8_t>;

struct Report {
  int32_t id;
  std::string module;
  std::string file;
};
std::vector<Report>& Reports();

// Write calls seen (byte counts) and the 0-based calls to cut one byte short.
struct WriteLog {
  std::vector<uint32_t> counts;
  std::set<size_t> shortCalls;
};
WriteLog& Writes();
const HostFileTable* LoggingTable();

// A DIB: header + colour table, rows top first at the padded row length.
struct Dib {
  Bytes info;
  std::vector<Bytes> rows;
  const BITMAPINFOHEADER* header() const { return reinterpret_cast<const BITMAPINFOHEADER*>(info.data()); }
  BITMAPINFOHEADER* header() { return reinterpret_cast<BITMAPINFOHEADER*>(info.data()); }
  uint32_t stride() const {
    return static_cast<uint32_t>(DibRowBytes(header()->biWidth, header()->biBitCount));
  }
};
// Rows of random bytes (runs included); colour table entry i = (i, 2i, 3i) (mod 256).
Dib MakeDib(int32_t width, int32_t height, uint16_t bits, uint32_t seed = 1);

struct ExportRun {
  HGLOBAL handle = 0;
  int32_t flags = -1;
  std::vector<int32_t> blockResults;
  int32_t endResult = 0;
  ExportProgress progress{};
  Bytes file;
};

struct Writer {
  testsupport::LoadedModule module{"wrpcx.DEL"};
  OVXDLget_ext_fn getExt = nullptr;
  OVXDLbegin_write_fn beginWrite = nullptr;
  OVXDLwrite_block_fn writeBlock = nullptr;
  OVXDLend_write_fn endWrite = nullptr;
  OVXDLget_ver_fn getVer = nullptr;
  Writer();
  // Exports `dib` to "out.pcx" in blocks of `rowsPerCall` rows (0: all),
  // each row `stride` bytes apart (0: the padded row).
  ExportRun run(const Dib& dib, uint32_t rowsPerCall = 0, uint32_t stride = 0,
          const std::string& name = "out.pcx") const;
};

class WrpcxTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  Writer writer;
  uint32_t blocksBefore_ = 0;
};

// The 128-byte header's 16-bit field at `offset`.
inline uint32_t Field16(const Bytes& file, size_t offset) {
  return file[offset] | file[offset + 1] << 8;
}

}  // namespace wrpcxtest
