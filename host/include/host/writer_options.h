// What each writer does with its option keys: a table the tools print
// (imagehost list --options) and check a command line against before any
// file is touched. The writers read the options themselves; this table only
// knows what they will make of a value, so that a value they will not take
// as written is reported (a warning) instead of silently changed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/api.h"
#include "host/options.h"
#include "host/plugins.h"
#include "host/status.h"

namespace imagehost {

// How a writer takes the value of one key: the empty optional when it takes
// `value` as written, else what it will do instead ("quality 100").
using OptionValueCheck = std::optional<std::string> (*)(const std::string& value);

struct WriterOptionKey {
  const char* key;
  const char* values;      // the values it takes, for the listing
  const char* whenAbsent;  // what the writer does without the key
  const char* meaning;
  OptionValueCheck check;  // null: any value is taken as written
};

struct WriterOptionTable {
  const char* extension;  // the writer's default extension ("TIF")
  const char* writer;     // the writer as the user knows it ("TIFF writer")
  std::vector<WriterOptionKey> keys;
};

// The table of the writer whose default extension is `extension`; null when
// the host knows nothing about it (a writer from elsewhere: its options are
// passed on unchecked).
HOST_API const WriterOptionTable* FindWriterOptions(const std::string& extension);
// Every table, in the order the listing shows them.
HOST_API const std::vector<WriterOptionTable>& AllWriterOptions();

// Checks `options` against the table of `writer`: a key the writer does not
// read fails (a usage error for the tools); each value the writer will not
// take as written adds "KEY=VALUE: what the writer does instead" to `warnings`.
HOST_API Status CheckWriterOptions(const WriterPlugin& writer, const OptionList& options,
                                   std::vector<std::string>& warnings);

// The shorthands of the tools, in the writers' own keys.
struct OptionShorthands {
  std::string compress;  // "" or none, packbits, mh, g3, g4 (TIFF)
  std::string quality;   // "" or 1..100 (JPEG)
};
// Checks a shorthand's value as given (fails on one outside its list).
HOST_API Status CheckCompressShorthand(const std::string& value);
HOST_API Status CheckQualityShorthand(const std::string& value);
// Adds the keys the shorthands stand for to `options`; fails when a
// shorthand does not apply to `writer`.
HOST_API Status ExpandShorthands(const WriterPlugin& writer, const OptionShorthands& shorthands,
                                 OptionList& options);

}  // namespace imagehost
