// Image input: a file read through a reader plug-in, or a BMP file read by
// the host itself. Either delivers rows in blocks, in the layout writers take.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "host/api.h"
#include "host/dib.h"
#include "host/plugins.h"
#include "host/progress.h"
#include "host/status.h"

namespace imagehost {

class HOST_API RowSource {
 public:
  virtual ~RowSource() = default;

  // "rdgem.DIL", or "native-bmp" for the host's own BMP input.
  virtual const std::string& name() const = 0;
  // The current page's checked description.
  virtual const DibImage& image() const = 0;
  virtual uint32_t pages() const = 0;
  // Makes `page` (0-based) current; its rows start again at the top.
  virtual Status selectPage(uint32_t page) = 0;
  // True when blocks may be read in any order; else only top-down, each
  // block starting where the previous one ended.
  virtual bool randomAccess() const = 0;
  // Reads the image rows top … top + count − 1 into `rows` (count × stride
  // bytes), bottom-up as in a DIB: the block's top row is last in memory.
  virtual Status readRows(uint32_t top, uint32_t count, std::span<uint8_t> rows) = 0;
};

struct SourceOptions {
  // Read with this reader whatever its OVDLverify_img answers; null: choose.
  const ReaderPlugin* reader = nullptr;
  ProgressSink progress;
};

// Opens `path`. Unless a reader is given, the file goes to the first reader
// whose OVDLverify_img answers 1; else, when it begins with "BM", to the host's
// BMP input; else to the first reader answering 2.
HOST_API Status OpenSource(const PluginSet& plugins, const std::string& path,
                           const SourceOptions& options, std::unique_ptr<RowSource>& out);

}  // namespace imagehost
