// The writer frame: the entry points every writer plug-in exports, written
// once. A writer supplies one FormatDescriptor (its fixed texts, flags and a
// few hooks) named kWriterFormat, and declares its module with
// WRITER_PLUGIN_MODULE (writer_module.h).
//
// Legal call order, per loaded library:
//   OVXDLget_ext                 once, before anything else (until then no
//                                error can be reported and no option read)
//   OVXDLbegin_write             opens the file, returns an ExportBlock handle
//   OVXDLwrite_block ...         until every row has been delivered
//   OVXDLend_write               the only call that closes the file and frees
//                                the block, also after a failed write_block
//   OVXDLget_ver, WEP            at any time
// A handle that is not a live block of this writer (0, freed, foreign, or in
// use by another call) makes write_block and end_write return kWriterBadBlock
// without touching anything; a second end_write on one handle is such a call.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>

#include "plugin/contract.h"
#include "winport/memory.h"

namespace writer {

// Result of write_block / end_write for a handle that is not a live block.
// The contract has no code of its own for it; 204 is a failure every host
// already handles.
inline constexpr int32_t kWriterBadBlock = kWriterWriteFailed;

// Largest single write any writer hands the host.
inline constexpr uint32_t kMaxWriteChunk = 32767;

// What OVXDLbegin_write received, and what the format hands back through it.
struct BeginCall {
  FileReference file;                // the designation, for the host's open
  const HostFileTable* files;        // checked: the first five slots are set
  const BITMAPINFOHEADER* image;     // followed by its colour table; not null
  HGLOBAL options;                   // OptionBlock; may be 0
  int32_t openMode = kOpenCreate;    // the mode the file was opened with
  uint32_t flags = 0;                // reported through begin's last argument
  bool reportFlags = true;           // false: leave the caller's flags untouched
};

// A block of rows from OVXDLwrite_block: `count` rows, `stride` bytes apart,
// bottom-up in memory (the top row of the block is the last one). The frame
// passes only count > 0 and data != nullptr.
struct RowBlock {
  uint32_t count;
  uint32_t stride;
  const uint8_t* data;

  // Row i of the block counted from its top (the order top-down formats want).
  const uint8_t* rowFromTop(uint32_t i) const {
    return data + static_cast<uint64_t>(stride) * (count - 1 - i);
  }
  // Row i counted from its bottom (memory order).
  const uint8_t* rowFromBottom(uint32_t i) const {
    return data + static_cast<uint64_t>(stride) * i;
  }
};

// One writer: its texts, flags and hooks. Hooks marked optional may be null.
struct FormatDescriptor {
  const char* extensionText;  // returned by OVXDLget_ext
  const char* moduleName;     // handed to the error callback
  uint32_t hostInfoFlags;     // WriterFlags stored in ExportHostInfo
  uint32_t beginFlags;        // WriterFlags begin reports unless a hook changes call.flags
  bool usesOptionGetter;      // look up the host's OvgXOptBlkGet in OVXDLget_ext
  UINT blockAllocFlags;       // GHND, or GHND | GMEM_DDESHARE
  size_t blockSize;           // the whole ExportBlock, ExportBlockHead first

  // Optional, at process attach (tables built once); false fails the load.
  bool (*attach)();
  // Optional: false refuses the image before any file is touched; the frame
  // then reports `refusedErrorId` and returns a null handle.
  bool (*acceptsImage)(const BITMAPINFOHEADER& image);
  int32_t refusedErrorId;
  // Optional: opens the file and sets call.openMode; the default creates it
  // with OF_CREATE. false: the frame reports error 1 and returns null.
  bool (*openFile)(BeginCall& call, uint32_t* handle);
  // Runs with the block allocated, zero-filled, locked and its head filled:
  // writes what the format needs up front. false: the frame releases the
  // block, closes the file and returns null (the hook reports what it wants).
  bool (*begin)(ExportBlockHead& block, BeginCall& call);
  // Writes one block of rows; returns a writer result (1, 204, 215).
  int32_t (*writeRows)(ExportBlockHead& block, const RowBlock& rows, ExportProgress* progress);
  // Writes what remains; returns a writer result. The frame then stores the
  // file size (a seek to the end) in `progress`, closes the file and frees
  // the block.
  int32_t (*finish)(ExportBlockHead& block, ExportProgress* progress);
  // Optional: frees what hangs from the block (called once before the block
  // is freed, after begin failed or after finish). Must cope with a block
  // whose begin stopped half way.
  void (*release)(ExportBlockHead& block);
};

// Defined by each writer (constant-initialised: the frame reads it at attach).
extern const FormatDescriptor kWriterFormat;

// The writer's own block type from the locked block's head.
template <typename Block>
Block& BlockOf(ExportBlockHead& head) {
  static_assert(std::is_standard_layout_v<Block> && std::is_trivially_copyable_v<Block>);
  static_assert(offsetof(Block, head) == 0, "the ExportBlockHead comes first");
  return *reinterpret_cast<Block*>(&head);
}

// ---------------------------------------------------------------------------
// Services for the hooks.

// Calls the host's error callback (when set) with the module instance, `errorId`,
// the module name and `fileName`.
void ReportError(int32_t errorId, const char* fileName);

// Writes `count` bytes through the host; true when all were written.
bool WriteAll(const ExportBlockHead& head, const void* bytes, uint32_t count);
// Writes `count` bytes in pieces of at most kMaxWriteChunk bytes, and at most
// the progress interval when that is not 0, advancing progress after each
// piece (its answer is ignored). A short piece does not stop the rest: the
// next piece is placed where it belongs. `position` is the file position the
// bytes start at; true when every piece was written whole.
bool WriteChunked(const ExportBlockHead& head, const uint8_t* bytes, uint64_t count,
                  int64_t position, ExportProgress* progress);
// The host's seek; the new absolute position, or a negative value on failure.
int32_t Seek(const ExportBlockHead& head, int32_t offset, int32_t origin);

// Adds `bytes` to the progress record: once more than the interval has passed
// since the last report, adds it to bytes done and calls the callback with
// (0, bytes done x 100 / bytes total, user value), computed in 64 bits and
// capped at 100. A null record does nothing; a null callback or a total of 0
// advances the counters and calls nothing. Returns false when the callback
// asked to cancel.
bool AdvanceProgress(ExportProgress* progress, uint32_t bytes);

// Asks the host's getter for `key`. Absent when there is no getter (no host
// instance, or the name was not found). The value buffer holds
// kOptionValueSize bytes: the host cuts longer values; the last byte is forced
// to NUL whatever the getter did.
using OptionValue = std::array<char, kOptionValueSize>;
bool LookupOption(HGLOBAL options, const char* key, OptionValue& value);

// The text of an OptionBlock, locked for the life of this object, searched by
// the writer itself. Absent everything when the handle is 0 or invalid, or the
// text does not begin with "THK".
class OptionText {
 public:
  explicit OptionText(HGLOBAL options);
  ~OptionText();
  OptionText(const OptionText&) = delete;
  OptionText& operator=(const OptionText&) = delete;

  // A line "KEY = value" from byte 12 on, the key at the start of a line (byte
  // 12, or after a CR; a LF after the CR is skipped). The value runs from two
  // characters after the '=' to the next CR or the end of the text (the first
  // NUL or the end of the block). A view into the locked block.
  std::optional<std::string_view> find(std::string_view key) const;

 private:
  HGLOBAL handle_ = 0;
  std::string_view text_;
};

// ASCII comparison without regard to case.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace writer
