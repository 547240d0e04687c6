// The options of scanapp's output and batches: writer options (-O, --compress,
// --quality), -A, and the batch counts, beside the scan options of arguments.cpp.
#include <string>

#include "arguments.h"
#include "host/writer_options.h"

namespace scanapp {

namespace {

uint32_t Count(const std::string& option, const std::string& text, uint32_t low) {
  bool valid = !text.empty() && text.size() <= 9;
  for (char c : text) valid = valid && c >= '0' && c <= '9';
  const uint32_t value = valid ? static_cast<uint32_t>(std::stoul(text)) : 0;
  if (!valid || value < low)
    throw UsageError{option + " needs a whole number from " + std::to_string(low) + ", not '" +
                     text + "'"};
  return value;
}

}  // namespace

bool ParseOutputOption(const std::string& name, const std::function<std::string()>& value,
                       Arguments& out) {
  if (name == "-A" || name == "--all-options" || name == "--options") {
    out.listOptions = true;
  } else if (name == "--batch-prompt") {
    out.batchPrompt = out.batch = true;
  } else if (name == "--batch-count") {
    out.batchCount = Count(name, value(), 1);
    out.batch = true;
  } else if (name == "--batch-start") {
    out.batchStart = Count(name, value(), 0);
    out.batch = true;
  } else if (name == "-O") {
    if (imagehost::Status added = out.writerOptions.add(value()); !added)
      throw UsageError{added.message()};
  } else if (name == "--compress") {
    out.shorthands.compress = value();
    if (imagehost::Status valid = imagehost::CheckCompressShorthand(out.shorthands.compress);
        !valid)
      throw UsageError{valid.message()};
  } else if (name == "--quality") {
    out.shorthands.quality = value();
    if (imagehost::Status valid = imagehost::CheckQualityShorthand(out.shorthands.quality); !valid)
      throw UsageError{valid.message()};
  } else {
    return false;
  }
  return true;
}

void CheckOutputOptions(const Arguments& a) {
  if (a.listOptions && a.command != "info")
    throw UsageError{"-A (--options) lists what the scanner can do: scanapp -A, or info --options"};
}

}  // namespace scanapp
