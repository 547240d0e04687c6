// Names for the parts of a fault rule, beside their numbers:
// "read:3:io-error" is "16:3:-36".
#pragma once

#include <cstdint>
#include <string>

namespace virtscan {

// The driver operation named `name` ("read", "start", ...), or a decimal number.
bool operationByName(const std::string& name, uint16_t& operation);
// The status named `name` ("io-error", "feeder-empty", ...), or a decimal number.
bool statusByName(const std::string& name, int16_t& status);
// Every name, "name=number" comma-separated, for messages.
std::string faultNameList();

}  // namespace virtscan
