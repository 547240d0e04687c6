// Writer options: KEY=VALUE pairs that become the lines of an OptionBlock.
//
// An OptionBlock is a movable global memory block: "THK", nine zero bytes,
// then from byte 12 one line per option, "KEY = value" ended by a carriage
// return, and a closing NUL. Writers look keys up with the exported
// OvgXOptBlkGet or, the BMP writer, by searching the text themselves.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/api.h"
#include "host/status.h"
#include "winport/types.h"

namespace imagehost {

class HOST_API OptionList {
 public:
  // Adds "KEY=VALUE" as given on a command line. The key is upper-cased and
  // must be letters, digits and '_'; the value may not hold a carriage
  // return, line feed or NUL. A key given twice keeps its last value.
  Status add(std::string_view keyValue);
  // Sets an option whose key is already in capitals.
  void set(const std::string& key, const std::string& value);
  bool has(std::string_view key) const;
  const std::vector<std::pair<std::string, std::string>>& entries() const { return entries_; }

  // A new OptionBlock holding the options (0 when it cannot be allocated). The
  // caller frees it with GlobalFree once the export has ended.
  HGLOBAL buildBlock() const;

 private:
  std::vector<std::pair<std::string, std::string>> entries_;
};

}  // namespace imagehost

// The host's option lookup, exported by name (ordinal 1) for writers that find
// it with GetProcAddress on the host's module. Copies the value of `key` into
// `value` (at most kOptionValueSize − 1 characters and a NUL) and returns 0
// when the block holds the key; any other value when it does not, when the
// block is not an OptionBlock, or when an argument is null.
WINPORT_EXPORT int32_t WINAPI OvgXOptBlkGet(HGLOBAL optionBlock, const char* key, char* value);
