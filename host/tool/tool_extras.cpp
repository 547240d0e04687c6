#include "tool_extras.h"

#include <algorithm>
#include <cstdio>

namespace imagehost::tool {

ProgressSink ProgressDisplay::sink() {
  ProgressSink sink;
  sink.context = this;
  sink.stop = [](void*) { return Interrupted(); };
  if (style_ != Style::kNone) sink.report = &ProgressDisplay::OnReport;
  return sink;
}

void ProgressDisplay::clear() {
  if (style_ == Style::kBar && shown_ >= 0) std::fputs("\r\033[K", stderr);
  if (style_ == Style::kBar) shown_ = -1;
}

void ProgressDisplay::OnReport(void* context, ProgressPhase phase, uint32_t percent) {
  static_cast<ProgressDisplay*>(context)->update(phase, percent);
}

// The mean of reading and writing progress (the reader is never behind the
// writer, which also covers readers that do not report).
void ProgressDisplay::update(ProgressPhase phase, uint32_t percent) {
  (phase == ProgressPhase::kRead ? read_ : write_) = percent;
  const int overall = static_cast<int>((std::max(read_, write_) + write_) / 2);
  if (style_ == Style::kLog) {
    // Each 10 % step once; a new page starting at 0 begins the steps again.
    const int step = overall / 10 * 10;
    if (step < shown_) shown_ = -1;
    if (step <= shown_) return;
    shown_ = step;
    std::fprintf(stderr, "imagehost: %d%%\n", step);
    std::fflush(stderr);
    return;
  }
  if (overall == shown_) return;
  shown_ = overall;
  constexpr int kWidth = 40;
  const int filled = overall * kWidth / 100;
  std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################",
               kWidth - filled, "", overall);
  std::fflush(stderr);
}

void PrintWriterOptions(const PluginSet& plugins) {
  std::vector<const WriterPlugin*> writers;
  for (const WriterPlugin* writer : plugins.writers()) writers.push_back(writer);
  for (const auto& writer : plugins.builtInWriters()) writers.push_back(writer.get());
  for (const WriterPlugin* writer : writers) {
    const WriterOptionTable* table = FindWriterOptions(writer->defaultExtension());
    std::printf("%s\t%s\n", writer->fileName().c_str(), writer->description().c_str());
    if (table == nullptr) {
      std::printf("  options not known to imagehost: -O keys are passed on unchecked\n");
      continue;
    }
    if (table->keys.empty()) std::printf("  no options\n");
    for (const WriterOptionKey& key : table->keys)
      std::printf("  %-18s %s (default: %s): %s\n", key.key, key.values, key.whenAbsent,
                  key.meaning);
  }
}

Status PrepareWriterOptions(const WriterPlugin& writer, const OptionShorthands& shorthands,
                            OptionList& options) {
  if (Status expanded = ExpandShorthands(writer, shorthands, options); !expanded) return expanded;
  std::vector<std::string> warnings;
  if (Status checked = CheckWriterOptions(writer, options, warnings); !checked) return checked;
  for (const std::string& warning : warnings)
    std::fprintf(stderr, "imagehost: warning: %s\n", warning.c_str());
  return {};
}

namespace {

void PrintFacts(const std::string& prefix, const ImageFacts& f) {
  std::printf("%s%s width=%u height=%u bits=%u pages=%u xppm=%d yppm=%d colors=%u\n",
              prefix.c_str(), f.reader.c_str(), f.width, f.height, f.bits, f.pages,
              f.xPixelsPerMetre, f.yPixelsPerMetre, f.colors);
}

// Describes the selected pages of one file; false (message printed) on failure.
bool DescribeFile(PluginSet& plugins, const std::string& file, const std::string& reader,
                  const std::optional<PageSelection>& pages, bool prefixed) {
  ImageFacts first;
  const uint32_t firstPage = 0;
  Status described = Describe(plugins, file, reader, firstPage, first);
  std::vector<uint32_t> wanted;
  if (described) described = pages.value_or(PageSelection()).resolve(first.pages, file, wanted);
  if (!described) {
    std::fprintf(stderr, "imagehost: %s\n", described.message().c_str());
    return false;
  }
  for (uint32_t page : wanted) {
    ImageFacts facts = first;
    if (page != firstPage) {
      if (Status again = Describe(plugins, file, reader, page, facts); !again) {
        std::fprintf(stderr, "imagehost: %s\n", again.message().c_str());
        return false;
      }
    }
    PrintFacts(prefixed ? file + "[" + std::to_string(page) + "] " : "", facts);
  }
  return true;
}

}  // namespace

int DescribeFiles(PluginSet& plugins, const std::vector<std::string>& files,
                  const std::string& reader, const std::optional<PageSelection>& pages) {
  const bool prefixed = files.size() > 1 || (pages && pages->many());
  bool allGood = true;
  for (const std::string& file : files) {
    allGood = DescribeFile(plugins, file, reader, pages, prefixed) && allGood;
    std::fflush(stdout);
  }
  return allGood ? 0 : 1;
}

}  // namespace imagehost::tool
