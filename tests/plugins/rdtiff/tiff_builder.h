// Builds TIFF files in memory for the reader's tests: pages of tag entries and
// strips, in either byte order, laid out automatically (header, then each
// page's strips, out-of-line values and directory). Entries are written in
// the order given, so tests can probe order-dependent rules.
#pragma once

#include <cstdint>
#include <vector>

namespace tifftest {

enum Type : uint16_t { kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5 };

struct TagEntry {
  uint16_t tag;
  uint16_t type;
  std::vector<uint32_t> values;  // RATIONAL: numerator, denominator pairs
  int64_t countOverride = -1;    // >= 0: the count written instead of the real one
};

struct Page {
  std::vector<TagEntry> entries;  // StripOffsets (273) values are filled in by Build
  std::vector<std::vector<uint8_t>> strips;
  bool addStripOffsets = true;  // add a 273 entry (LONG) unless the page lists one
  bool addByteCounts = true;    // add a 279 entry (LONG)
  bool sortEntries = true;      // false: entries stay in the order given
};

struct BuildOptions {
  bool bigEndian = false;
  // Links: -1 = the next page (0 after the last); else the index of the page
  // the directory links to (a loop), or a raw offset when >= 1000.
  std::vector<int64_t> links;
  bool firstIfdZero = false;
};

std::vector<uint8_t> Build(const std::vector<Page>& pages, const BuildOptions& options = {});

// A page of `width` × `height` with the given depth and compression and its
// rows split into strips of `rowsPerStrip` rows (strip data given whole).
Page SimplePage(uint32_t width, uint32_t height, uint16_t bitsPerSample, uint16_t samples,
                uint16_t photometric, uint16_t compression, uint32_t rowsPerStrip,
                std::vector<std::vector<uint8_t>> strips);

// Uncompressed strips from rows.
std::vector<std::vector<uint8_t>> StripsFromRows(const std::vector<std::vector<uint8_t>>& rows,
                                                 uint32_t rowsPerStrip);

// A PackBits encoding of one row (literal and repeat runs, each within the row).
std::vector<uint8_t> PackBits(const std::vector<uint8_t>& row);

}  // namespace tifftest
