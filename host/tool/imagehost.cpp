// imagehost: lists the plug-ins of a folder, describes image files, and
// converts them through the reader and writer plug-ins.
//
// Exit status: 0 success; 1 failure (message on stderr, no output file
// left); 2 usage error; 130 interrupted (OUT left as it was).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/convert.h"
#include "host/interrupt.h"
#include "host/page_names.h"
#include "host/page_selection.h"
#include "host/plugins.h"
#include "host/streams.h"
#include "host/writer_options.h"
#include "tool_extras.h"
#include "winport/windows.h"

namespace {

using imagehost::Status;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr const char* kVersion = "imagehost 0.1.0";

constexpr const char* kUsage =
    "usage: imagehost [options] list\n"
    "       imagehost [options] info FILE...\n"
    "       imagehost [options] convert IN... OUT\n"
    "\n"
    "  list             one line per plug-in: file, reader or writer, version, file types\n"
    "  list --options   each writer's option keys, their values and defaults\n"
    "  info FILE...     the reader that recognises each FILE and the image's properties;\n"
    "                   with several files or pages each line starts with FILE[PAGE]\n"
    "  convert IN... OUT\n"
    "                   read each IN with the reader that recognises it (or as a BMP\n"
    "                   file) and write OUT with the writer for OUT's extension; several\n"
    "                   inputs become the pages of one OUT (writers that append pages:\n"
    "                   TIFF). A %d in OUT (or %03d and the like; %% for a percent sign)\n"
    "                   writes one file per page instead, numbered from 0\n"
    "                   (.tiff and .jpeg as .tif and .jpg; .pnm .ppm .pgm .pbm are\n"
    "                   written by imagehost itself)\n"
    "  FILE, IN or OUT  - is standard input or output (never a terminal: pipe it)\n"
    "\n"
    "options:\n"
    "  --page N         page N (0-based) of a multi-page file (info, convert)\n"
    "  --pages LIST     the pages in LIST, such as 0-2,5 or 3- (to the last page)\n"
    "  --all-pages      every page (convert: into OUT with a writer that appends\n"
    "                   pages, or one file per page with %d in OUT)\n"
    "  --append         add the page(s) to an existing OUT instead of replacing it\n"
    "                   (writers that append pages: TIFF); a missing OUT is created\n"
    "  -O KEY=VALUE     writer option; repeatable (convert). A key the writer does not\n"
    "                   read is a usage error; a value it will not take as written is\n"
    "                   warned about (imagehost list --options shows the keys)\n"
    "  --compress C     TIFF compression: none, packbits, mh (modified Huffman), g3 or\n"
    "                   g4 (CCITT; 1-bit images, others get packbits)\n"
    "  --quality N      JPEG quality 1-100 (default 75)\n"
    "  --rows N         rows per read and write call (convert)\n"
    "  --reader FILE    reader plug-in by file name or path (info, convert)\n"
    "  --writer FILE    writer plug-in by file name or path (convert)\n"
    "  --format EXT     choose the writer by EXT instead of OUT's extension; needed\n"
    "                   with OUT - (convert)\n"
    "  --plugins DIR    plug-in folder (default: the folder of imagehost)\n"
    "  --quiet          no progress bar and no summary\n"
    "  --progress       show progress even when stderr is not a terminal (then as\n"
    "                   one line per 10 %)\n"
    "  --help, --version\n"
    "\n"
    "exit status: 0 success, 1 failure (no OUT is left), 2 usage error,\n"
    "130 interrupted (Ctrl-C: OUT is left as it was)\n";

constexpr const char* kShortUsage =
    "usage: imagehost [options] list | info FILE... | convert IN... OUT  (imagehost --help for "
    "more)\n";

struct Arguments {
  std::string command;
  std::vector<std::string> operands;
  std::optional<uint32_t> page;
  bool allPages = false;
  std::optional<imagehost::PageSelection> pages;  // --pages
  bool append = false;
  bool listOptions = false;
  imagehost::OptionShorthands shorthands;
  bool progress = false;
  imagehost::OptionList options;
  bool anyWriterOption = false;
  uint32_t rows = 0;
  std::string reader;
  std::string writer;
  std::string format;
  std::string plugins;
  bool quiet = false;
  bool help = false;
  bool version = false;
};

struct UsageError {
  std::string message;
};

bool ParseCount(std::string_view text, uint32_t& value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<uint64_t>(c - '0');
  }
  if (number > UINT32_MAX) return false;
  value = static_cast<uint32_t>(number);
  return true;
}

// Splits "--name=value" and fetches the value of an option that takes one.
class ArgumentReader {
 public:
  ArgumentReader(int argc, char** argv) : args_(argv + 1, argv + argc) {}
  bool done() const { return next_ >= args_.size(); }
  std::string take() { return args_[next_++]; }
  std::string value(const std::string& option, std::optional<std::string>& inlineValue) {
    if (inlineValue) return *std::exchange(inlineValue, std::nullopt);
    if (done()) throw UsageError{option + " needs a value"};
    return take();
  }

 private:
  std::vector<std::string> args_;
  size_t next_ = 0;
};

uint32_t CountValue(const std::string& option, const std::string& text, bool allowZero) {
  uint32_t value = 0;
  if (!ParseCount(text, value) || (!allowZero && value == 0))
    throw UsageError{option + " needs a " + (allowZero ? "" : "positive ") + "number, not '" +
                     text + "'"};
  return value;
}

// Handles one option; false when `arg` is not an option this tool knows.
bool ParseOption(const std::string& arg, ArgumentReader& in, Arguments& out) {
  std::string name = arg;
  std::optional<std::string> inlineValue;
  if (size_t equals = arg.find('='); arg.rfind("--", 0) == 0 && equals != std::string::npos) {
    name = arg.substr(0, equals);
    inlineValue = arg.substr(equals + 1);
  }
  if (arg.rfind("-O", 0) == 0 && arg.size() > 2) {
    name = "-O";
    inlineValue = arg.substr(2);
  }
  const std::pair<const char*, bool Arguments::*> kFlags[] = {
      {"--help", &Arguments::help},       {"-h", &Arguments::help},
      {"--version", &Arguments::version}, {"--quiet", &Arguments::quiet},
      {"-q", &Arguments::quiet},          {"--all-pages", &Arguments::allPages},
      {"--append", &Arguments::append},   {"--options", &Arguments::listOptions},
      {"--progress", &Arguments::progress},
  };
  for (const auto& [flag, member] : kFlags) {
    if (name != flag) continue;
    if (inlineValue) throw UsageError{name + " takes no value"};
    out.*member = true;
    return true;
  }
  if (name == "--page") {
    out.page = CountValue(name, in.value(name, inlineValue), true);
  } else if (name == "--pages") {
    imagehost::PageSelection pages;
    if (Status parsed = imagehost::PageSelection::Parse(in.value(name, inlineValue), pages);
        !parsed)
      throw UsageError{parsed.message()};
    out.pages = pages;
  } else if (name == "--compress") {
    out.shorthands.compress = in.value(name, inlineValue);
    if (Status valid = imagehost::CheckCompressShorthand(out.shorthands.compress); !valid)
      throw UsageError{valid.message()};
  } else if (name == "--quality") {
    out.shorthands.quality = in.value(name, inlineValue);
    if (Status valid = imagehost::CheckQualityShorthand(out.shorthands.quality); !valid)
      throw UsageError{valid.message()};
  } else if (name == "--rows") {
    out.rows = CountValue(name, in.value(name, inlineValue), false);
  } else if (name == "--reader") {
    out.reader = in.value(name, inlineValue);
  } else if (name == "--writer") {
    out.writer = in.value(name, inlineValue);
  } else if (name == "--format") {
    out.format = in.value(name, inlineValue);
  } else if (name == "--plugins") {
    out.plugins = in.value(name, inlineValue);
  } else if (name == "-O") {
    Status added = out.options.add(in.value(name, inlineValue));
    if (!added) throw UsageError{added.message()};
    out.anyWriterOption = true;
  } else {
    return false;
  }
  return true;
}

void CheckApplicable(const Arguments& a) {
  const bool convert = a.command == "convert";
  const bool info = a.command == "info";
  auto refuse = [&](bool given, const char* option) {
    if (given) throw UsageError{std::string(option) + " does not apply to " + a.command};
  };
  refuse(!convert && !info && a.allPages, "--all-pages");
  refuse(!convert && a.append, "--append");
  refuse(!convert && a.anyWriterOption, "-O");
  refuse(!convert && !a.shorthands.compress.empty(), "--compress");
  refuse(!convert && !a.shorthands.quality.empty(), "--quality");
  refuse(!convert && a.progress, "--progress");
  refuse(a.command != "list" && a.listOptions, "--options");
  refuse(!convert && a.rows != 0, "--rows");
  refuse(!convert && !a.writer.empty(), "--writer");
  refuse(!convert && !a.format.empty(), "--format");
  refuse(!convert && !info && a.page.has_value(), "--page");
  refuse(!convert && !info && a.pages.has_value(), "--pages");
  refuse(!convert && !info && !a.reader.empty(), "--reader");
  if (int{a.allPages} + int{a.page.has_value()} + int{a.pages.has_value()} > 1)
    throw UsageError{"--page, --pages and --all-pages exclude each other"};
  if (convert && a.operands.size() < 2) throw UsageError{"convert takes IN... OUT"};
  if (info && a.operands.empty()) throw UsageError{"info takes FILE..."};
  if (!convert && !info && !a.operands.empty()) throw UsageError{a.command + " takes no files"};
}

// The pages --page, --pages or --all-pages chose; none: the first page.
std::optional<imagehost::PageSelection> Selection(const Arguments& a) {
  if (a.pages) return a.pages;
  if (a.allPages) return imagehost::PageSelection::All();
  if (a.page) return imagehost::PageSelection::One(*a.page);
  return std::nullopt;
}

Arguments Parse(int argc, char** argv) {
  Arguments out;
  ArgumentReader in(argc, argv);
  bool optionsEnded = false;
  while (!in.done()) {
    std::string arg = in.take();
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      if (!ParseOption(arg, in, out)) throw UsageError{"unknown option " + arg};
    } else if (out.command.empty()) {
      out.command = arg;
    } else {
      out.operands.push_back(arg);
    }
  }
  if (out.help || out.version) return out;
  if (out.command.empty()) throw UsageError{"no command given"};
  if (out.command != "list" && out.command != "info" && out.command != "convert")
    throw UsageError{"unknown command '" + out.command + "'"};
  CheckApplicable(out);
  return out;
}

// The folder of the running program, where the plug-ins are looked for by default.
std::string ProgramFolder() {
  char path[4096] = {};
  DWORD length = GetModuleFileNameA(0, path, sizeof path);
  std::string text(path, length < sizeof path ? length : 0);
  size_t slash = text.find_last_of("/\\");
  return slash == std::string::npos ? "." : text.substr(0, slash);
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "imagehost: %s\n", message.c_str());
  return kExitFailure;
}

int RunList(const imagehost::PluginSet& plugins) {
  struct Line {
    std::string file, kind, version, description;
  };
  std::vector<Line> lines;
  for (const auto& r : plugins.readers())
    lines.push_back({r->fileName(), "reader", r->version(), r->description()});
  for (const auto& w : plugins.writers())
    lines.push_back({w->fileName(), "writer", w->version(), w->description()});
  std::sort(lines.begin(), lines.end(),
            [](const Line& a, const Line& b) { return a.file < b.file; });
  for (const Line& l : lines)
    std::printf("%s\t%s\t%s\t%s\n", l.file.c_str(), l.kind.c_str(), l.version.c_str(),
                l.description.c_str());
  if (lines.empty())
    std::fprintf(stderr, "imagehost: no plug-ins in %s\n", plugins.folder().c_str());
  return kExitOk;
}

int RunInfo(imagehost::PluginSet& plugins, const Arguments& a) {
  return imagehost::tool::DescribeFiles(plugins, a.operands, a.reader, Selection(a));
}

// Several pages or inputs need a writer that appends pages or %d in OUT: a
// usage error found before any file is touched.
void CheckOutputPages(const imagehost::WriterPlugin& writer,
                      const imagehost::ConvertRequest& request) {
  if (std::string problem = imagehost::CheckPageNameTemplate(request.output); !problem.empty())
    throw UsageError{problem};
  const bool pageFiles = imagehost::HasPageNumber(request.output);
  if (pageFiles && request.append)
    throw UsageError{"--append adds to one file; " + request.output + " names one file per page"};
  if (request.inputs.size() > 1 && !pageFiles && !writer.appendsPages())
    throw UsageError{writer.fileName() + " writes one page per file: several inputs need %d in " +
                     request.output + " or a writer that adds pages (.tif)"};
}

// What became of OUT when the conversion was interrupted.
std::string InterruptedText(const std::string& output, bool existed, bool again) {
  return std::string("imagehost: interrupted") + (again ? " again, stopped at once" : "") + "; " +
         output + (existed ? " was left as it was" : " was not written") + "\n";
}

int RunConvert(imagehost::PluginSet& plugins, const Arguments& a) {
  imagehost::ConvertRequest request;
  request.inputs.assign(a.operands.begin(), a.operands.end() - 1);
  request.input = request.inputs.front();
  request.output = a.operands.back();
  request.pages = Selection(a);
  request.append = a.append;
  request.options = a.options;
  request.blockRows = a.rows;
  request.reader = a.reader;
  request.writer = a.writer;
  request.format = a.format;
  // A writer without an append path refuses --append before any file is touched.
  const imagehost::WriterPlugin* writer = nullptr;
  if (Status chosen = imagehost::ChooseWriter(plugins, request, writer); !chosen)
    return Fail(chosen.message());
  if (a.append && !writer->appendsPages())
    throw UsageError{imagehost::CannotAppend(*writer, request.output)};
  CheckOutputPages(*writer, request);
  if (Status prepared = imagehost::tool::PrepareWriterOptions(*writer, a.shorthands,
                                                              request.options);
      !prepared)
    throw UsageError{prepared.message()};

  using Style = imagehost::tool::ProgressDisplay::Style;
  DWORD consoleMode = 0;
  const bool terminal = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &consoleMode) != 0;
  imagehost::tool::ProgressDisplay bar(a.quiet && !a.progress ? Style::kNone
                                       : terminal             ? Style::kBar
                                       : a.progress           ? Style::kLog
                                                              : Style::kNone);
  request.progress = bar.sink();
  const bool existed = GetFileAttributesA(request.output.c_str()) != INVALID_FILE_ATTRIBUTES;
  imagehost::SetAbortMessage((bar.drawsBar() ? "\r\033[K" : "") +
                             InterruptedText(request.output, existed, true));
  imagehost::ConvertReport report;
  Status converted = imagehost::Convert(plugins, request, report);
  bar.clear();
  // A signal may also surface as another failure (a cancelled plug-in call).
  if (!converted && imagehost::Interrupted()) {
    std::fputs(InterruptedText(request.output, existed, false).c_str(), stderr);
    return imagehost::kExitInterrupted;
  }
  if (!converted) return Fail(converted.message());
  bar.finish();
  if (!a.quiet) {
    const imagehost::ImageFacts& f = report.firstPage;
    const std::string written = report.filesWritten.empty()
                                    ? request.output
                                    : report.filesWritten.front() +
                                          (report.filesWritten.size() > 1
                                               ? " ... " + report.filesWritten.back()
                                               : "");
    // With the image on standard output the summary goes to stderr.
    std::fprintf(imagehost::IsStandardStream(request.output) ? stderr : stdout,
                 "%s: %u x %u, %u-bit, %u page%s%s (%s -> %s)\n", written.c_str(), f.width,
                f.height, f.bits, report.pagesWritten, report.pagesWritten == 1 ? "" : "s",
                a.append ? " added" : "", report.reader.c_str(), report.writer.c_str());
  }
  return kExitOk;
}

int Run(const Arguments& a) {
  // The plug-ins stay loaded until the process ends, as a program that exits
  // without freeing its libraries leaves them: the system then detaches and
  // unmaps them all at once, where unloading each one by one costs more than a
  // small conversion.
  static imagehost::PluginSet& plugins = *new imagehost::PluginSet;
  Status loaded = plugins.load(a.plugins.empty() ? ProgramFolder() : a.plugins);
  if (!loaded) return Fail(loaded.message());
  if (a.command == "list") {
    for (const std::string& problem : plugins.problems())
      std::fprintf(stderr, "imagehost: skipped %s\n", problem.c_str());
    if (a.listOptions) {
      imagehost::tool::PrintWriterOptions(plugins);
      return kExitOk;
    }
    return RunList(plugins);
  }
  if (a.command == "info") return RunInfo(plugins, a);
  imagehost::InstallInterruptHandlers();
  return RunConvert(plugins, a);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Arguments arguments = Parse(argc, argv);
    if (arguments.help) {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (arguments.version) {
      std::puts(kVersion);
      return kExitOk;
    }
    return Run(arguments);
  } catch (const UsageError& error) {
    std::fprintf(stderr, "imagehost: %s\n%s", error.message.c_str(), kShortUsage);
    return kExitUsage;
  } catch (const std::exception& error) {
    return Fail(error.what());
  }
}
