// Whole operations of the imagehost tool: describe an image, convert a file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/api.h"
#include "host/dib.h"
#include "host/options.h"
#include "host/page_selection.h"
#include "host/plugins.h"
#include "host/progress.h"
#include "host/status.h"

namespace imagehost {

struct ImageFacts {
  std::string reader;  // the reader's file name, or "native-bmp"
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bits = 0;
  uint32_t pages = 0;
  int32_t xPixelsPerMetre = 0;
  int32_t yPixelsPerMetre = 0;
  uint32_t colors = 0;  // colour table entries in use; 0 for 24 bits
};

// Opens `path` (with `reader` when not empty: a file name in the plug-in
// folder or a path) and describes page `page`.
HOST_API Status Describe(PluginSet& plugins, const std::string& path, const std::string& reader,
                         uint32_t page, ImageFacts& facts);

struct ConvertRequest {
  std::string input;
  // Several inputs, merged in this order (when not empty, `input` is unused).
  std::vector<std::string> inputs;
  // OUT, or with "%d" (or "%0Nd") a pattern: one file per page written, the
  // number counting the files from 0.
  std::string output;
  uint32_t page = 0;
  bool allPages = false;  // every page; each after the first appended (writers that append)
  // The pages of each input; when set, `page` and `allPages` are unused.
  std::optional<PageSelection> pages;
  // Add the pages to an existing output instead of replacing it (writers
  // that append only); a missing output is created.
  bool append = false;
  OptionList options;
  uint32_t blockRows = 0;  // rows per read and write call; 0: blocks of about 1 MiB
  std::string reader;      // empty: chosen from the file's first bytes
  std::string writer;      // empty: chosen by the output's extension
  ProgressSink progress;
};

struct ConvertReport {
  std::string reader;
  std::string writer;
  uint32_t pagesWritten = 0;
  ImageFacts firstPage;
  std::vector<std::string> filesWritten;  // the page files, when OUT holds "%d"
};

// Reads the input(s) and writes `output` through its temporary name, renamed
// into place only when every page was written without error and no stop was
// asked for (request.progress). Page files ("%d") are each renamed into place
// once written, so those finished before a failure stay. With `append` the
// temporary file starts as a copy of the existing output; a writer that
// cannot append is refused first.
HOST_API Status Convert(PluginSet& plugins, const ConvertRequest& request, ConvertReport& report);

// The writer a conversion uses: request.writer when given, else the one for
// the output's extension.
HOST_API Status ChooseWriter(PluginSet& plugins, const ConvertRequest& request,
                             const WriterPlugin*& writer);
// The refusal of `append` by a writer that cannot add pages.
HOST_API std::string CannotAppend(const WriterPlugin& writer, const std::string& output);

}  // namespace imagehost
