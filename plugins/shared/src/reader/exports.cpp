// The reader entry points every .DIL exports (names and ordinals in
// reader::kCoreExports). Each locks the image for the call, answers 8 with
// id 4 for an invalid handle, and lets no exception out.
#include <cstdint>

#include "dib_header.h"
#include "row_loop.h"

using reader::ImageBlockBase;
using reader::gReaderFormat;
using reader::detail::BadHandle;
using reader::detail::LockedImage;
using reader::detail::Shielded;

namespace {

uint32_t High16(const void* p) {
  return static_cast<uint32_t>((reinterpret_cast<uintptr_t>(p) >> 16) & 0xFFFF);
}
uint32_t Low16(const void* p) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p) & 0xFFFF);
}

void CloseHostFile(const HostFileTable* files, uint32_t file) {
  if (files != nullptr && files->close != nullptr && file != 0) files->close(file);
}

// Undoes a failed OVDLinit_image: whatever the format allocated, the block,
// and the host's file (the host's handle is no longer valid afterwards).
class InitRollback {
 public:
  explicit InitRollback(reader::InitContext& ctx) : ctx_(ctx) {}
  ~InitRollback() {
    if (committed_) return;
    if (ImageBlockBase* block = ctx_.block(); block != nullptr) {
      if (gReaderFormat.release != nullptr) gReaderFormat.release(*block);
      reader::detail::FreeRowBuffer(*block);
      block->frame.magic = 0;
      GlobalUnlock(ctx_.handle());
      GlobalFree(ctx_.handle());
    }
    CloseHostFile(ctx_.files, ctx_.file);
  }
  InitRollback(const InitRollback&) = delete;
  InitRollback& operator=(const InitRollback&) = delete;
  void commit() { committed_ = true; }

 private:
  reader::InitContext& ctx_;
  bool committed_ = false;
};

int32_t InitImage(FileReference file, HGLOBAL* image, uint32_t handle, uint32_t offset,
                  uint32_t length, const HostFileTable* files) {
  if (image != nullptr) *image = 0;
  reader::InitContext ctx;
  ctx.fileReference = file;
  ctx.file = handle;
  ctx.imageOffset = offset;
  ctx.imageLength = length;
  ctx.files = files;
  InitRollback rollback(ctx);
  if (files == nullptr) {
    reader::StoreError(reader::kIdReadFailed);
    return kReaderReadFailed;
  }
  if (image == nullptr) return BadHandle();
  int32_t result = gReaderFormat.init(ctx);
  if (result == kReaderOk && ctx.block() == nullptr) result = kReaderCorrupt;
  if (result != kReaderOk) return result;
  ctx.block()->frame.repositionNeeded = 0;  // init leaves the decoder at row 0
  GlobalUnlock(ctx.handle());
  rollback.commit();
  *image = ctx.handle();
  return kReaderOk;
}

}  // namespace

WINPORT_EXPORT int32_t WINAPI OVDLset_ext(int32_t number, const char* text) {
  reader::TraceHook(4, "\t%s-->set_ext(%d,%s)", gReaderFormat.traceName, number, text);
  return kReaderOk;
}

WINPORT_EXPORT int32_t WINAPI OVDLinit_image(FileReference file, HGLOBAL* image, uint32_t handle,
                                      uint32_t offset, uint32_t length,
                                      const HostFileTable* files) {
  return Shielded([&] { return InitImage(file, image, handle, offset, length, files); });
}

WINPORT_EXPORT int32_t WINAPI OVDLclose_image(HGLOBAL image) {
  return Shielded([&] {
    LockedImage block(image);
    if (!block) return BadHandle();
    reader::TraceHook(4, "\t%s-->close_image(%d)", gReaderFormat.traceName, image);
    CloseHostFile(block->head.files, block->head.file);
    block->head.file = 0;
    if (gReaderFormat.release != nullptr) gReaderFormat.release(*block);
    reader::detail::FreeRowBuffer(*block);
    block.destroy();
    return static_cast<int32_t>(kReaderOk);
  });
}

WINPORT_EXPORT int32_t WINAPI OVDLopen(HGLOBAL image, int32_t /*ignored*/) {
  return Shielded([&] {
    LockedImage block(image);
    if (!block) return BadHandle();
    ImageBlockHead& head = block->head;
    if (head.file == 0) {
      uint32_t reopened = 0;
      if (head.files == nullptr || head.files->open == nullptr ||
          head.files->open(head.fileReference, 0, &reopened) != 1 || reopened == 0) {
        reader::StoreError(reader::kIdOpenFailed);
        return static_cast<int32_t>(kReaderOpenFailed);
      }
      head.file = reopened;
    }
    // The next read or set_row brings the decoder back to the current row.
    block->frame.repositionNeeded = 1;
    return static_cast<int32_t>(kReaderOk);
  });
}

WINPORT_EXPORT int32_t WINAPI OVDLclose_keep(HGLOBAL image) {
  return Shielded([&] {
    LockedImage block(image);
    if (!block) return BadHandle();
    reader::TraceHook(4, "\t%s-->close_keep(%d)", gReaderFormat.traceName, image);
    CloseHostFile(block->head.files, block->head.file);
    block->head.file = 0;
    block->frame.repositionNeeded = 1;
    return static_cast<int32_t>(kReaderOk);
  });
}

WINPORT_EXPORT int32_t WINAPI OVDLread_rows(HGLOBAL image, uint8_t* buffer, uint32_t rows,
                                     uint32_t stride, uint32_t offset, ProgressRecord* progress) {
  return Shielded([&] {
    LockedImage block(image);
    if (!block) return BadHandle();
    reader::TraceHook(4, "\t%s-->%s(%d, %x:%x, %u, %u, %u, %x:%x)", gReaderFormat.traceName,
                      "read_rows", image, High16(buffer), Low16(buffer), rows, stride, offset,
                      High16(progress), Low16(progress));
    return reader::detail::ReadRows(*block, buffer, rows, stride, offset, progress);
  });
}

WINPORT_EXPORT int32_t WINAPI OVDLset_row(HGLOBAL image, uint32_t row) {
  return Shielded([&] {
    LockedImage block(image);
    if (!block) return BadHandle();
    reader::TraceHook(4, "\t%s-->set_row(%d,%d)", gReaderFormat.traceName, image, row);
    return reader::detail::SetRow(*block, row);
  });
}

WINPORT_EXPORT int32_t WINAPI OVDLbuildDIBhead(HGLOBAL image, ImageHeaderRecord* header) {
  return Shielded([&] {
    LockedImage block(image);
    if (!block) return BadHandle();
    reader::TraceHook(4, "\t%s-->buildDIBhead(%d)", gReaderFormat.traceName, image);
    return reader::detail::BuildDibHead(*block, header);
  });
}

WINPORT_EXPORT int32_t WINAPI OVDLprint(int32_t, int32_t, int32_t, int32_t) {
  if (gReaderFormat.printErrorId != 0) reader::StoreError(gReaderFormat.printErrorId);
  return gReaderFormat.printResult;
}

WINPORT_EXPORT int32_t WINAPI OVDLrender(int32_t, int32_t, int32_t, int32_t) {
  return gReaderFormat.renderResult;
}

// Loads the calling thread's last error id from the module's string table.
// Always 1; an id of 0 or one not in the table gives an empty text.
WINPORT_EXPORT int32_t WINAPI OVDLerror_string(char* buffer, int32_t size) {
  if (buffer == nullptr || size <= 0) return kReaderOk;
  buffer[0] = '\0';
  UINT id = reader::LastError();
  if (id != 0) LoadStringA(reader::ModuleInstance(), id, buffer, size);
  return kReaderOk;
}

WINPORT_EXPORT const char* WINAPI OVDLget_ver() {
  return gReaderFormat.versionText;
}

WINPORT_EXPORT int32_t WINAPI OVDLimg_name(HGLOBAL image, int32_t /*ignored*/) {
  return Shielded([&] {
    LockedImage block(image);
    return block ? static_cast<int32_t>(kReaderOk) : BadHandle();
  });
}

WINPORT_EXPORT int32_t WINAPI OVDLescape(int32_t, int32_t, int32_t, int32_t) {
  return gReaderFormat.escapeResult;
}

WINPORT_EXPORT int32_t WINAPI OVDLverify_img(const uint8_t* firstBytes, int32_t, int32_t) {
  if (firstBytes == nullptr) return kReaderNotRecognised;
  return Shielded([&] {
    return gReaderFormat.recognise(std::span<const uint8_t, kVerifyBytes>(firstBytes, kVerifyBytes));
  });
}

WINPORT_EXPORT void WINAPI WEP(int32_t /*ignored*/) {}
