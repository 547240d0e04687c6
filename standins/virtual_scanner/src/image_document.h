// Documents in any format the reader plug-ins read, through the host library.
#pragma once

#include <string>

#include "bmp_document.h"

namespace virtscan {

// Reads the first page of `path` with the reader plug-ins of `readerFolder`
// (or the host's own BMP input) into `image`. On failure `error` says why, in
// the host library's words ("cannot open ...: No such file or directory").
bool readImageFile(const std::string& path, const std::string& readerFolder, RgbImage& image,
                   std::string& error);

}  // namespace virtscan
