// PackBits and the CCITT coders (modified Huffman, Group 3, Group 4).
#include "tiff_encoders.h"

#include <array>
#include <bit>
#include <cstring>

namespace wrtiff {
namespace {

constexpr uint32_t kLongestMakeUp = 1728;
constexpr uint32_t kMakeUpStep = t4::kMakeUpStep;

constexpr std::array<uint8_t, 256> MakeMirrorTable() {
  std::array<uint8_t, 256> table{};
  for (uint32_t v = 0; v < 256; ++v) {
    uint32_t mirrored = 0;
    for (uint32_t b = 0; b < 8; ++b) {
      if ((v >> b) & 1u) mirrored |= 0x80u >> b;
    }
    table[v] = static_cast<uint8_t>(mirrored);
  }
  return table;
}
constexpr std::array<uint8_t, 256> kMirror = MakeMirrorTable();

// Eight bytes of the row from `index` as a big-endian word (pixel index * 8
// in bit 63); bytes past the row's end read as 0.
uint64_t LoadRowWord(const uint8_t* row, uint32_t index, uint32_t rowBytes) {
  uint64_t word = 0;
  if (rowBytes - index >= 8) {
    std::memcpy(&word, row + index, 8);
  } else {
    std::memcpy(&word, row + index, rowBytes - index);
  }
  if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
  return word;
}

// Emits a run of `length` pixels: make-up codes of 1728 while above 1728,
// then the make-up code of the multiple of 64 joined to the terminating code.
void PutRunCodes(RegisterBitWriter& out, uint32_t length, bool white) {
  const t4::Code* makeUp = white ? t4::kWhiteMakeUp : t4::kBlackMakeUp;
  const t4::Code* terminating = white ? t4::kWhiteTerminating : t4::kBlackTerminating;
  while (length > kLongestMakeUp) {
    out.put(makeUp[kLongestMakeUp / kMakeUpStep - 1]);
    length -= kLongestMakeUp;
  }
  const t4::Code last = terminating[length % kMakeUpStep];
  if (length < kMakeUpStep) {
    out.put(last);
    return;
  }
  const t4::Code first = makeUp[length / kMakeUpStep - 1];
  out.put((static_cast<uint32_t>(first.bits) << last.length) | last.bits, first.length + last.length);
}

}  // namespace

// The changes are the set bits of the row XOR the row shifted by one pixel
// (the pixel before the row white), taken 64 pixels at a time.
size_t BuildChangeList(const uint8_t* row, uint32_t width, uint32_t* changes) {
  const uint32_t rowBytes = (width + 7) / 8;
  size_t count = 0;
  uint64_t before = 1;  // the pixel left of the word
  for (uint32_t base = 0; base < width; base += 64) {
    const uint64_t word = LoadRowWord(row, base / 8, rowBytes);
    uint64_t differ = word ^ ((word >> 1) | (before << 63));
    before = word & 1;
    while (differ != 0) {
      const auto skip = static_cast<uint32_t>(std::countl_zero(differ));
      const uint32_t position = base + skip;
      if (position >= width) break;  // bits past the width are ignored
      changes[count++] = position;
      differ ^= uint64_t{1} << (63 - skip);
    }
  }
  changes[count] = changes[count + 1] = changes[count + 2] = width;
  return count;
}

void EncodeModifiedHuffmanRow(BitWriter& out, const uint32_t* changes, uint32_t width) {
  // Runs alternate from white; a row beginning black starts with a white run of 0.
  RegisterBitWriter writer(out);
  uint32_t start = 0;
  bool white = true;
  for (size_t i = 0; changes[i] < width; ++i) {
    PutRunCodes(writer, changes[i] - start, white);
    start = changes[i];
    white = !white;
  }
  if (width > start) PutRunCodes(writer, width - start, white);
  writer.align();
  writer.finish();
}

// Change lists alternate in colour: entry 0 is a change to black, entry 1 to
// white, and so on. b1 is the first change to the colour opposite to a0's
// lying right of a0 (at the row's start, position 0 counts), b2 the change
// after it. `ref` persists while a row is coded; a0 only grows, but after a
// vertical mode to the left b1 may lie left of the last one found, so the
// index first steps back.
void EncodeGroup4Row(BitWriter& target, const uint32_t* coding, const uint32_t* reference,
                     uint32_t width) {
  RegisterBitWriter out(target);
  const auto w = static_cast<int64_t>(width);
  int64_t a0 = -1;        // left of the row until the first mode is coded
  uint32_t colour = 0;    // a0's colour: 0 white, 1 black
  size_t next = 0;        // first coding entry not yet used (a1)
  size_t ref = 0;
  while (a0 < w) {
    const int64_t a1 = coding[next];
    while (ref > 0 && reference[ref - 1] > a0) --ref;
    while (static_cast<int64_t>(reference[ref]) <= a0) ++ref;
    if ((ref & 1u) != colour) ++ref;
    const int64_t b1 = reference[ref];
    const int64_t b2 = reference[ref + 1];
    const int64_t runStart = a0 < 0 ? 0 : a0;
    if (b2 < a1) {
      out.put(t4::kPass);
      a0 = b2;
      ref += 2;
    } else if (a1 - b1 <= t4::kMaxVerticalOffset && b1 - a1 <= t4::kMaxVerticalOffset) {
      out.put(t4::kVertical[a1 - b1 + t4::kMaxVerticalOffset]);
      a0 = a1;
      colour ^= 1;
      ++next;
    } else {
      const int64_t a2 = coding[next + 1];
      out.put(t4::kHorizontal);
      PutRunCodes(out, static_cast<uint32_t>(a1 - runStart), colour == 0);
      PutRunCodes(out, static_cast<uint32_t>(a2 - a1), colour != 0);
      a0 = a2;
      next += 2;
    }
  }
  out.finish();
}

size_t EncodePackBits(std::span<const uint8_t> row, std::span<uint8_t> out, bool& overflow) {
  size_t used = 0;
  const auto emit = [&](const uint8_t* bytes, size_t count, uint8_t header) {
    if (out.size() - used < count + 1) {
      overflow = true;
      return false;
    }
    out[used++] = header;
    std::memcpy(out.data() + used, bytes, count);
    used += count;
    return true;
  };
  const size_t n = row.size();
  size_t i = 0;
  while (i < n) {
    size_t pair = i;
    while (pair + 1 < n && row[pair] != row[pair + 1]) ++pair;
    if (pair + 1 >= n) pair = n;  // no pair: a literal to the row's end
    for (size_t left = pair - i; left > 0;) {
      const size_t take = left > 128 ? 128 : left;
      if (!emit(row.data() + i, take, static_cast<uint8_t>(take - 1))) return 0;
      i += take;
      left -= take;
    }
    if (pair >= n) break;
    size_t end = pair + 2;
    while (end < n && row[end] == row[pair]) ++end;
    for (size_t run = end - pair; run > 0;) {
      const size_t take = run > 128 ? 128 : run;
      // A repeat of n has header 1 - n; a left-over single byte is header 0.
      if (!emit(row.data() + pair, 1, static_cast<uint8_t>(257 - take))) return 0;
      run -= take;
    }
    i = end;
  }
  return used;
}

uint64_t WorstCaseRowBytes(uint32_t compression, uint64_t rowBytes) {
  switch (compression) {
    case 1:
      return rowBytes;
    case 32773:
      // The dearest pattern is a lone byte before each pair: 4 bytes for 3.
      return rowBytes + rowBytes / 2 + 4;
    default:
      // At most 6 bits a pixel (a white run of 1), 8 bits for a leading white
      // run of 0, fill, and for Group 3 an end-of-line on either side; Group 4
      // adds a partial byte carried in and the byte that closes a strip.
      return 6 * rowBytes + 16;
  }
}

void ReverseBits(std::span<uint8_t> bytes) {
  for (uint8_t& b : bytes) b = kMirror[b];
}

}  // namespace wrtiff
