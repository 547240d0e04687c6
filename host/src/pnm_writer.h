// The host's own writer for netpbm files, driven through the same five entry
// points as a writer plug-in, so that ImageWriter runs it like any other.
#pragma once

#include <string>

#include "host/plugins.h"

namespace imagehost::pnm {

// The name the writer goes by in messages and reports.
inline constexpr const char* kWriterName = "native-pnm";
// The option that picks the file type: "pnm" (the image's own kind), "pbm",
// "pgm" or "ppm". The host sets it from the output's extension.
inline constexpr const char* kTypeOption = "PNM_TYPE";

// The entry points.
const WriterExports& Exports();

// True for the extensions the writer takes (pnm, pbm, pgm, ppm; any case).
bool IsPnmExtension(const std::string& extension);

}  // namespace imagehost::pnm
