// OVDLset_page / OVDLget_page: exported only by multi-page readers (names and
// ordinals in reader::kPageExports), which link this object library.
#include <cstdint>

#include "../reader/frame_internal.h"

using reader::gReaderFormat;
using reader::detail::BadHandle;
using reader::detail::LockedImage;
using reader::detail::Shielded;

// Makes a page current. A page outside 0 … page count − 1 answers 16 (with the
// format's id, if it has one) and changes nothing. After a page change the
// current row is 0 and the next OVDLbuildDIBhead describes the new page; the
// next read starts at its first row.
WINPORT_EXPORT int32_t WINAPI OVDLset_page(HGLOBAL image, int32_t page) {
  return Shielded([&] {
    LockedImage block(image);
    if (!block) return BadHandle();
    reader::ReaderFrameState& frame = block->frame;
    if (page < 0 || static_cast<uint32_t>(page) >= frame.pageCount || gReaderFormat.setPage == nullptr) {
      if (gReaderFormat.noSuchPageErrorId != 0) reader::StoreError(gReaderFormat.noSuchPageErrorId);
      return static_cast<int32_t>(kReaderNoSuchPage);
    }
    if (static_cast<uint32_t>(page) == frame.currentPage) return static_cast<int32_t>(kReaderOk);
    int32_t result = gReaderFormat.setPage(*block, static_cast<uint32_t>(page));
    // Whatever the format managed, the row state no longer matches the decoder.
    reader::detail::ResetRowState(*block);
    if (result == kReaderOk) frame.currentPage = static_cast<uint32_t>(page);
    return result;
  });
}

WINPORT_EXPORT int32_t WINAPI OVDLget_page(HGLOBAL image, int32_t* page) {
  return Shielded([&] {
    LockedImage block(image);
    if (!block) return BadHandle();
    if (page != nullptr) *page = static_cast<int32_t>(block->frame.currentPage);
    return static_cast<int32_t>(kReaderOk);
  });
}
