#include "image_output.h"

#include <cstring>

#include "ferrox/driver.h"

namespace scanapp {

namespace {

// Pixels per metre for a resolution in dots per inch, rounded.
int32_t PerMetre(uint16_t dpi) { return static_cast<int32_t>((uint32_t{dpi} * 10000 + 127) / 254); }

}  // namespace

Status DescribeImage(const LineLayout& layout, imagehost::DibImage& image) {
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = static_cast<int32_t>(layout.pixelsPerLine);
  header.biHeight = static_cast<int32_t>(layout.lineCount);
  header.biPlanes = 1;
  header.biXPelsPerMeter = PerMetre(layout.xDpi);
  header.biYPelsPerMeter = PerMetre(layout.yDpi);
  std::vector<RGBQUAD> palette;
  if (layout.dataType <= DATATYPE_HALFTONE) {
    header.biBitCount = 1;
    palette = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};
  } else if (layout.dataType == DATATYPE_GREY) {
    header.biBitCount = 8;
    for (int level = 0; level < 256; ++level) {
      const auto v = static_cast<uint8_t>(level);
      palette.push_back(RGBQUAD{v, v, v, 0});
    }
  } else {
    header.biBitCount = 24;
  }
  if (layout.pixelsPerLine > INT32_MAX || layout.lineCount > INT32_MAX)
    return Status::failure("the scan is too large for an image file");
  header.biClrUsed = static_cast<uint32_t>(palette.size());
  Status made = imagehost::DibImage::make(header, palette, image);
  if (!made) return Status::failure("the scan cannot be written as an image: " + made.message());
  return {};
}

void ConvertLine(const LineLayout& layout, const uint8_t* line, uint8_t* row) {
  const uint32_t pixels = layout.pixelsPerLine;
  switch (layout.dataType) {
    case DATATYPE_COLOUR:
      for (uint32_t x = 0; x < pixels; ++x, line += 3, row += 3) {
        row[0] = line[2];
        row[1] = line[1];
        row[2] = line[0];
      }
      break;
    case DATATYPE_COLOUR16:
      // Little-endian u16 R, G, B: the high byte of each.
      for (uint32_t x = 0; x < pixels; ++x, line += 6, row += 3) {
        row[0] = line[5];
        row[1] = line[3];
        row[2] = line[1];
      }
      break;
    default:
      std::memcpy(row, line, ExpectedLineBytes(layout.dataType, pixels));
      break;
  }
}

Status PageWriter::begin(const imagehost::WriterPlugin& writer, const std::string& workPath,
                         const std::string& outputName, const LineLayout& layout,
                         const imagehost::OptionList& options) {
  layout_ = layout;
  if (Status described = DescribeImage(layout, image_); !described) return described;
  imagehost::WriterSetup setup;
  setup.writer = &writer;
  setup.fileDesignation = workPath;
  setup.outputName = outputName;
  setup.options = options;
  setup.callerTopDownOnly = true;  // the scanner delivers the top of the page first
  return writer_.begin(setup, image_);
}

Status PageWriter::write(std::span<const uint8_t> lines, uint32_t count, bool bottomUp) {
  const uint64_t stride = image_.stride();
  if (count == 0 || lines.size() < uint64_t{count} * layout_.bytesPerLine)
    return Status::failure("the scanner delivered a block that does not hold its lines");
  block_.assign(uint64_t{count} * stride, 0);
  // The writer takes each block bottom-up: its top row last in memory.
  for (uint32_t slot = 0; slot < count; ++slot) {
    const uint32_t target = bottomUp ? slot : count - 1 - slot;
    ConvertLine(layout_, lines.data() + uint64_t{slot} * layout_.bytesPerLine,
                block_.data() + uint64_t{target} * stride);
  }
  return writer_.write(count, block_);
}

Status PageWriter::finish() { return writer_.finish(); }

}  // namespace scanapp
