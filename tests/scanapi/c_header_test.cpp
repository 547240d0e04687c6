// The C header for applications (ferrox/ferrox.h) against the library's own
// headers: the records have the same sizes and offsets, and every number the
// C header names has the library's value.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

#include "ferrox/driver.h"
#include "ferrox/scanner_command.h"

namespace capi {
#include "ferrox/ferrox.h"
}

namespace {

#define SAME_LAYOUT(type, field) \
  static_assert(offsetof(capi::type, field) == offsetof(::type, field), #type "." #field)
static_assert(sizeof(capi::ScannerCommand) == sizeof(::ScannerCommand));
SAME_LAYOUT(ScannerCommand, status);
SAME_LAYOUT(ScannerCommand, data);
SAME_LAYOUT(ScannerCommand, value);
SAME_LAYOUT(ScannerCommand, result);
SAME_LAYOUT(ScannerCommand, lockHandle);
static_assert(sizeof(capi::ProductRecord) == sizeof(::ProductRecord));
SAME_LAYOUT(ProductRecord, productName);
static_assert(sizeof(capi::LimitsRecord) == sizeof(::LimitsRecord));
SAME_LAYOUT(LimitsRecord, highestResolution);
SAME_LAYOUT(LimitsRecord, nativeHorizontal);
SAME_LAYOUT(LimitsRecord, nativeVertical);
SAME_LAYOUT(LimitsRecord, widthLimit);
SAME_LAYOUT(LimitsRecord, heightLimit);
static_assert(sizeof(capi::ScanFrame) == sizeof(::ScanFrame));
SAME_LAYOUT(ScanFrame, left);
SAME_LAYOUT(ScanFrame, top);
SAME_LAYOUT(ScanFrame, width);
SAME_LAYOUT(ScanFrame, height);
SAME_LAYOUT(ScanFrame, xResolution);
SAME_LAYOUT(ScanFrame, yResolution);
SAME_LAYOUT(ScanFrame, dataType);
SAME_LAYOUT(ScanFrame, bitCode);
SAME_LAYOUT(ScanFrame, settingIndex);
static_assert(sizeof(capi::ScanParameters) == sizeof(::ScanParameters));
SAME_LAYOUT(ScanParameters, mapAddress);
SAME_LAYOUT(ScanParameters, frame);
SAME_LAYOUT(ScanParameters, mapMode);
SAME_LAYOUT(ScanParameters, brightness);
SAME_LAYOUT(ScanParameters, contrast);
SAME_LAYOUT(ScanParameters, driverPart);
#undef SAME_LAYOUT

struct Named {
  const char* name;
  long long inC;
  long long inLibrary;
};

#define SAME(name) Named{#name, capi::name, ::name}
TEST(CHeader, NamesTheLibrarysNumbers) {
  const Named table[] = {
      SAME(SCAN_OK), SAME(SCAN_END_OF_DATA), SAME(SCAN_ERR_LOCKED), SAME(SCAN_ERR_COMMAND),
      SAME(SCAN_ERR_PARAM), SAME(SCAN_ERR_RESOURCE), SAME(SCAN_ERR_OPEN), SAME(SCAN_ERR_NO_DRIVER),
      SAME(SCAN_ERR_STATE), SAME(SCAN_ERR_NOT_OWNER),
      SAME(CMD_OPEN), SAME(CMD_CLOSE), SAME(CMD_GET_DEVICE_INFO), SAME(CMD_GET_SCAN_LIMITS),
      SAME(CMD_GET_PRODUCT_INFO), SAME(CMD_GET_HALFTONE), SAME(CMD_GET_MAP_INFO),
      SAME(CMD_GET_TONE_MAP), SAME(CMD_ADJUST_TONE_MAP), SAME(CMD_CHECK_FRAME), SAME(CMD_LOCK),
      SAME(CMD_SET_PARAMETERS), SAME(CMD_START_SCAN), SAME(CMD_READ_LINES), SAME(CMD_END_SCAN),
      SAME(CMD_UNLOCK), SAME(CMD_SET_PROGRESS_CALLBACK), SAME(CMD_GET_BUFFER_SIZE),
      SAME(CMD_REINITIALIZE), SAME(CMD_CALIBRATE), SAME(CMD_CLEAN), SAME(CMD_GET_MAP_FORMAT),
      SAME(PROGRESS_NOT_READY), SAME(PROGRESS_CHECK_1), SAME(PROGRESS_WAIT), SAME(PROGRESS_CHECK_3),
      SAME(PROGRESS_SCAN_BEGINS), SAME(PROGRESS_SPOOLED),
      SAME(SOURCE_FLATBED), SAME(SOURCE_POSITIVE), SAME(SOURCE_NEGATIVE), SAME(SOURCE_ADF),
      SAME(DATATYPE_LINEART), SAME(DATATYPE_HALFTONE), SAME(DATATYPE_GREY), SAME(DATATYPE_COLOUR),
      SAME(DATATYPE_COLOUR16), SAME(MAP_MODE_ONE), SAME(MAP_MODE_THREE), SAME(MAP_MODE_BUILT_IN),
      SAME(SCANFLAG_IDENTITY_MAPS), SAME(SCANFLAG_BOTTOM_UP), SAME(SCANFLAG_POSITIVE),
      SAME(SCANFLAG_NEGATIVE), SAME(SCANFLAG_MUSIC), SAME(SCANFLAG_ADF), SAME(SCANFLAG_NO_MUSIC),
  };
  for (const Named& entry : table) EXPECT_EQ(entry.inC, entry.inLibrary) << entry.name;
}
#undef SAME

}  // namespace
