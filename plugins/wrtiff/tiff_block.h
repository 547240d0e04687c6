// The TIFF writer's ExportBlock and the set-up that begin performs on it.
#pragma once

#include <cstdint>

#include "plugin/contract.h"
#include "plugin/writer_frame.h"
#include "tiff_entries.h"

namespace wrtiff {

enum Compression : uint16_t {
  kCompressionNone = 1,
  kCompressionModifiedHuffman = 2,
  kCompressionGroup3 = 3,
  kCompressionGroup4 = 4,
  kCompressionPackBits = 32773,
};

inline constexpr uint32_t kWriterFlags = 252;
inline constexpr uint32_t kMinimumBufferBytes = 32000;
// Encoded bytes gathered before a write, besides a row's worst case: large
// writes keep the system's cost per call small against the bytes moved.
inline constexpr uint32_t kWriteBatchBytes = 256 * 1024;
// Widths beyond this are refused: the work buffers of one row stay far below 4 GiB.
inline constexpr int32_t kMaxWidth = 1 << 24;

struct TiffBlock {
  ExportBlockHead head;
  BITMAPINFOHEADER image;  // copy of the host's header
  EntryTable entries;

  // The StripBuffer: encoded bytes waiting to be written, zero beyond them.
  uint8_t* buffer;
  uint32_t bufferCapacity;
  uint32_t bufferUsed;   // whole bytes waiting
  uint32_t bitPosition;  // Group 4: bits used in the byte at bufferUsed
  uint32_t headroom;     // flush before a row when fewer bytes than this are free

  uint8_t* scratchRow;       // a row with red and blue exchanged, or inverted
  uint32_t* referenceList;   // CCITT change lists, width + 4 entries each
  uint32_t* codingList;

  uint32_t width;
  uint32_t height;
  uint32_t bytesPerRow;      // (bits x width + 7) / 8
  uint32_t rowsPerStrip;
  uint32_t plannedStrips;
  uint32_t rowsLeftInStrip;  // 0: the next row starts a new strip
  uint32_t stripsStarted;
  uint32_t rowsWritten;

  int64_t position;     // file position where the next write lands
  int64_t stripStart;   // file position of the current strip
  uint32_t startPosition;  // 0 for a new file, the old end of file when appending
  uint32_t linkPosition;   // where the new IFD's offset goes

  uint16_t compression;
  uint8_t appending;
  uint8_t intel;          // 1: "II", 0: "MM"
  uint8_t fillOrder2;     // every written byte bit-reversed
  uint8_t invertPixels;   // 1-bit rows whose colour table lists the lighter colour first
  uint8_t failed;         // a write came up short (reported then)
};

// Begin's work after the frame has opened the file and allocated the block:
// finds the append point or writes a new header, reads the options, builds
// the entries and allocates the work buffers. Reports its own failures.
bool SetUpExport(TiffBlock& block, const writer::BeginCall& call);

// Writes `count` bytes at the current position. A short write marks the
// export failed and reports error 3; false then.
bool PutBytes(TiffBlock& block, const void* bytes, uint32_t count);

}  // namespace wrtiff
