// OVXDLbegin_write, OVXDLwrite_block and OVXDLend_write: the ExportBlock life
// cycle around the format's hooks. No exception leaves these functions.
#include <cstring>

#include "plugin/writer_frame.h"

namespace writer {
namespace {

// The frame keeps the descriptor's address behind the format's block, so a
// handle of another module (or of anything else) is recognised as foreign.
size_t TagOffset() {
  const size_t align = alignof(const FormatDescriptor*);
  return (kWriterFormat.blockSize + align - 1) / align * align;
}

size_t AllocationSize() {
  return TagOffset() + sizeof(const FormatDescriptor*);
}

void WriteTag(void* block) {
  const FormatDescriptor* self = &kWriterFormat;
  std::memcpy(static_cast<uint8_t*>(block) + TagOffset(), &self, sizeof self);
}

bool HasTag(const void* block) {
  const FormatDescriptor* tag = nullptr;
  std::memcpy(&tag, static_cast<const uint8_t*>(block) + TagOffset(), sizeof tag);
  return tag == &kWriterFormat;
}

// A live block of this writer, locked for the scope of one call.
class BlockLock {
 public:
  explicit BlockLock(HGLOBAL handle) {
    if (handle == 0 || GlobalLockCount(handle) != 0) return;  // 0, freed, or in use
    // The system may hand out more than was asked for: a smaller block is not ours.
    if (GlobalSize(handle) < AllocationSize()) return;
    void* address = GlobalLock(handle);
    if (address == nullptr) return;
    if (!HasTag(address)) {
      GlobalUnlock(handle);
      return;
    }
    handle_ = handle;
    head_ = static_cast<ExportBlockHead*>(address);
  }
  ~BlockLock() {
    if (handle_ != 0) GlobalUnlock(handle_);
  }
  BlockLock(const BlockLock&) = delete;
  BlockLock& operator=(const BlockLock&) = delete;

  explicit operator bool() const { return head_ != nullptr; }
  ExportBlockHead& head() const { return *head_; }

  // Unlocks and frees the block; the handle is dead afterwards.
  void free() {
    GlobalUnlock(handle_);
    GlobalFree(handle_);
    handle_ = 0;
    head_ = nullptr;
  }

 private:
  HGLOBAL handle_ = 0;
  ExportBlockHead* head_ = nullptr;
};

// Copies the file name into the 100-character field. A longer name is cut to
// 99 bytes, backed off so that no UTF-8 sequence is split; the name only
// labels error reports (the file itself is opened through its designation),
// so cutting loses nothing but message text.
void CopyFileName(const char* name, char (&field)[kExportFileNameSize]) {
  std::memset(field, 0, sizeof field);
  if (name == nullptr) return;
  size_t length = strnlen(name, kExportFileNameSize);
  if (length == kExportFileNameSize) {
    length = kExportFileNameSize - 1;
    while (length > 0 && (static_cast<uint8_t>(name[length]) & 0xC0) == 0x80) --length;
  }
  std::memcpy(field, name, length);
}

bool FileTableUsable(const HostFileTable* files) {
  return files != nullptr && files->open != nullptr && files->close != nullptr &&
         files->read != nullptr && files->write != nullptr && files->seek != nullptr;
}

bool OpenDefault(BeginCall& call, uint32_t* handle) {
  call.openMode = kOpenCreate;
  return call.files->open(call.file, kOpenCreate, handle) == 1;
}

// Everything begin has acquired; released on every path that does not hand
// the block to the host.
class PendingExport {
 public:
  explicit PendingExport(const HostFileTable* files) : files_(files) {}
  ~PendingExport() {
    if (block_ != 0) {
      if (head_ != nullptr && kWriterFormat.release != nullptr) kWriterFormat.release(*head_);
      if (head_ != nullptr) GlobalUnlock(block_);
      GlobalFree(block_);
    }
    if (fileOpen_) files_->close(file_);
  }
  PendingExport(const PendingExport&) = delete;
  PendingExport& operator=(const PendingExport&) = delete;

  void fileOpened(uint32_t file) {
    file_ = file;
    fileOpen_ = true;
  }
  void blockAllocated(HGLOBAL block, ExportBlockHead* head) {
    block_ = block;
    head_ = head;
  }
  // Hands the block to the host: it stays allocated and the file open.
  HGLOBAL handOver() {
    GlobalUnlock(block_);
    const HGLOBAL block = block_;
    block_ = 0;
    head_ = nullptr;
    fileOpen_ = false;
    return block;
  }

 private:
  const HostFileTable* files_;
  uint32_t file_ = 0;
  bool fileOpen_ = false;
  HGLOBAL block_ = 0;
  ExportBlockHead* head_ = nullptr;
};

// Writes the flags into the caller's integer when the call ends, whatever the path.
class FlagsReport {
 public:
  FlagsReport(int32_t* target, const BeginCall& call) : target_(target), call_(call) {}
  ~FlagsReport() {
    if (target_ != nullptr && call_.reportFlags) *target_ = static_cast<int32_t>(call_.flags);
  }
  FlagsReport(const FlagsReport&) = delete;
  FlagsReport& operator=(const FlagsReport&) = delete;

 private:
  int32_t* target_;
  const BeginCall& call_;
};

HGLOBAL BeginWrite(BeginCall& call, const char* fileName) {
  const FormatDescriptor& format = kWriterFormat;
  char name[kExportFileNameSize];
  CopyFileName(fileName, name);

  if (call.image == nullptr ||
      (format.acceptsImage != nullptr && !format.acceptsImage(*call.image))) {
    ReportError(format.refusedErrorId, name);
    return 0;
  }
  if (!FileTableUsable(call.files)) {
    ReportError(kWriterErrorOpen, name);
    return 0;
  }
  uint32_t file = 0;
  const bool opened = format.openFile != nullptr ? format.openFile(call, &file)
                                                 : OpenDefault(call, &file);
  if (!opened) {
    ReportError(kWriterErrorOpen, name);
    return 0;
  }
  PendingExport pending(call.files);
  pending.fileOpened(file);

  // No report when the block cannot be had: the file is closed, null returned.
  const HGLOBAL block = GlobalAlloc(format.blockAllocFlags | GHND, AllocationSize());
  if (block == 0) return 0;
  auto* head = static_cast<ExportBlockHead*>(GlobalLock(block));
  pending.blockAllocated(block, head);
  if (head == nullptr) return 0;
  WriteTag(head);
  std::memcpy(head->fileName, name, sizeof name);
  head->file = file;
  head->files = call.files;

  if (!format.begin(*head, call)) return 0;
  return pending.handOver();
}

}  // namespace
}  // namespace writer

using writer::kWriterFormat;

// Opens the file, lets the format write what it needs up front and returns the
// ExportBlock handle; null on failure. The WriterFlags go to `flags` on every
// path unless the format withholds them.
WINPORT_EXPORT HGLOBAL WINAPI OVXDLbegin_write(FileReference file, const HostFileTable* files,
                                        const char* fileName, const BITMAPINFOHEADER* image,
                                        HGLOBAL options, int32_t* flags) {
  writer::BeginCall call{file, files, image, options};
  call.flags = kWriterFormat.beginFlags;
  writer::FlagsReport report(flags, call);
  try {
    return writer::BeginWrite(call, fileName);
  } catch (...) {  // std::bad_alloc included: a null handle is the allocation failure
    return 0;
  }
}

WINPORT_EXPORT int32_t WINAPI OVXDLwrite_block(HGLOBAL block, uint32_t rows, uint32_t stride,
                                        const uint8_t* data, ExportProgress* progress) {
  writer::BlockLock lock(block);
  if (!lock) return writer::kWriterBadBlock;
  if (rows == 0) return kWriterOk;
  if (data == nullptr) return writer::kWriterBadBlock;
  try {
    return kWriterFormat.writeRows(lock.head(), writer::RowBlock{rows, stride, data}, progress);
  } catch (...) {
    return kWriterWriteFailed;
  }
}

// Finishes the file, stores its size, closes it and frees the block, whatever
// the format's finish answers.
WINPORT_EXPORT int32_t WINAPI OVXDLend_write(HGLOBAL block, ExportProgress* progress) {
  writer::BlockLock lock(block);
  if (!lock) return writer::kWriterBadBlock;
  ExportBlockHead& head = lock.head();
  int32_t result = kWriterWriteFailed;
  try {
    result = kWriterFormat.finish(head, progress);
  } catch (...) {
    result = kWriterWriteFailed;
  }
  const int32_t size = writer::Seek(head, 0, 2);
  if (progress != nullptr) progress->fileSize = size > 0 ? static_cast<uint32_t>(size) : 0;
  head.files->close(head.file);
  if (kWriterFormat.release != nullptr) kWriterFormat.release(head);
  lock.free();
  return result;
}

static_assert(std::is_same_v<decltype(&OVXDLbegin_write), OVXDLbegin_write_fn>);
static_assert(std::is_same_v<decltype(&OVXDLwrite_block), OVXDLwrite_block_fn>);
static_assert(std::is_same_v<decltype(&OVXDLend_write), OVXDLend_write_fn>);
