// Inflating the IDAT data.
//
// The stream and its 4096-byte input buffer live in one global block of their
// own, locked from StartStream to ReleaseStream: zlib keeps a pointer from its
// internal state back to the stream, so the stream must not move while it
// lives. zlib's own allocations are global blocks too (allocated locked, freed
// through the handle of their address), so every byte the reader holds is
// counted and released by OVDLclose_image.
//
// Input policy: the image data are the first run of consecutive IDAT chunks;
// the first other chunk (or the end of the file) ends them. Before every read
// the file is positioned explicitly, so nothing depends on where an earlier
// call left the host's file position.
#include "png_inflate.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace rdpng {
namespace {

struct InflateStream {
  z_stream zs;
  uint8_t input[kInputBytes];
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

// Moves the input to the next IDAT chunk of the run; false when the run ends
// (another chunk type, a short header, a length that wraps). `failed` is set
// when the host's read failed.
bool NextIdat(const ImageBlockHead& head, PngState& png, bool& failed) {
  uint8_t chunk[8];
  if (!reader::HostSeekImage(head, png.nextChunk)) return false;
  int32_t got = reader::HostRead(head, chunk, sizeof chunk);
  if (got < 0) failed = true;
  if (got != static_cast<int32_t>(sizeof chunk) || std::memcmp(chunk + 4, "IDAT", 4) != 0) return false;
  uint32_t length = BigEndian32(chunk);
  uint64_t data = static_cast<uint64_t>(png.nextChunk) + 8;
  uint64_t after = data + length + 4;
  if (length > kLargestOffset || after > kLargestOffset) return false;
  png.dataPosition = static_cast<uint32_t>(data);
  png.idatLeft = length;
  png.nextChunk = static_cast<uint32_t>(after);
  return true;
}

// Reads up to kInputBytes compressed bytes into `input`: the count, 0 when the
// data have ended, −1 when a host read failed.
int32_t FillInput(const ImageBlockHead& head, PngState& png, uint8_t* input) {
  uint32_t filled = 0;
  while (filled < kInputBytes && png.dataEnded == 0) {
    bool failed = false;
    if (png.idatLeft == 0) {
      if (!NextIdat(head, png, failed)) png.dataEnded = 1;
      if (failed) return -1;
      continue;  // zero-length chunks are passed over; every header moves on 12 bytes
    }
    uint32_t wanted = std::min(png.idatLeft, kInputBytes - filled);
    if (!reader::HostSeekImage(head, png.dataPosition)) {
      png.dataEnded = 1;
      break;
    }
    int32_t got = reader::HostRead(head, input + filled, wanted);
    if (got < 0) return -1;
    if (got == 0 || static_cast<uint32_t>(got) > wanted) {
      png.dataEnded = 1;  // the file ends inside the chunk
      break;
    }
    filled += static_cast<uint32_t>(got);
    png.dataPosition += static_cast<uint32_t>(got);
    png.idatLeft -= static_cast<uint32_t>(got);
  }
  return static_cast<int32_t>(filled);
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
  stream->zs.next_in = stream->input;
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
      int32_t got = FillInput(head, png, stream->input);
      if (got < 0) {
        result = Fail(kStrReadFailed, kReaderReadFailed);
        break;
      }
      zs.next_in = stream->input;
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
