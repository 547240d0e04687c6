// Shared pieces of the TIFF benchmarks: the plug-ins loaded from the build's
// bin folder, an in-memory HostFileTable, synthetic pages, and libtiff
// reading and writing in memory for the side-by-side figures.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "plugin/contract.h"
#include "winport/windows.h"

namespace bench {

// Ends the run with a message on stderr.
[[noreturn]] void Abort(const std::string& why);

// A plug-in from the build's bin folder; aborts the run when it is missing.
HMODULE LoadPlugin(const char* fileName);
// The export `name` of `module` as F; aborts when missing.
template <typename F>
F Export(HMODULE module, const char* name) {
  const auto address = GetProcAddress(module, name);
  if (address == nullptr) Abort(std::string("missing export ") + name);
  return reinterpret_cast<F>(address);
}

// Options answered by the program's OvgXOptBlkGet.
std::map<std::string, std::string>& Options();

// In-memory files by name, behind a HostFileTable. The file designation is
// the name as NUL-terminated text.
const HostFileTable* MemoryTable();
std::vector<uint8_t>& MemoryFile(const std::string& name);
void RemoveMemoryFile(const std::string& name);

// A 1-bit page, bottom-up DIB rows (stride a multiple of 4), a set bit white.
struct MonoPage {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t stride = 0;
  std::vector<uint8_t> info;  // BITMAPINFOHEADER + black, white
  std::vector<uint8_t> rows;  // bottom row first
  const BITMAPINFOHEADER* header() const {
    return reinterpret_cast<const BITMAPINFOHEADER*>(info.data());
  }
  // Row y counted from the top.
  const uint8_t* rowFromTop(uint32_t y) const { return rows.data() + size_t{stride} * (height - 1 - y); }
};
// A text-like page: margins, lines of glyph-like strokes and word gaps. With
// `whiteIsZero` every bit is inverted (a clear bit white).
MonoPage MakeTextPage(uint32_t width, uint32_t height, bool whiteIsZero = false);
// An A4 page at 300 dots per inch, 2480 x 3508, in both bit senses.
const MonoPage& A4Page();
const MonoPage& A4PageWhiteIsZero();

// Exports `page` through wrtiff.DEL into the memory file `name` with the
// options set; the file's bytes.
std::vector<uint8_t> WriteWithWrtiff(const MonoPage& page, const std::string& name);

#if BENCH_HAVE_LIBTIFF
// libtiff writes `page` as one image with `compression` (COMPRESSION_*) into
// memory, rows per strip as given, as WhiteIsZero: libtiff's coders take a 0
// bit as white, so hand it a page made with `whiteIsZero` (MakeTextPage) for
// the same runs. The file's bytes.
std::vector<uint8_t> WriteWithLibtiff(const MonoPage& page, uint16_t compression,
                                      uint32_t rowsPerStrip);
// libtiff decodes every row of the first image of `file` (a TIFF in memory);
// the sum of the bytes decoded, so the work cannot be optimised away. For the
// side-by-side figures of reading benchmarks.
// With `toDibOrder`, each 24-bit row also gets its red and blue bytes exchanged,
// the work a reader does to hand a host DIB rows.
uint64_t DecodeWithLibtiff(const std::vector<uint8_t>& file, bool toDibOrder = false);
#endif

}  // namespace bench
