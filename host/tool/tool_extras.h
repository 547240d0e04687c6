// Parts of the imagehost tool kept apart from its command line: the progress
// display, the writer options' listing and checks, and info on many files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/convert.h"
#include "host/interrupt.h"
#include "host/page_selection.h"
#include "host/plugins.h"
#include "host/writer_options.h"

namespace imagehost::tool {

// Progress on stderr: a one-line bar on a terminal, or (kLog, --progress
// with stderr not a terminal) one line per 10 %, so that a log shows it.
class ProgressDisplay {
 public:
  enum class Style { kNone, kBar, kLog };
  explicit ProgressDisplay(Style style) : style_(style) {}
  ~ProgressDisplay() { clear(); }
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  bool drawsBar() const { return style_ == Style::kBar; }
  // Shows progress when enabled; stops the conversion on Ctrl-C in any case.
  ProgressSink sink();
  // Takes the bar off the line (a log needs nothing).
  void clear();
  // After a conversion that succeeded: a log ends with its 100 % line.
  void finish() {
    if (style_ == Style::kLog) update(ProgressPhase::kWrite, 100);
  }

 private:
  static void OnReport(void* context, ProgressPhase phase, uint32_t percent);
  void update(ProgressPhase phase, uint32_t percent);

  Style style_;
  uint32_t read_ = 0;
  uint32_t write_ = 0;
  int shown_ = -1;
};

// `imagehost list --options`: each writer of the folder with its keys.
void PrintWriterOptions(const PluginSet& plugins);

// Expands the shorthands into `options` and checks them against `writer`'s
// keys; a failure is a usage error. The values the writer will not take as
// written are printed as warnings on stderr.
Status PrepareWriterOptions(const WriterPlugin& writer, const OptionShorthands& shorthands,
                            OptionList& options);

// `imagehost info FILE...`: one line per file, or per selected page (then
// prefixed "FILE[N] "); a file that cannot be read is reported and the
// others still described. Returns the exit status (1 when any failed).
int DescribeFiles(PluginSet& plugins, const std::vector<std::string>& files,
                  const std::string& reader, const std::optional<PageSelection>& pages);

}  // namespace imagehost::tool
