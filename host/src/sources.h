// The two kinds of RowSource behind OpenSource.
#pragma once

#include <memory>
#include <string>

#include "host/source.h"

namespace imagehost {

// Reads `path` through `reader`. `file` is the host handle of the open file,
// which passes to the reader (it closes it when OVDLinit_image fails).
Status OpenReaderSource(const ReaderPlugin& reader, const std::string& path, uint32_t file,
                        const ProgressSink& progress, std::unique_ptr<RowSource>& out);

// Reads the BMP file `path` itself; `file` is its open host handle, which the
// source owns from then on.
Status OpenBmpSource(const std::string& path, uint32_t file, const ProgressSink& progress,
                     std::unique_ptr<RowSource>& out);

// Largest image the host reads in one call when a reader refuses partial reads.
inline constexpr uint64_t kMaxWholeImageBytes = uint64_t{1} << 30;

}  // namespace imagehost
