// What a scanner status means.
#pragma once

#include <cstdint>
#include <string>

namespace scanclient {

// The feeder-empty status of the scanner driver: CMD_START_SCAN passes it
// through when the document feeder holds no more pages.
inline constexpr int16_t kDriverFeederEmpty = -30;

// The meaning of `status` (a ScanStatus or a driver status), in words for the
// user, without the number.
std::string StatusText(int16_t status);

}  // namespace scanclient
