// Documents without the host library (a Windows build made before the host
// library builds there): BMP files only, which the driver reads itself.
#include "image_document.h"

namespace virtscan {

bool readImageFile(const std::string& path, const std::string&, RgbImage&, std::string& error) {
  error = "cannot read " + path + ": only BMP documents can be read in this build";
  return false;
}

}  // namespace virtscan
