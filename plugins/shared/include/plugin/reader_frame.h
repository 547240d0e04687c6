// The reader frame: the exported entry points every reader plug-in shares,
// written once and linked into each .DIL as an object library.
//
// A format plugs in by defining one `ReaderFormat` descriptor named
// `gReaderFormat` (a table of hooks and fixed answers), a state block that
// begins with `ImageBlockBase`, its string list and its module declaration
// (READER_MODULE). The frame owns the ImageBlock life cycle, locking, the
// last-error store, the row loop with bottom-up placement, replication
// carry-over and progress, row positioning, and the DIB header block.
//
// Legal call order (what the frame is built for):
//   OVDLverify_img (no image needed)
//   -> OVDLinit_image
//   -> OVDLbuildDIBhead
//   -> any number of OVDLset_row / OVDLread_rows
//      (multi-page readers: OVDLset_page, then OVDLbuildDIBhead for the new page)
//   -> optionally OVDLclose_keep ... OVDLopen (file handed back, image kept)
//   -> OVDLclose_image
//   OVDLerror_string after any failing call, on the same thread.
//
// What happens out of order (every case answers, none crashes):
//   - any call with a zero, freed or foreign handle: 8, id 4;
//   - OVDLread_rows / OVDLset_row before OVDLbuildDIBhead: the frame asks the
//     format for the geometry itself, so reading works as if the header had
//     been built (the host still needs the header to interpret the rows);
//   - OVDLread_rows / OVDLset_row while the file is closed (after
//     OVDLclose_keep, before OVDLopen): 3, id 2, nothing changes;
//   - OVDLread_rows with a null buffer and rows > 0: 9, no id, nothing changes;
//   - rows at or past the image height: the rows before it are delivered, then
//     3, id 2 (formats stored bottom row first decode the last wanted row
//     first, so they refuse such a request whole: 3, id 2, nothing delivered);
//   - OVDLclose_keep twice: harmless; OVDLopen on an open image: no reopen;
//   - after OVDLclose_image the handle is invalid (8, id 4).
//
// Row positioning: the frame keeps the decoder in step with the current row.
// After a failed read or set_row, after OVDLopen and after a page change, the
// next read or set_row first repositions the decoder (the format's rewind hook,
// then decode-and-discard) so the rows it delivers are the rows it counts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>

#include "plugin/contract.h"
#include "winport/windows.h"

namespace reader {

// ---------------------------------------------------------------------------
// String ids every reader's table has under the same numbers.

inline constexpr UINT kIdOpenFailed = 1;
inline constexpr UINT kIdReadFailed = 2;
inline constexpr UINT kIdNoMemory = 3;
inline constexpr UINT kIdBadHandle = 4;

// A reader's strings are one X-macro list of X(constantName, id, "text").
// READER_COMMON_STRINGS supplies ids 1-4, which the frame stores itself; each
// reader's list starts with it, adds its own ids and the filter string 1000.
#define READER_COMMON_STRINGS(X)                                      \
  X(kStrOpenFailed, 1, "Cannot open file.")                           \
  X(kStrReadFailed, 2, "Error reading from file.")                    \
  X(kStrNoMemory, 3, "Unable to allocate memory for image.")          \
  X(kStrBadHandle, 4, "Invalid image handle.")

// Expands a list into enumerators: enum : UINT { LIST(READER_STRING_ID) };
#define READER_STRING_ID(name, id, text) name = id,
// Expands a list into RT_STRING resources.
#define READER_STRING_RESOURCE(name, id, text) \
  WinportResource{RT_STRING, static_cast<WORD>(id), text, static_cast<DWORD>(sizeof(text) - 1)},

// ---------------------------------------------------------------------------
// Export tables: names with their ordinals, joined per module.

inline constexpr WinportExport kCoreExports[] = {
    {"OVDLset_ext", kOrdOVDLset_ext},
    {"OVDLinit_image", kOrdOVDLinit_image},
    {"OVDLclose_image", kOrdOVDLclose_image},
    {"OVDLopen", kOrdOVDLopen},
    {"OVDLclose_keep", kOrdOVDLclose_keep},
    {"OVDLread_rows", kOrdOVDLread_rows},
    {"OVDLset_row", kOrdOVDLset_row},
    {"OVDLbuildDIBhead", kOrdOVDLbuildDIBhead},
    {"OVDLprint", kOrdOVDLprint},
    {"OVDLrender", kOrdOVDLrender},
    {"OVDLerror_string", kOrdOVDLerror_string},
    {"OVDLget_ver", kOrdOVDLget_ver},
    {"OVDLimg_name", kOrdOVDLimg_name},
    {"OVDLescape", kOrdOVDLescape},
    {"OVDLverify_img", kOrdOVDLverify_img},
    {"WEP", kOrdWEP},
};

// Defined by the reader_frame_pages object library; only multi-page readers link it.
inline constexpr WinportExport kPageExports[] = {
    {"OVDLset_page", kOrdOVDLset_page},
    {"OVDLget_page", kOrdOVDLget_page},
};

// One table from several: constexpr auto kExports = JoinExports(kCoreExports, kPageExports);
template <size_t... N>
constexpr std::array<WinportExport, (N + ...)> JoinExports(const WinportExport (&... tables)[N]) {
  std::array<WinportExport, (N + ...)> joined{};
  size_t next = 0;
  auto append = [&](const auto& table) {
    for (const WinportExport& entry : table) joined[next++] = entry;
  };
  (append(tables), ...);
  return joined;
}

// ---------------------------------------------------------------------------
// The image state block.

struct ReaderFormat;

// The frame's per-image fields; they follow ImageBlockHead in every block.
struct ReaderFrameState {
  const ReaderFormat* format;  // identifies a block of this module; null once closed
  uint32_t magic;              // kImageMagic while the block is a live image
  uint32_t imageLength;        // fifth argument of OVDLinit_image
  uint32_t currentRow;         // next row OVDLread_rows delivers
  uint32_t carriedRows;        // rows from currentRow on that the row buffer still holds
  uint32_t repositionNeeded;   // 1: the decoder is not at currentRow + carriedRows
  uint32_t described;          // 1: the geometry below is valid
  uint32_t width;
  uint32_t height;
  uint32_t dibBitCount;      // bits per pixel of the DIB the host gets
  uint32_t dibRowBytes;      // bytes of one DIB row (32-bit padded)
  uint32_t decodedBits;      // bits per pixel of a decoded row
  uint32_t decodedRowBytes;  // bytes the decoder produces per row
  HGLOBAL rowBuffer;         // persistent decoded row (replication carry, conversions)
  uint32_t rowBufferBytes;
  uint32_t currentPage;  // 0-based
  uint32_t pageCount;    // set by the format at init (1 for single-image formats)
};

inline constexpr uint32_t kImageMagic = 0x52444C42;  // "BLDR"

// The start of every reader's ImageBlock. A format's block is
//   struct MyImage { reader::ImageBlockBase base; MyState format; };
struct ImageBlockBase {
  ImageBlockHead head;
  ReaderFrameState frame;
};
static_assert(offsetof(ImageBlockBase, head) == 0);
static_assert(offsetof(ImageBlockBase, frame) == sizeof(ImageBlockHead));

// The format's view of a block it allocated through InitContext::allocate.
template <typename T>
T& FormatBlock(ImageBlockBase& base) {
  static_assert(offsetof(T, base) == 0, "a format block begins with ImageBlockBase");
  return *reinterpret_cast<T*>(&base);
}
template <typename T>
const T& FormatBlock(const ImageBlockBase& base) {
  static_assert(offsetof(T, base) == 0, "a format block begins with ImageBlockBase");
  return *reinterpret_cast<const T*>(&base);
}

// ---------------------------------------------------------------------------
// What the format tells the frame.

// The geometry and header fields of the current page.
struct DibDescription {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t dibBitCount = 1;     // 1, 4, 8 or 24
  uint32_t decodedBits = 1;     // bits per pixel of a decoded row
  uint32_t decodedRowBytes = 0; // bytes per decoded row
  uint32_t paletteEntries = 0;  // RGBQUADs written after the header
  uint32_t colorsUsed = 0;      // biClrUsed
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  bool writePageCount = false;  // multi-page readers write ImageHeaderRecord::pageCount
};

// The block is filled bottom-up either way; this is the order rows come from the decoder.
enum class RowOrder : uint32_t {
  kTopDown,   // decodeRow gets currentRow, currentRow + 1, ...: first row in the top slot
  kBottomUp,  // decodeRow gets the last wanted row first: first row in the bottom slot
};

// What OVDLinit_image hands the format's init hook.
class InitContext {
 public:
  FileReference fileReference;
  uint32_t file;  // open host file handle
  uint32_t imageOffset;
  uint32_t imageLength;
  const HostFileTable* files;

  // Allocates the zero-initialised ImageBlock of `bytes` (at least
  // sizeof(ImageBlockBase)), fills the head and the frame fields, and returns
  // it locked; nullptr on failure (the caller then returns 6 with id 3).
  // The frame unlocks it, and frees it if init fails.
  ImageBlockBase* allocate(size_t bytes);

  HGLOBAL handle() const { return handle_; }
  ImageBlockBase* block() const { return block_; }

 private:
  HGLOBAL handle_ = 0;
  ImageBlockBase* block_ = nullptr;
};

// The descriptor each format defines once, as `gReaderFormat`. Hooks return a
// ReaderResult and store their own string ids (StoreError) on failure.
struct ReaderFormat {
  const char* traceName;    // "%s" in trace texts
  const char* versionText;  // OVDLget_ver
  bool cancellable;         // progress callback returning 0 ends the read with 23
  bool processWideError;    // last error in one process-wide variable, not per thread
  int32_t printResult;      // OVDLprint
  UINT printErrorId;        // 0: none stored
  int32_t renderResult;     // OVDLrender
  int32_t escapeResult;     // OVDLescape
  UINT noSuchPageErrorId;   // stored with result 16 by OVDLset_page; 0: none

  // The first kVerifyBytes bytes of a file (zero-filled past its end) -> 0, 1 or 2.
  int32_t (*recognise)(std::span<const uint8_t, kVerifyBytes> firstBytes);

  // Parses the header through ctx.files/ctx.file, allocates the block with
  // ctx.allocate and fills the format's part, sets frame.pageCount. On
  // failure returns the result (the frame closes the file and frees the block).
  int32_t (*init)(InitContext& ctx);

  // Describes the current page. Must not change the block.
  int32_t (*describe)(const ImageBlockBase& image, DibDescription& out);

  // Writes the DIB colour table (out.size() == paletteEntries, zero-filled).
  // May be null when paletteEntries is 0.
  int32_t (*fillPalette)(ImageBlockBase& image, std::span<RGBQUAD> palette);

  // Optional: called at the start of each OVDLread_rows with the first row and
  // the count; may ask for bottom-up delivery. Null: top-down.
  int32_t (*beginRows)(ImageBlockBase& image, uint32_t firstRow, uint32_t rows, RowOrder& order);

  // Decodes picture row `row` (the decoder's next) into `out`, which holds at
  // least decodedRowBytes bytes; writes nothing beyond out. `copies` starts at 1;
  // a format with vertical replication sets how many consecutive rows equal
  // this one (the frame delivers and carries them, clamped to the image end).
  int32_t (*decodeRow)(ImageBlockBase& image, uint32_t row, std::span<uint8_t> out,
                       uint32_t& copies);

  // Optional conversion of a decoded row into a host row of stride bytes,
  // starting at DIB byte `offset`; writes at most dest.size() bytes. Null: the
  // frame's rule (same bits: copy; 2-bit file in a 4-bit DIB: widen; else
  // leave the host row as it was). With a hook the frame never decodes
  // straight into the host's buffer.
  void (*deliverRow)(const ImageBlockBase& image, std::span<const uint8_t> decoded,
                     std::span<uint8_t> dest, uint32_t offset);

  // Positions the decoder at a row at or before `wanted` (row 0 of the page at
  // the least: seek, reset decoder state, empty input) and says which in
  // `reached`. The frame decodes and discards the rest.
  int32_t (*rewind)(ImageBlockBase& image, uint32_t wanted, uint32_t& reached);

  // Multi-page readers: makes `page` (already range-checked, not the current
  // one) current. Whatever it answers, the frame then resets the row state
  // (row 0, decoder to be repositioned, geometry described anew); on success it
  // sets frame.currentPage, on failure it keeps what the hook left there (a
  // format may record the last page it reached). Null elsewhere.
  int32_t (*setPage)(ImageBlockBase& image, uint32_t page);

  // Frees what the format owns besides the block (may be null).
  void (*release)(ImageBlockBase& image);
};

// Defined by each format.
extern const ReaderFormat gReaderFormat;

// ---------------------------------------------------------------------------
// Services for formats.

// Stores a string id as the calling thread's (or the process's) last error.
void StoreError(UINT id);
// The last stored id (0 when none).
UINT LastError();

// The empty diagnostic routine; nothing may depend on it.
void TraceHook(int level, const char* format, ...);

// Host file access through the block's HostFileTable. Absolute positions are
// 64-bit here and refused (false) when they do not fit the host's 32-bit seek.
// Reads return the host's count (−1 on error).
int32_t HostRead(const ImageBlockHead& head, void* buffer, uint32_t count);
bool HostReadExact(const ImageBlockHead& head, void* buffer, uint32_t count);
bool HostSeekAbsolute(const ImageBlockHead& head, uint64_t position);
// Position relative to the image offset.
bool HostSeekImage(const ImageBlockHead& head, uint64_t offsetInImage);
// The next byte (read-one-byte slot; a plain one-byte read when the host has
// none), −1 at end of file or on error.
int32_t HostReadByte(const ImageBlockHead& head);

// 2-bit pixels widened to 4-bit ones: dest byte j is DIB byte (offset + j) of
// the widened row; stops at the end of the decoded bytes or of dest.
void Widen2To4(std::span<const uint8_t> decoded, std::span<uint8_t> dest, uint32_t offset);

// The same-depth copy: from byte `offset` of the decoded row, what it holds,
// at most dest.size() bytes; the rest of dest is left as it was.
void CopyFromOffset(std::span<const uint8_t> decoded, std::span<uint8_t> dest, uint32_t offset);

// The module's instance handle (string loading).
HINSTANCE ModuleInstance();

// Process attach/detach of every reader module (allocates / frees the slot).
BOOL ReaderDllMain(HINSTANCE instance, DWORD reason, void* reserved);

}  // namespace reader

// Declares the reader module: export table (a std::array from JoinExports),
// its string list (X-macro) as RT_STRING resources, its version text (the one
// gReaderFormat.versionText names) and the frame's DllMain.
// Use once, at namespace scope, in the format's module file.
#define READER_MODULE(exportTable, STRING_LIST, versionText)                                  \
  namespace {                                                                                 \
  constexpr WinportResource kReaderStringResources[] = {STRING_LIST(READER_STRING_RESOURCE)}; \
  }                                                                                           \
  WINPORT_MODULE_VERSION(versionText);                                                        \
  WINPORT_MODULE((exportTable).data(), (exportTable).size(), kReaderStringResources,           \
                 std::size(kReaderStringResources), ::reader::ReaderDllMain)
