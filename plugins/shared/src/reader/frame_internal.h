// The frame's own helpers, shared by its object libraries (not by formats).
#pragma once

#include <new>

#include "plugin/reader_frame.h"

namespace reader::detail {

// Locks an image handle for the length of one call and unlocks it on every
// exit. A handle that cannot be locked, or whose block is not a live image of
// this module (too small, closed, another module's), counts as invalid.
class LockedImage {
 public:
  explicit LockedImage(HGLOBAL handle);
  ~LockedImage();
  LockedImage(const LockedImage&) = delete;
  LockedImage& operator=(const LockedImage&) = delete;

  explicit operator bool() const { return block_ != nullptr; }
  ImageBlockBase& operator*() const { return *block_; }
  ImageBlockBase* operator->() const { return block_; }

  // Unlocks and frees the block (OVDLclose_image).
  void destroy();

 private:
  HGLOBAL handle_;
  ImageBlockBase* block_ = nullptr;
};

// Stores id 4 and returns 8: the answer to an invalid handle.
int32_t BadHandle();

// Runs an export's body; no exception leaves it. bad_alloc -> 6 with id 3.
template <typename Body>
int32_t Shielded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    StoreError(kIdNoMemory);
    return kReaderNoMemory;
  } catch (...) {
    return kReaderCorrupt;
  }
}

// Asks the format for the current page's geometry and stores it in the frame
// state (validated: it must fit a DIB and the row buffer limits).
int32_t Describe(ImageBlockBase& image, DibDescription& out);
int32_t EnsureDescribed(ImageBlockBase& image);

// Forgets the row state after a page change: row 0, nothing carried, decoder
// to be repositioned, geometry to be described anew.
void ResetRowState(ImageBlockBase& image);

// Frees the persistent row buffer.
void FreeRowBuffer(ImageBlockBase& image);

}  // namespace reader::detail
