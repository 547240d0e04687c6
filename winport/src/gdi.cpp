// Bitmaps from resources, device contexts and BitBlt. A copy into a window is
// kept on that window as RGB pixels: the windowed backend draws them, the text
// backends show their size.
#include "winport/gdi.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "dialog_backend.h"
#include "internal.h"
#include "winport/resource.h"

namespace {

constexpr uint32_t kInfoHeaderSize = 40;
constexpr int32_t kMaxSide = 32767;
constexpr uint64_t kMaxPixels = uint64_t{1} << 24;  // what a dialog picture may hold

struct Bitmap {
  LONG width = 0;
  LONG height = 0;  // always positive
  WORD bitsPerPixel = 0;
  LONG rowBytes = 0;
  // The pixels, top row first, 3 bytes (R, G, B) each: copied out of the
  // resource, which may be unloaded while the bitmap lives.
  std::vector<uint8_t> rgb;
};

struct Context {
  HWND window = 0;  // 0: a memory context
  HBITMAP selected = 0;
};

struct GdiTable {
  std::mutex lock;
  std::map<HGDIOBJ, Bitmap> bitmaps;
  std::map<HDC, Context> contexts;
  uint32_t next = 0x20000;
};

GdiTable& table() {
  static GdiTable* instance = new GdiTable;  // outlives every module's detach
  return *instance;
}

uint32_t readLittle32(const uint8_t* bytes) {
  return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

struct DibLayout {
  uint32_t headerSize;
  int32_t height;  // negative: top row first
  uint64_t paletteEntries;
};

// One pixel of a DIB row as R, G, B.
void pixelOf(const uint8_t* row, LONG column, WORD bits, const uint8_t* palette,
             uint64_t paletteEntries, uint8_t* out) {
  if (bits <= 8) {
    uint32_t perByte = 8u / bits;
    uint32_t shift = 8u - bits * (1u + static_cast<uint32_t>(column) % perByte);
    uint32_t index = (row[static_cast<uint32_t>(column) / perByte] >> shift) & ((1u << bits) - 1u);
    if (index >= paletteEntries) index = 0;  // an index past the palette shows its first colour
    const uint8_t* entry = palette + index * 4;  // blue, green, red, reserved
    out[0] = entry[2], out[1] = entry[1], out[2] = entry[0];
  } else if (bits == 16) {
    uint32_t value = row[column * 2] | (row[column * 2 + 1] << 8);  // 5-5-5
    out[0] = static_cast<uint8_t>(((value >> 10) & 31) * 255 / 31);
    out[1] = static_cast<uint8_t>(((value >> 5) & 31) * 255 / 31);
    out[2] = static_cast<uint8_t>((value & 31) * 255 / 31);
  } else {
    const uint8_t* pixel = row + static_cast<size_t>(column) * (bits / 8u);
    out[0] = pixel[2], out[1] = pixel[1], out[2] = pixel[0];
  }
}

void decodePixels(const uint8_t* data, const DibLayout& layout, Bitmap& bitmap) {
  const uint8_t* palette = data + layout.headerSize;
  const uint8_t* rows = palette + layout.paletteEntries * 4;
  bitmap.rgb.resize(static_cast<size_t>(bitmap.width) * static_cast<size_t>(bitmap.height) * 3);
  for (LONG y = 0; y < bitmap.height; ++y) {
    LONG stored = layout.height < 0 ? y : bitmap.height - 1 - y;
    const uint8_t* row = rows + static_cast<size_t>(stored) * static_cast<size_t>(bitmap.rowBytes);
    uint8_t* out = bitmap.rgb.data() + static_cast<size_t>(y) * static_cast<size_t>(bitmap.width) * 3;
    for (LONG x = 0; x < bitmap.width; ++x)
      pixelOf(row, x, bitmap.bitsPerPixel, palette, layout.paletteEntries, out + x * 3);
  }
}

// The bitmap held in a packed DIB of `size` bytes; false when the header is
// malformed, the picture too large or the rows do not fit in the resource.
bool parsePackedDib(const uint8_t* data, uint64_t size, Bitmap& bitmap) {
  if (data == nullptr || size < kInfoHeaderSize) return false;
  uint32_t headerSize = readLittle32(data);
  int32_t width = static_cast<int32_t>(readLittle32(data + 4));
  int32_t height = static_cast<int32_t>(readLittle32(data + 8));
  uint16_t planes = static_cast<uint16_t>(data[12] | (data[13] << 8));
  uint16_t bits = static_cast<uint16_t>(data[14] | (data[15] << 8));
  uint32_t compression = readLittle32(data + 16);
  uint32_t coloursUsed = readLittle32(data + 32);
  if (headerSize < kInfoHeaderSize || headerSize > size || planes != 1 || compression != 0)
    return false;
  if (width <= 0 || width > kMaxSide || height == 0 || height < -kMaxSide || height > kMaxSide)
    return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  uint64_t paletteEntries = bits <= 8 ? (coloursUsed != 0 ? coloursUsed : (1u << bits)) : 0;
  if (paletteEntries > 256) return false;
  uint64_t rowBytes = ((static_cast<uint64_t>(width) * bits + 31) / 32) * 4;
  uint64_t rows = static_cast<uint64_t>(height < 0 ? -static_cast<int64_t>(height) : height);
  if (headerSize + paletteEntries * 4 + rowBytes * rows > size) return false;
  if (static_cast<uint64_t>(width) * rows > kMaxPixels) return false;
  bitmap = Bitmap{width, static_cast<LONG>(rows), bits, static_cast<LONG>(rowBytes), {}};
  decodePixels(data, DibLayout{headerSize, height, paletteEntries}, bitmap);
  return true;
}

// The part of `bitmap` from (x, y), `width` x `height` pixels, as RGB rows.
std::vector<uint8_t> regionOf(const Bitmap& bitmap, long x, long y, long width, long height) {
  std::vector<uint8_t> region(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  for (long row = 0; row < height; ++row) {
    const uint8_t* from = bitmap.rgb.data() +
                          (static_cast<size_t>(y + row) * static_cast<size_t>(bitmap.width) +
                           static_cast<size_t>(x)) * 3;
    std::memcpy(region.data() + static_cast<size_t>(row) * static_cast<size_t>(width) * 3, from,
                static_cast<size_t>(width) * 3);
  }
  return region;
}

HDC newContext(HWND window) {
  GdiTable& gdi = table();
  std::lock_guard<std::mutex> guard(gdi.lock);
  HDC handle = gdi.next++;
  gdi.contexts[handle] = Context{window, 0};
  return handle;
}

BOOL dropContext(HDC context) {
  GdiTable& gdi = table();
  std::lock_guard<std::mutex> guard(gdi.lock);
  return gdi.contexts.erase(context) != 0 ? TRUE : FALSE;
}

}  // namespace

HBITMAP LoadBitmapA(HINSTANCE instance, const char* name) {
  return winport::guarded<HBITMAP>(0, [&]() -> HBITMAP {
    if (!IS_INTRESOURCE(name)) {
      SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
      return 0;
    }
    WORD id = static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
    const WinportResource* resource = winport_find_resource(instance, RT_BITMAP, id);
    Bitmap bitmap;
    if (resource == nullptr ||
        !parsePackedDib(static_cast<const uint8_t*>(resource->data), resource->size, bitmap)) {
      SetLastError(resource == nullptr ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_INVALID_DATA);
      return 0;
    }
    GdiTable& gdi = table();
    std::lock_guard<std::mutex> guard(gdi.lock);
    HBITMAP handle = gdi.next++;
    gdi.bitmaps[handle] = bitmap;
    return handle;
  });
}

int GetObjectA(HGDIOBJ object, int size, void* buffer) {
  GdiTable& gdi = table();
  std::lock_guard<std::mutex> guard(gdi.lock);
  auto found = gdi.bitmaps.find(object);
  if (found == gdi.bitmaps.end() || buffer == nullptr ||
      size < static_cast<int>(sizeof(BITMAP)))
    return 0;
  BITMAP description{};
  description.bmWidth = found->second.width;
  description.bmHeight = found->second.height;
  description.bmWidthBytes = found->second.rowBytes;
  description.bmPlanes = 1;
  description.bmBitsPixel = found->second.bitsPerPixel;
  std::memcpy(buffer, &description, sizeof description);
  return static_cast<int>(sizeof description);
}

BOOL DeleteObject(HGDIOBJ object) {
  GdiTable& gdi = table();
  std::lock_guard<std::mutex> guard(gdi.lock);
  for (auto& [handle, context] : gdi.contexts)
    if (context.selected == object) context.selected = 0;
  return gdi.bitmaps.erase(object) != 0 ? TRUE : FALSE;
}

HDC GetDC(HWND window) {
  return window == 0 ? 0 : winport::guarded<HDC>(0, [&] { return newContext(window); });
}

int ReleaseDC(HWND /*window*/, HDC context) { return dropContext(context); }

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
  HDC context = GetDC(window);
  if (paint != nullptr) {
    *paint = PAINTSTRUCT{};
    paint->hdc = context;
    GetClientRect(window, &paint->rcPaint);
  }
  return context;
}

BOOL EndPaint(HWND /*window*/, const PAINTSTRUCT* paint) {
  return paint != nullptr ? dropContext(paint->hdc) : FALSE;
}

HDC CreateCompatibleDC(HDC /*like*/) {
  return winport::guarded<HDC>(0, [&] { return newContext(0); });
}

BOOL DeleteDC(HDC context) { return dropContext(context); }

HGDIOBJ SelectObject(HDC context, HGDIOBJ object) {
  GdiTable& gdi = table();
  std::lock_guard<std::mutex> guard(gdi.lock);
  auto found = gdi.contexts.find(context);
  if (found == gdi.contexts.end() || gdi.bitmaps.count(object) == 0) return 0;
  HGDIOBJ previous = found->second.selected;
  found->second.selected = object;
  return previous;
}

BOOL BitBlt(HDC target, int x, int y, int width, int height, HDC source, int sourceX,
            int sourceY, DWORD /*operation*/) {
  return winport::guarded<BOOL>(FALSE, [&]() -> BOOL {
    winport::dialogs::Picture picture{x, y, 0, 0, {}};
    HWND window = 0;
    {
      GdiTable& gdi = table();
      std::lock_guard<std::mutex> guard(gdi.lock);
      auto to = gdi.contexts.find(target);
      auto from = gdi.contexts.find(source);
      if (to == gdi.contexts.end() || from == gdi.contexts.end() || to->second.window == 0)
        return FALSE;
      auto bitmap = gdi.bitmaps.find(from->second.selected);
      if (bitmap == gdi.bitmaps.end() || width < 0 || height < 0 || sourceX < 0 || sourceY < 0)
        return FALSE;
      window = to->second.window;
      // Only the part of the bitmap inside the requested area is copied.
      picture.width = std::min<long>(width, std::max<long>(0, bitmap->second.width - sourceX));
      picture.height = std::min<long>(height, std::max<long>(0, bitmap->second.height - sourceY));
      picture.rgb = regionOf(bitmap->second, sourceX, sourceY, picture.width, picture.height);
    }
    return winport::dialogs::notePicture(window, std::move(picture)) ? TRUE : FALSE;
  });
}
