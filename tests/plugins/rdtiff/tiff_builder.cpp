#include "tiff_builder.h"

#include <algorithm>

namespace tifftest {
namespace {

class Writer {
 public:
  explicit Writer(bool bigEndian) : big_(bigEndian) {}
  std::vector<uint8_t> bytes;

  void put8(uint32_t v) { bytes.push_back(static_cast<uint8_t>(v)); }
  void put16(uint32_t v) {
    if (big_) { put8(v >> 8); put8(v); } else { put8(v); put8(v >> 8); }
  }
  void put32(uint32_t v) {
    if (big_) { put16(v >> 16); put16(v); } else { put16(v); put16(v >> 16); }
  }
  void set32(size_t at, uint32_t v) {
    Writer w(big_);
    w.put32(v);
    std::copy(w.bytes.begin(), w.bytes.end(), bytes.begin() + static_cast<long>(at));
  }
  void putValue(uint16_t type, uint32_t v) {
    switch (type) {
      case kByte: case kAscii: put8(v); break;
      case kShort: put16(v); break;
      default: put32(v); break;
    }
  }

 private:
  bool big_;
};

uint32_t SizeOf(uint16_t type) {
  switch (type) {
    case kByte: case kAscii: return 1;
    case kShort: return 2;
    case kRational: return 4;  // per stored word
    default: return 4;
  }
}

void InsertSorted(std::vector<TagEntry>& entries, TagEntry entry) {
  auto at = std::find_if(entries.begin(), entries.end(),
                         [&](const TagEntry& e) { return e.tag > entry.tag; });
  entries.insert(at, std::move(entry));
}

bool Has(const std::vector<TagEntry>& entries, uint16_t tag) {
  return std::any_of(entries.begin(), entries.end(), [&](const TagEntry& e) { return e.tag == tag; });
}

}  // namespace

std::vector<uint8_t> Build(const std::vector<Page>& pages, const BuildOptions& options) {
  Writer w(options.bigEndian);
  w.put16(options.bigEndian ? 0x4D4D : 0x4949);
  w.put16(42);
  w.put32(0);
  std::vector<size_t> linkFields;
  std::vector<uint32_t> ifdPositions;
  for (const Page& page : pages) {
    std::vector<TagEntry> entries = page.entries;
    std::vector<uint32_t> offsets;
    std::vector<uint32_t> counts;
    for (const auto& strip : page.strips) {
      offsets.push_back(static_cast<uint32_t>(w.bytes.size()));
      counts.push_back(static_cast<uint32_t>(strip.size()));
      w.bytes.insert(w.bytes.end(), strip.begin(), strip.end());
    }
    for (TagEntry& e : entries) {
      if (e.tag == 273 && e.values.empty()) e.values = offsets;
    }
    if (page.addStripOffsets && !Has(entries, 273)) InsertSorted(entries, {273, kLong, offsets});
    if (page.addByteCounts && !Has(entries, 279)) InsertSorted(entries, {279, kLong, counts});
    if (page.sortEntries) {
      std::stable_sort(entries.begin(), entries.end(),
                       [](const TagEntry& a, const TagEntry& b) { return a.tag < b.tag; });
    }
    // Out-of-line values first, remembering where each went.
    std::vector<uint32_t> valueAt(entries.size(), 0);
    for (size_t i = 0; i < entries.size(); ++i) {
      const TagEntry& e = entries[i];
      if (e.values.size() * SizeOf(e.type) <= 4) continue;
      if (w.bytes.size() % 2) w.put8(0);
      valueAt[i] = static_cast<uint32_t>(w.bytes.size());
      for (uint32_t v : e.values) w.putValue(e.type, v);
    }
    if (w.bytes.size() % 2) w.put8(0);
    ifdPositions.push_back(static_cast<uint32_t>(w.bytes.size()));
    w.put16(static_cast<uint32_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
      const TagEntry& e = entries[i];
      uint32_t count = e.type == kRational ? static_cast<uint32_t>(e.values.size() / 2)
                                           : static_cast<uint32_t>(e.values.size());
      if (e.countOverride >= 0) count = static_cast<uint32_t>(e.countOverride);
      w.put16(e.tag);
      w.put16(e.type);
      w.put32(count);
      if (valueAt[i] != 0) {
        w.put32(valueAt[i]);
      } else {
        size_t start = w.bytes.size();
        for (uint32_t v : e.values) w.putValue(e.type, v);
        while (w.bytes.size() < start + 4) w.put8(0);
      }
    }
    linkFields.push_back(w.bytes.size());
    w.put32(0);
  }
  if (!options.firstIfdZero && !ifdPositions.empty()) w.set32(4, ifdPositions[0]);
  for (size_t i = 0; i < linkFields.size(); ++i) {
    int64_t link = i < options.links.size() ? options.links[i] : -1;
    uint32_t target = 0;
    if (link < 0) target = i + 1 < ifdPositions.size() ? ifdPositions[i + 1] : 0;
    else if (link >= 1000) target = static_cast<uint32_t>(link);
    else target = ifdPositions[static_cast<size_t>(link)];
    w.set32(linkFields[i], target);
  }
  return w.bytes;
}

Page SimplePage(uint32_t width, uint32_t height, uint16_t bitsPerSample, uint16_t samples,
                uint16_t photometric, uint16_t compression, uint32_t rowsPerStrip,
                std::vector<std::vector<uint8_t>> strips) {
  Page page;
  page.entries = {
      {256, kLong, {width}},
      {257, kLong, {height}},
      {258, kShort, std::vector<uint32_t>(samples, bitsPerSample)},
      {259, kShort, {compression}},
      {262, kShort, {photometric}},
      {277, kShort, {samples}},
      {278, kLong, {rowsPerStrip}},
  };
  page.strips = std::move(strips);
  return page;
}

std::vector<std::vector<uint8_t>> StripsFromRows(const std::vector<std::vector<uint8_t>>& rows,
                                                 uint32_t rowsPerStrip) {
  std::vector<std::vector<uint8_t>> strips;
  for (size_t r = 0; r < rows.size(); ++r) {
    if (r % rowsPerStrip == 0) strips.emplace_back();
    strips.back().insert(strips.back().end(), rows[r].begin(), rows[r].end());
  }
  return strips;
}

std::vector<uint8_t> PackBits(const std::vector<uint8_t>& row) {
  std::vector<uint8_t> out;
  size_t i = 0;
  while (i < row.size()) {
    size_t run = 1;
    while (i + run < row.size() && run < 128 && row[i + run] == row[i]) ++run;
    if (run >= 2) {
      out.push_back(static_cast<uint8_t>(257 - run));
      out.push_back(row[i]);
      i += run;
      continue;
    }
    size_t start = i;
    while (i < row.size() && i - start < 128 &&
           !(i + 1 < row.size() && row[i + 1] == row[i])) {
      ++i;
    }
    if (i == start) ++i;
    out.push_back(static_cast<uint8_t>(i - start - 1));
    out.insert(out.end(), row.begin() + static_cast<long>(start), row.begin() + static_cast<long>(i));
  }
  return out;
}

}  // namespace tifftest
