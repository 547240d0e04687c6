// Inflating the IDAT data.
//
// The stream and a 64 KB window on the file live in one global block of their
// own, locked from StartStream to ReleaseStream: zlib keeps a pointer from its
// internal state back to the stream, so the stream must not move while it
// lives. zlib's own allocations are global blocks too (allocated locked, freed
// through the handle of their address), so every byte the reader holds is
// counted and released by OVDLclose_image.
//
// Input policy: the image data are the first run of consecutive IDAT chunks;
// the first other chunk (or the end of the file) ends them. The file is read
// in large blocks that take in chunk data, checksums and the next chunk
// headers alike, and zlib is handed the data straight from that window.
// Before every read the file is positioned explicitly, so nothing depends on
// where an earlier call left the host's file position.
#include "png_inflate.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace rdpng {
namespace {

constexpr uint32_t kWindowBytes = 65536;

struct InflateStream {
  z_stream zs;
  uint32_t windowStart;   // image offset of window[0]
  uint32_t windowFilled;  // valid bytes in the window
  uint8_t window[kWindowBytes];
};

voidpf Allocate(voidpf /*opaque*/, uInt items, uInt size) {
  uint64_t bytes = static_cast<uint64_t>(items) * size;
  if (bytes > std::numeric_limits<uint32_t>::max()) return Z_NULL;
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, static_cast<size_t>(bytes));
  if (handle == 0) return Z_NULL;
  void* address = GlobalLock(handle);
  if (address == nullptr) GlobalFree(handle);
  return address;
}

void Free(voidpf /*opaque*/, voidpf address) {
  HGLOBAL handle = GlobalHandle(address);
  if (handle == 0) return;
  GlobalUnlock(handle);
  GlobalFree(handle);
}

uint32_t BigEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
         static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

constexpr uint64_t kLargestOffset = std::numeric_limits<int32_t>::max();

// The window's bytes from image offset `offset` on: their count (0 at the end
// of the file or when the file cannot be positioned there, −1 when a read
// failed) and where they are. The window is read afresh from `offset` when it
// holds fewer than `wanted` bytes from there.
int32_t Window(const ImageBlockHead& head, InflateStream& stream, uint32_t offset, uint32_t wanted,
               const uint8_t*& bytes) {
  const uint64_t end = uint64_t{stream.windowStart} + stream.windowFilled;
  if (offset < stream.windowStart || uint64_t{offset} + wanted > end) {
    stream.windowStart = offset;
    stream.windowFilled = 0;
    if (!reader::HostSeekImage(head, offset)) return 0;
    int32_t got = reader::HostRead(head, stream.window, kWindowBytes);
    if (got < 0) return -1;
    if (got == 0 || static_cast<uint32_t>(got) > kWindowBytes) return 0;
    stream.windowFilled = static_cast<uint32_t>(got);
  }
  bytes = stream.window + (offset - stream.windowStart);
  return static_cast<int32_t>(stream.windowStart + stream.windowFilled - offset);
}

// Moves the input to the next IDAT chunk of the run; false when the run ends
// (another chunk type, a short header, a length that wraps). `failed` is set
// when the host's read failed.
bool NextIdat(const ImageBlockHead& head, PngState& png, InflateStream& stream, bool& failed) {
  const uint8_t* chunk = nullptr;
  int32_t got = Window(head, stream, png.nextChunk, 8, chunk);
  if (got < 0) failed = true;
  if (got < 8 || std::memcmp(chunk + 4, "IDAT", 4) != 0) return false;
  uint32_t length = BigEndian32(chunk);
  uint64_t data = static_cast<uint64_t>(png.nextChunk) + 8;
  uint64_t after = data + length + 4;
  if (length > kLargestOffset || after > kLargestOffset) return false;
  png.dataPosition = static_cast<uint32_t>(data);
  png.idatLeft = length;
  png.nextChunk = static_cast<uint32_t>(after);
  return true;
}

// The next run of compressed bytes (within one chunk), straight from the
// window: the count, 0 when the data have ended, −1 when a host read failed.
int32_t NextInput(const ImageBlockHead& head, PngState& png, InflateStream& stream, const uint8_t*& bytes) {
  while (png.dataEnded == 0) {
    bool failed = false;
    if (png.idatLeft == 0) {
      if (!NextIdat(head, png, stream, failed)) png.dataEnded = 1;
      if (failed) return -1;
      continue;  // zero-length chunks are passed over; every header moves on 12 bytes
    }
    int32_t got = Window(head, stream, png.dataPosition, 1, bytes);
    if (got < 0) return -1;
    if (got == 0) {
      png.dataEnded = 1;  // the file ends inside the chunk
      break;
    }
    const uint32_t taken = std::min(png.idatLeft, static_cast<uint32_t>(got));
    png.dataPosition += taken;
    png.idatLeft -= taken;
    return static_cast<int32_t>(taken);
  }
  return 0;
}

int32_t Fail(UINT id, int32_t result) {
  reader::StoreError(id);
  return result;
}

}  // namespace

int32_t StartStream(const ImageBlockHead& /*head*/, PngState& png) {
  ReleaseStream(png);
  png.nextChunk = png.firstIdat;
  png.idatLeft = 0;
  png.dataPosition = 0;
  png.dataEnded = 0;
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, sizeof(InflateStream));
  auto* stream = handle != 0 ? static_cast<InflateStream*>(GlobalLock(handle)) : nullptr;
  if (stream == nullptr) {
    if (handle != 0) GlobalFree(handle);
    return Fail(kStrNoMemory, kReaderNoMemory);
  }
  stream->zs.zalloc = Allocate;
  stream->zs.zfree = Free;
  stream->zs.opaque = Z_NULL;
  stream->zs.next_in = Z_NULL;
  stream->zs.avail_in = 0;
  if (inflateInit(&stream->zs) != Z_OK) {
    GlobalFree(handle);
    return Fail(kStrNoMemory, kReaderNoMemory);
  }
  png.stream = handle;
  return kReaderOk;
}

void ReleaseStream(PngState& png) {
  if (png.stream == 0) return;
  if (auto* stream = static_cast<InflateStream*>(GlobalLock(png.stream)); stream != nullptr) {
    inflateEnd(&stream->zs);
  }
  GlobalFree(png.stream);
  png.stream = 0;
}

int32_t InflateInto(const ImageBlockHead& head, PngState& png, std::span<uint8_t> out) {
  if (png.stream == 0) return kReaderCorrupt;
  auto* stream = static_cast<InflateStream*>(GlobalLock(png.stream));
  if (stream == nullptr) return kReaderCorrupt;
  z_stream& zs = stream->zs;
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  int32_t result = kReaderOk;
  while (zs.avail_out > 0) {
    if (zs.avail_in == 0 && png.dataEnded == 0) {
      const uint8_t* bytes = nullptr;
      int32_t got = NextInput(head, png, *stream, bytes);
      if (got < 0) {
        result = Fail(kStrReadFailed, kReaderReadFailed);
        break;
      }
      zs.next_in = got > 0 ? const_cast<Bytef*>(bytes) : Z_NULL;
      zs.avail_in = static_cast<uInt>(got);
    }
    int status = inflate(&zs, Z_NO_FLUSH);
    if (status == Z_OK || (status == Z_STREAM_END && zs.avail_out == 0)) continue;
    if (status == Z_BUF_ERROR && zs.avail_in == 0 && png.dataEnded == 0) continue;
    if (status == Z_BUF_ERROR) {
      result = Fail(kStrUnexpectedEnd, kReaderReadFailed);
    } else if (status == Z_MEM_ERROR) {
      result = Fail(kStrNoMemory, kReaderNoMemory);
    } else {
      result = kReaderCorrupt;  // Z_STREAM_END before the image is complete, Z_DATA_ERROR, ...
    }
    break;
  }
  GlobalUnlock(png.stream);
  return result;
}

}  // namespace rdpng
