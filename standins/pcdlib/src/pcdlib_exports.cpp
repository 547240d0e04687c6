// PCDLIB32.dll stand-in: the five Photo CD operations under their ordinals,
// and a named test hook. No exception leaves an export.
#include <iterator>
#include <new>

#include "pcd_images.h"
#include "winport/module.h"

namespace {

template <typename Body>
int16_t Shielded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return pcdlib::kNoMemory;
  } catch (...) {
    return pcdlib::kReadFailed;
  }
}

}  // namespace

WINPORT_EXPORT int16_t PcdReadRows(pcdlib::ImageHandle image, const pcdlib::RowRect* rect,
                                   uint8_t* buffer, uint32_t stride) {
  return Shielded([&] { return pcdlib::ReadRows(image, rect, buffer, stride); });
}

WINPORT_EXPORT int16_t PcdSetProgress(pcdlib::ImageHandle image, pcdlib::ProgressRoutine routine,
                                      void* user) {
  return Shielded([&] { return pcdlib::SetProgress(image, routine, user); });
}

WINPORT_EXPORT int16_t PcdOpen(const void* fileReference, pcdlib::ImageHandle* image) {
  return Shielded([&] { return pcdlib::OpenImage(fileReference, image); });
}

WINPORT_EXPORT int16_t PcdClose(pcdlib::ImageHandle image) {
  return Shielded([&] { return pcdlib::CloseImage(image); });
}

WINPORT_EXPORT int16_t PcdImageSize(pcdlib::ImageHandle image, int16_t* size) {
  return Shielded([&] { return pcdlib::ImageSize(image, size); });
}

WINPORT_EXPORT uint32_t pcdlib_test_open_images() {
  return pcdlib::OpenImageCount();
}

namespace {

// Callers bind the operations by ordinal; the names are for reading traces.
constexpr WinportExport kExports[] = {
    {"PcdReadRows", pcdlib::kOrdReadRows},   {"PcdSetProgress", pcdlib::kOrdSetProgress},
    {"PcdOpen", pcdlib::kOrdOpen},           {"PcdClose", pcdlib::kOrdClose},
    {"PcdImageSize", pcdlib::kOrdImageSize}, {pcdlib::kOpenImagesExport, 100},
};

}  // namespace

// The library has no version export; its version resource names it.
WINPORT_MODULE_VERSION("Photo CD Image Library V1.0");
WINPORT_MODULE(kExports, std::size(kExports), nullptr, 0, nullptr)
