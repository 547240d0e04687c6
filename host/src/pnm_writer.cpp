// The netpbm writer. Which of the three binary types it writes:
//   - "pbm": P4, a pixel black when its luma is below half;
//   - "pgm": P5, the luma of each pixel (maxval 255, or 65535 at 48 bits);
//   - "ppm": P6, red, green, blue (maxval 255, or 65535 at 48 bits);
//   - "pnm": the image's own kind: a 1-bit image whose two colours are black
//     and white is a PBM, an image whose colour table is all grey a PGM,
//     anything else a PPM. Any other type is taken as "pnm".
// Luma is (299 R + 587 G + 114 B) / 1000, rounded. Rows arrive top first
// (netpbm's order), are converted one at a time and written at once.
#include "pnm_writer.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/options.h"
#include "winport/memory.h"

namespace imagehost::pnm {
namespace {

// Rows top first; bit 8: the host may hand 48-bit rows.
constexpr uint32_t kFlags = 248 | 256;
constexpr const char* kExtensionText = "PNM;Portable anymap (*.pnm;*.ppm;*.pgm;*.pbm)";

enum class Kind { kBitmap, kGrey, kColour };

struct Library {
  ExportErrorCallback errorCallback = nullptr;
  HINSTANCE instance = 0;
};
Library gLibrary;

struct Export {
  uint32_t file = 0;
  const HostFileTable* files = nullptr;
  std::string fileName;
  BITMAPINFOHEADER image{};
  std::vector<RGBQUAD> colours;
  Kind kind = Kind::kColour;
  uint32_t rowsWritten = 0;
  // A 1-bit image into a PBM: whole bytes, 0 when each colour keeps its bit
  // (index 1 black), 0xFF when they swap (index 0 black); -1: pixel by pixel.
  int bitmapMask = -1;
  std::vector<uint8_t> line;
  bool failed = false;
};

void Report(int32_t id, const std::string& fileName) {
  if (gLibrary.errorCallback != nullptr)
    gLibrary.errorCallback(gLibrary.instance, id, kWriterName, fileName.c_str());
}

uint32_t Luma(uint32_t r, uint32_t g, uint32_t b) { return (299 * r + 587 * g + 114 * b + 500) / 1000; }

bool IsGrey(const RGBQUAD& c) { return c.rgbRed == c.rgbGreen && c.rgbGreen == c.rgbBlue; }

Kind NaturalKind(const BITMAPINFOHEADER& image, const std::vector<RGBQUAD>& colours) {
  if (image.biBitCount > 8) return Kind::kColour;
  if (!std::all_of(colours.begin(), colours.end(), IsGrey)) return Kind::kColour;
  if (image.biBitCount == 1) {
    const uint32_t a = colours[0].rgbRed, b = colours[1].rgbRed;
    if (std::min(a, b) == 0 && std::max(a, b) == 255) return Kind::kBitmap;
  }
  return Kind::kGrey;
}

// The type option, lower-cased; "pnm" when absent. Part of the host, the
// writer asks the host's option lookup directly.
std::string TypeOption(HGLOBAL options) {
  char value[kOptionValueSize] = {};
  if (options == 0 || OvgXOptBlkGet(options, kTypeOption, value) != 0) return "pnm";
  std::string text(value, strnlen(value, sizeof value));
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

bool WriteAll(Export& e, const void* bytes, size_t count) {
  const auto* from = static_cast<const uint8_t*>(bytes);
  while (count > 0) {
    const auto piece = static_cast<uint32_t>(std::min<size_t>(count, 1u << 20));
    if (e.files->write(e.file, from, piece) != static_cast<int32_t>(piece)) return false;
    from += piece;
    count -= piece;
  }
  return true;
}

uint32_t SampleMax(const Export& e) { return e.image.biBitCount == 48 ? 65535 : 255; }

std::string Header(const Export& e) {
  const char* magic = e.kind == Kind::kBitmap ? "P4" : e.kind == Kind::kGrey ? "P5" : "P6";
  std::string text = std::string(magic) + "\n" + std::to_string(e.image.biWidth) + " " +
                     std::to_string(e.image.biHeight) + "\n";
  if (e.kind != Kind::kBitmap) text += std::to_string(SampleMax(e)) + "\n";
  return text;
}

// Pixel x of a DIB row as red, green, blue at the image's sample size.
void Pixel(const Export& e, const uint8_t* row, uint32_t x, uint32_t rgb[3]) {
  const uint32_t bits = e.image.biBitCount;
  if (bits == 24) {
    rgb[0] = row[3 * x + 2], rgb[1] = row[3 * x + 1], rgb[2] = row[3 * x];
  } else if (bits == 48) {
    for (int s = 0; s < 3; ++s) rgb[s] = row[6 * x + 2 * (2 - s)] | row[6 * x + 2 * (2 - s) + 1] << 8;
  } else {
    const uint32_t perByte = 8 / bits;
    const uint32_t index = (row[x / perByte] >> ((perByte - 1 - x % perByte) * bits)) & ((1u << bits) - 1);
    const RGBQUAD& c = e.colours[index];
    rgb[0] = c.rgbRed, rgb[1] = c.rgbGreen, rgb[2] = c.rgbBlue;
  }
}

// One DIB row into e.line in the file's layout.
void ConvertRow(Export& e, const uint8_t* row) {
  const auto width = static_cast<uint32_t>(e.image.biWidth);
  if (e.bitmapMask >= 0) {
    for (size_t i = 0; i < e.line.size(); ++i) e.line[i] = static_cast<uint8_t>(row[i] ^ e.bitmapMask);
    if (width % 8 != 0) e.line.back() &= static_cast<uint8_t>(0xFF00 >> (width % 8));
    return;
  }
  const bool wide = SampleMax(e) > 255;
  std::fill(e.line.begin(), e.line.end(), 0);
  uint8_t* out = e.line.data();
  for (uint32_t x = 0; x < width; ++x) {
    uint32_t rgb[3];
    Pixel(e, row, x, rgb);
    if (e.kind == Kind::kBitmap) {
      if (Luma(rgb[0], rgb[1], rgb[2]) * 2 <= SampleMax(e)) out[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      continue;
    }
    const uint32_t grey = Luma(rgb[0], rgb[1], rgb[2]);
    const uint32_t* samples = e.kind == Kind::kGrey ? &grey : rgb;
    for (int s = 0; s < (e.kind == Kind::kGrey ? 1 : 3); ++s) {
      if (wide) *out++ = static_cast<uint8_t>(samples[s] >> 8);
      *out++ = static_cast<uint8_t>(samples[s]);
    }
  }
}

size_t LineBytes(const Export& e) {
  const auto width = static_cast<size_t>(e.image.biWidth);
  if (e.kind == Kind::kBitmap) return (width + 7) / 8;
  const size_t samples = e.kind == Kind::kGrey ? width : 3 * width;
  return samples * (SampleMax(e) > 255 ? 2 : 1);
}

bool Accepts(const BITMAPINFOHEADER& image) {
  const uint32_t bits = image.biBitCount;
  return (bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 48) && image.biWidth > 0 &&
         image.biHeight > 0;
}

// Locks the handle for one call; null when it is not a live export.
Export* ExportOf(HGLOBAL block) {
  if (block == 0 || GlobalSize(block) != sizeof(Export*)) return nullptr;
  auto* slot = static_cast<Export**>(GlobalLock(block));
  if (slot == nullptr) return nullptr;
  Export* e = *slot;
  GlobalUnlock(block);
  return e;
}

const char* WINAPI GetExtension(ExportHostInfo* host) {
  gLibrary = Library{};
  if (host != nullptr) {
    host->flags = kFlags;
    gLibrary.errorCallback = host->errorCallback;
  }
  return kExtensionText;
}

HGLOBAL BeginExport(FileReference file, const HostFileTable* files, const char* fileName,
                    const BITMAPINFOHEADER* image, HGLOBAL options) {
  const std::string name = fileName != nullptr ? fileName : "";
  const std::string type = TypeOption(options);
  if (image == nullptr || !Accepts(*image)) {
    Report(kWriterErrorHeader, name);
    return 0;
  }
  auto e = std::make_unique<Export>();
  e->image = *image;
  e->fileName = name;
  e->files = files;
  const auto* table = reinterpret_cast<const RGBQUAD*>(image + 1);
  if (image->biBitCount <= 8) e->colours.assign(table, table + (1u << image->biBitCount));
  e->kind = type == "pbm" ? Kind::kBitmap
            : type == "pgm" ? Kind::kGrey
            : type == "ppm" ? Kind::kColour
                            : NaturalKind(*image, e->colours);
  e->line.assign(LineBytes(*e), 0);
  if (e->kind == Kind::kBitmap && image->biBitCount == 1) {
    auto black = [](const RGBQUAD& c) { return Luma(c.rgbRed, c.rgbGreen, c.rgbBlue) * 2 <= 255; };
    if (black(e->colours[0]) != black(e->colours[1])) e->bitmapMask = black(e->colours[0]) ? 0xFF : 0;
  }
  if (files == nullptr || files->open(file, kOpenCreate, &e->file) != 1) {
    Report(kWriterErrorOpen, name);
    return 0;
  }
  const HGLOBAL block = GlobalAlloc(GHND, sizeof(Export*));
  auto* slot = block != 0 ? static_cast<Export**>(GlobalLock(block)) : nullptr;
  if (slot == nullptr) {
    files->close(e->file);
    if (block != 0) GlobalFree(block);
    return 0;
  }
  const std::string header = Header(*e);
  if (!WriteAll(*e, header.data(), header.size())) Report(kWriterErrorHeader, name);
  *slot = e.release();
  GlobalUnlock(block);
  return block;
}

HGLOBAL WINAPI BeginWrite(FileReference file, const HostFileTable* files, const char* fileName,
                          const BITMAPINFOHEADER* image, HGLOBAL options, int32_t* flags) {
  if (flags != nullptr) *flags = static_cast<int32_t>(kFlags);
  try {
    return BeginExport(file, files, fileName, image, options);
  } catch (...) {
    return 0;
  }
}

// Adds `bytes` to the progress record; false when the callback asks to stop.
bool Advance(ExportProgress* progress, uint32_t bytes) {
  if (progress == nullptr) return true;
  const uint64_t since = uint64_t{progress->sinceLast} + bytes;
  if (since <= progress->interval) {
    progress->sinceLast = static_cast<uint32_t>(since);
    return true;
  }
  progress->bytesDone = static_cast<uint32_t>(std::min<uint64_t>(progress->bytesDone + since, UINT32_MAX));
  progress->sinceLast = 0;
  if (progress->callback == nullptr || progress->bytesTotal == 0) return true;
  const uint64_t percent = std::min<uint64_t>(uint64_t{progress->bytesDone} * 100 / progress->bytesTotal, 100);
  return progress->callback(0, static_cast<int32_t>(percent), progress->userValue) != 0;
}

int32_t WINAPI WriteBlock(HGLOBAL block, uint32_t rows, uint32_t stride, const uint8_t* data,
                          ExportProgress* progress) {
  Export* e = ExportOf(block);
  if (e == nullptr || (rows != 0 && data == nullptr)) return kWriterWriteFailed;
  if (e->failed) return kWriterWriteFailed;
  const uint64_t rowBytes = DibRowBytes(static_cast<uint64_t>(e->image.biWidth), e->image.biBitCount);
  if (stride < rowBytes || rows > static_cast<uint32_t>(e->image.biHeight) - e->rowsWritten) {
    Report(kWriterErrorWrite, e->fileName);
    return kWriterWriteFailed;
  }
  for (uint32_t i = 0; i < rows; ++i) {
    if (!Advance(progress, stride)) return kWriterCancelled;
    ConvertRow(*e, data + uint64_t{stride} * (rows - 1 - i));  // the block's top row is last
    if (!WriteAll(*e, e->line.data(), e->line.size())) {
      e->failed = true;
      Report(kWriterErrorWrite, e->fileName);
      return kWriterWriteFailed;
    }
    ++e->rowsWritten;
  }
  return kWriterOk;
}

int32_t WINAPI EndWrite(HGLOBAL block, ExportProgress* progress) {
  Export* e = ExportOf(block);
  if (e == nullptr) return kWriterWriteFailed;
  const bool complete = !e->failed && e->rowsWritten == static_cast<uint32_t>(e->image.biHeight);
  const int32_t size = e->files->seek(e->file, 0, 2);
  if (progress != nullptr) progress->fileSize = size > 0 ? static_cast<uint32_t>(size) : 0;
  e->files->close(e->file);
  if (!complete && !e->failed) Report(kWriterErrorWrite, e->fileName);
  delete e;
  GlobalFree(block);
  return complete ? kWriterOk : kWriterWriteFailed;
}

const char* WINAPI GetVersion() { return "1.00"; }

}  // namespace

const WriterExports& Exports() {
  static const WriterExports kExports{GetExtension, BeginWrite, WriteBlock, EndWrite, GetVersion};
  return kExports;
}

bool IsPnmExtension(const std::string& extension) {
  std::string lower = extension;
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower == "pnm" || lower == "pbm" || lower == "pgm" || lower == "ppm";
}

}  // namespace imagehost::pnm
