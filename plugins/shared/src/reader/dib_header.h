// OVDLbuildDIBhead's work.
#pragma once

#include "frame_internal.h"

namespace reader::detail {

int32_t BuildDibHead(ImageBlockBase& image, ImageHeaderRecord* record);

}  // namespace reader::detail
