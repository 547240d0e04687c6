// The TIFF directory: header, the chain of image file directories (one per
// page), the tags the TIFF and fax readers understand, and the TiffInfo record
// they fill. Shared by rdtiff and rdfax (object library tiff_structure).
//
// Every offset in a file is relative to the start of the TIFF data (the image
// offset given to OVDLinit_image). Every value is decoded per element from the
// raw bytes in the file's byte order, whether it sits in the entry's own value
// field or at a value offset. Failures store their string id (StoreError) and
// return the reader result; the ids are the same in both readers' tables.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugin/contract.h"

namespace tiff {

// String ids of the TIFF (and fax) reader's table that the parsing stores.
inline constexpr UINT kIdReadFailed = 2;
inline constexpr UINT kIdNoMemory = 3;
inline constexpr UINT kIdBadHeader = 7;
inline constexpr UINT kIdByteOrder = 8;
inline constexpr UINT kIdBitsPerSample = 10;
inline constexpr UINT kIdCompression = 11;
inline constexpr UINT kIdPhotometric = 12;
inline constexpr UINT kIdPredictor = 14;
inline constexpr UINT kIdNoSuchPage = 15;

inline constexpr uint16_t kMarkLittle = 0x4949;  // "II"
inline constexpr uint16_t kMarkBig = 0x4D4D;     // "MM"
inline constexpr uint16_t kMarkFax = 0x4646;     // "FF": little-endian, fax container

inline constexpr uint32_t kCompressionNone = 1;
inline constexpr uint32_t kCompressionModifiedHuffman = 2;
inline constexpr uint32_t kCompressionGroup3 = 3;
inline constexpr uint32_t kCompressionGroup4 = 4;
inline constexpr uint32_t kCompressionLzw = 5;
inline constexpr uint32_t kCompressionPackBits = 32773;

inline constexpr uint32_t kAllRowsInOneStrip = 0xFFFFFFFFu;

// The record of one directory's tag values. Its layout is fixed: the fax
// reader hands it out whole. Handles are movable memory blocks of 32-bit
// words owned by the image (FreeArrays releases them).
struct TiffInfo {
  uint16_t byteOrder;  // "II", "MM" or "FF" as read
  uint16_t reserved2;
  uint32_t subfileType;
  uint32_t imageWidth;
  uint32_t imageLength;
  uint32_t bitsPerSample;
  uint32_t compression;
  uint32_t stripCount;       // derived
  uint32_t stripOffset;      // the single StripOffsets value
  HGLOBAL stripOffsets;      // more than one StripOffsets value, or 0
  uint32_t rowsPerStrip;
  uint32_t stripByteCount;   // the single StripByteCounts value (fax reader)
  HGLOBAL stripByteCounts;   // more than one (fax reader), or 0
  uint32_t photometric;
  uint32_t minSampleValue;
  uint32_t maxSampleValue;
  uint16_t threshholding;
  uint8_t reserved62[10];
  uint32_t fillOrder;
  uint32_t xResolutionNumerator;
  uint32_t xResolutionDenominator;
  uint32_t yResolutionNumerator;
  uint32_t yResolutionDenominator;
  uint32_t reserved92;
  uint32_t reserved96;
  HGLOBAL colorMap;  // 3 × 2^BitsPerSample values, or 0
  uint32_t reserved104;
  uint32_t reserved108;
  uint32_t reserved112;
  uint32_t samplesPerPixel;
  uint32_t planarConfiguration;
  uint32_t reserved124;
  uint32_t reserved128;
  uint32_t bytesPerRow;  // derived
  uint32_t resolutionUnit;
  uint32_t reserved140;
  uint32_t pageCount;  // written by the reader after the page walk
  uint32_t t4Options;
  uint32_t t6Options;
  uint32_t predictor;
};
static_assert(sizeof(HGLOBAL) == 4, "handles are 32-bit words in the record");
static_assert(sizeof(TiffInfo) == 160);
static_assert(offsetof(TiffInfo, subfileType) == 4);
static_assert(offsetof(TiffInfo, stripCount) == 24);
static_assert(offsetof(TiffInfo, rowsPerStrip) == 36);
static_assert(offsetof(TiffInfo, stripByteCounts) == 44);
static_assert(offsetof(TiffInfo, photometric) == 48);
static_assert(offsetof(TiffInfo, threshholding) == 60);
static_assert(offsetof(TiffInfo, fillOrder) == 72);
static_assert(offsetof(TiffInfo, yResolutionDenominator) == 88);
static_assert(offsetof(TiffInfo, colorMap) == 100);
static_assert(offsetof(TiffInfo, samplesPerPixel) == 116);
static_assert(offsetof(TiffInfo, bytesPerRow) == 132);
static_assert(offsetof(TiffInfo, resolutionUnit) == 136);
static_assert(offsetof(TiffInfo, pageCount) == 144);
static_assert(offsetof(TiffInfo, predictor) == 156);

// What a reader wants from the directory parsing.
struct ParseRules {
  uint16_t expectedMark = 0;     // 0: "II" or "MM"; else exactly this mark (little-endian)
  bool faxDirectory = false;     // the fax container's rules (all compressions kept, no checks
                                 // on T4Options or SampleFormat, StripByteCounts kept,
                                 // ImageLength never cut)
};

// Where a directory chain stands: the byte order and the first directory.
struct TiffHeader {
  uint16_t mark = 0;
  bool bigEndian = false;
  uint32_t firstIfd = 0;  // relative to the image offset; 0 = no directory
};

// Reads the 8-byte header at the image offset. Short: id 2, 3. Wrong mark: id 8, 2.
int32_t ReadHeader(const ImageBlockHead& file, const ParseRules& rules, TiffHeader& header);

// Counts the directories of the chain from the first one. A directory whose
// entry count cannot be read (offset past the end) ends the chain before it;
// a link back to a directory already counted ends it too (a loop is read
// once); a host read error is id 2, 3. At most kMaxPages are counted.
inline constexpr uint32_t kMaxPages = 65535;
int32_t CountPages(const ImageBlockHead& file, const TiffHeader& header, uint32_t& pages);

// The position of directory `page` (0-based), following the links from the
// first one. Fails with id 2, 3 when the chain ends before it.
int32_t FindDirectory(const ImageBlockHead& file, const TiffHeader& header, uint32_t page,
                      uint32_t& ifd);

// Parses the directory at `ifd` into `info` (defaults first). A directory
// whose image is not in strips (no StripOffsets, or tiles) is id 7, result 2;
// with the TIFF rules, samples that are not unsigned integers (SampleFormat
// other than 1) are id 10, result 9. On failure the arrays allocated so far
// are freed and `info` holds no handles.
int32_t ParseDirectory(const ImageBlockHead& file, const TiffHeader& header, uint32_t ifd,
                       const ParseRules& rules, TiffInfo& info);

// Frees the strip-offset, strip-byte-count and colour-map arrays.
void FreeArrays(TiffInfo& info);

// A reader's own check (and normalisation) of a parsed directory: kReaderOk, or a refusal with its
// id stored. The arrays are freed by the caller on refusal.
using PageCheck = int32_t (*)(TiffInfo& info);

// Opening: the header, page 0's directory (parsed and checked) and the page
// count. A header naming no directory is id 7, 2. On failure `info` holds no
// arrays.
int32_t OpenFirstPage(const ImageBlockHead& file, const ParseRules& rules, PageCheck check,
                      TiffHeader& header, TiffInfo& info, uint32_t& pages);

// A page change: the header and the directory of `page`, parsed and checked.
// On failure `info` holds no arrays.
int32_t ReadPageAt(const ImageBlockHead& file, const ParseRules& rules, PageCheck check,
                   uint32_t page, TiffHeader& header, TiffInfo& info);

// Number of 32-bit values an array handle holds (0 for a null handle).
uint32_t ArrayLength(HGLOBAL array);
// Value `index` of an array (0 when out of range).
uint32_t ArrayValue(HGLOBAL array, uint32_t index);

// The offset (relative to the image offset) of strip `strip`: the single value
// when there is no array, else entry `strip`, or entry 0 past the array's end.
uint32_t StripOffset(const TiffInfo& info, uint32_t strip);

// The strip holding `row`.
uint32_t StripIndex(const TiffInfo& info, uint32_t row);

// Pixels per metre for a resolution: 64-bit arithmetic, clamped to int32.
int32_t PixelsPerMeter(uint32_t numerator, uint32_t denominator, uint32_t unit);

}  // namespace tiff
