#include "host/convert.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "guard.h"
#include "host/output.h"
#include "host/source.h"
#include "host/streams.h"
#include "host/writer.h"

namespace imagehost {

namespace {

ImageFacts FactsOf(const RowSource& source) {
  const DibImage& image = source.image();
  ImageFacts facts;
  facts.reader = source.name();
  facts.width = image.width();
  facts.height = image.height();
  facts.bits = image.bits();
  facts.pages = source.pages();
  facts.xPixelsPerMetre = image.header().biXPelsPerMeter;
  facts.yPixelsPerMetre = image.header().biYPelsPerMeter;
  facts.colors = image.colors();
  return facts;
}

Status Stopped() { return Status::failure("the conversion was stopped"); }

// Opens `path`, or with "-" standard input copied into `spooled`.
Status OpenInput(PluginSet& plugins, const std::string& path, const std::string& readerName,
                 const ProgressSink& progress, std::unique_ptr<RowSource>& source,
                 StandardInput& spooled) {
  if (IsStandardStream(path)) {
    if (Status copied = spooled.spool(); !copied) return copied;
  }
  SourceOptions options;
  options.progress = progress;
  if (!readerName.empty()) {
    if (Status found = plugins.findReader(readerName, options.reader); !found) return found;
  }
  if (!IsStandardStream(path)) return OpenSource(plugins, path, options, source);
  Status opened = OpenSource(plugins, spooled.path(), options, source);
  if (opened) return opened;
  // Messages name what the user gave, not the private copy.
  std::string message = opened.message();
  for (size_t at = message.find(spooled.path()); at != std::string::npos;
       at = message.find(spooled.path(), at))
    message.replace(at, spooled.path().size(), "standard input");
  return Status::failure(message);
}

// Streams the current page of `source` through one export, in blocks.
Status WritePage(RowSource& source, const WriterPlugin& writer, const OutputFile& output,
                 const ConvertRequest& request) {
  const DibImage& image = source.image();
  WriterSetup setup;
  setup.writer = &writer;
  setup.fileDesignation = output.workPath();
  setup.outputName = request.output;
  setup.format = OutputExtension(request.output, request.format);
  setup.options = request.options;
  setup.callerTopDownOnly = !source.randomAccess();
  setup.blockRows = request.blockRows;
  setup.progress = request.progress;
  ImageWriter export_;
  if (Status begun = export_.begin(setup, image); !begun) return begun;

  const uint32_t height = image.height();
  const uint32_t blockRows = BlockRows(request.blockRows, image.stride(), height);
  std::vector<uint8_t> buffer(uint64_t{blockRows} * image.stride());
  const bool bottomFirst = export_.order() == RowOrder::kBottomFirst;
  for (uint32_t done = 0; done < height;) {
    if (request.progress.stopRequested()) return Stopped();
    const uint32_t rows = std::min(blockRows, height - done);
    const uint32_t top = bottomFirst ? height - done - rows : done;
    std::span<uint8_t> block(buffer.data(), uint64_t{rows} * image.stride());
    if (Status read = source.readRows(top, rows, block); !read) return read;
    if (Status wrote = export_.write(rows, block); !wrote) return wrote;
    done += rows;
  }
  return export_.finish();
}

Status RunConvert(PluginSet& plugins, const ConvertRequest& request, ConvertReport& report) {
  const WriterPlugin* writer = nullptr;
  if (Status chosen = ChooseWriter(plugins, request, writer); !chosen) return chosen;
  if (request.append && !writer->appendsPages())
    return Status::failure(CannotAppend(*writer, request.output));
  StandardInput spooled;
  std::unique_ptr<RowSource> source;
  if (Status opened =
          OpenInput(plugins, request.input, request.reader, request.progress, source, spooled);
      !opened)
    return opened;

  const uint32_t firstPage = request.allPages ? 0 : request.page;
  const uint32_t lastPage = request.allPages ? source->pages() - 1 : request.page;
  if (lastPage > firstPage && !writer->appendsPages())
    return Status::failure(request.input + " has " + std::to_string(source->pages()) +
                           " pages, and " + writer->fileName() + " writes one page per file");
  if (firstPage != 0) {
    if (Status selected = source->selectPage(firstPage); !selected) return selected;
  }

  // Only `append` hands the writer the existing file (its copy); otherwise the
  // writer starts a new one, and every page after the first is appended to it.
  OutputFile output;
  if (Status prepared = output.prepare(request.output, request.append); !prepared) return prepared;
  report.reader = source->name();
  report.writer = writer->fileName();
  report.firstPage = FactsOf(*source);
  for (uint32_t page = firstPage; page <= lastPage; ++page) {
    if (page != firstPage) {
      if (Status selected = source->selectPage(page); !selected) return selected;
    }
    if (Status written = WritePage(*source, *writer, output, request); !written) return written;
    ++report.pagesWritten;
  }
  if (request.progress.stopRequested()) return Stopped();  // the last chance before the rename
  return output.commit();
}

}  // namespace

Status ChooseWriter(PluginSet& plugins, const ConvertRequest& request,
                    const WriterPlugin*& writer) {
  return Guarded([&]() -> Status {
    if (!request.writer.empty()) return plugins.findWriter(request.writer, writer);
    const std::string extension = OutputExtension(request.output, request.format);
    writer = plugins.writerForExtension(extension);
    if (writer != nullptr) return {};
    if (extension.empty())
      return Status::failure(IsStandardStream(request.output)
                                 ? "standard output (-) needs --format EXT to choose a writer"
                                 : request.output + ": no extension to choose a writer by");
    return Status::failure((request.format.empty() ? request.output : "--format " + extension) +
                           ": no writer takes ." + extension + " files");
  });
}

std::string OutputExtension(const std::string& output, const std::string& format) {
  if (!format.empty()) return format.front() == '.' ? format.substr(1) : format;
  return IsStandardStream(output) ? std::string() : FileExtension(output);
}

std::string CannotAppend(const WriterPlugin& writer, const std::string& output) {
  return "--append: " + writer.fileName() + " writes one page per file and cannot add one to " +
         output;
}

Status Describe(PluginSet& plugins, const std::string& path, const std::string& reader,
                uint32_t page, ImageFacts& facts) {
  return Guarded([&]() -> Status {
    StandardInput spooled;
    std::unique_ptr<RowSource> source;
    if (Status opened = OpenInput(plugins, path, reader, ProgressSink{}, source, spooled); !opened)
      return opened;
    if (page != 0) {
      if (Status selected = source->selectPage(page); !selected) return selected;
    }
    facts = FactsOf(*source);
    return {};
  });
}

Status Convert(PluginSet& plugins, const ConvertRequest& request, ConvertReport& report) {
  return Guarded([&] { return RunConvert(plugins, request, report); });
}

}  // namespace imagehost
