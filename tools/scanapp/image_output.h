// Scan lines as DIB rows, written through a writer plug-in.
//
// The device delivers lines without padding: line art and halftone 1 bit per
// pixel, most significant bit first, 1 = bright; grey 1 byte; colour R, G, B;
// colour with 16-bit samples three little-endian u16. DIB rows are padded to
// 4 bytes, colour is stored B, G, R, and 16-bit samples keep their high byte
// (the writers take at most 8 bits per sample).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "host/dib.h"
#include "host/plugins.h"
#include "host/status.h"
#include "host/writer.h"
#include "scanclient/lines.h"

namespace scanapp {

using imagehost::Status;

// The lines of one scan as the device delivers them.
struct LineLayout {
  uint16_t dataType = 0;  // DATATYPE_*
  uint32_t pixelsPerLine = 0;
  uint32_t bytesPerLine = 0;
  uint32_t lineCount = 0;
  uint16_t xDpi = 0;
  uint16_t yDpi = 0;
};

using scanclient::ExpectedLineBytes;

// The DIB description of a scan: 1, 8 or 24 bits, a black-to-white palette below 24.
Status DescribeImage(const LineLayout& layout, imagehost::DibImage& image);

// One delivered line into one DIB row (`row` holds the image's stride).
void ConvertLine(const LineLayout& layout, const uint8_t* line, uint8_t* row);

// One page written through a writer plug-in into a file the caller names.
class PageWriter {
 public:
  Status begin(const imagehost::WriterPlugin& writer, const std::string& workPath,
               const std::string& outputName, const LineLayout& layout,
               const imagehost::OptionList& options = {});
  // `count` delivered lines, in top-down order, or bottom-up when `bottomUp`
  // (the block's top line last in memory, as the scanner delivers them then).
  Status write(std::span<const uint8_t> lines, uint32_t count, bool bottomUp);
  Status finish();

 private:
  LineLayout layout_;
  imagehost::DibImage image_;
  imagehost::ImageWriter writer_;
  std::vector<uint8_t> block_;
};

}  // namespace scanapp
