#include "host/convert.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "guard.h"
#include "host/output.h"
#include "host/page_names.h"
#include "host/source.h"
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

Status OpenInput(PluginSet& plugins, const std::string& path, const std::string& readerName,
                 const ProgressSink& progress, std::unique_ptr<RowSource>& source) {
  SourceOptions options;
  options.progress = progress;
  if (!readerName.empty()) {
    if (Status found = plugins.findReader(readerName, options.reader); !found) return found;
  }
  return OpenSource(plugins, path, options, source);
}

// Streams the current page of `source` through one export, in blocks.
Status WritePage(RowSource& source, const WriterPlugin& writer, const OutputFile& output,
                 const ConvertRequest& request) {
  const DibImage& image = source.image();
  WriterSetup setup;
  setup.writer = &writer;
  setup.fileDesignation = output.workPath();
  setup.outputName = output.path();
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

PageSelection SelectionOf(const ConvertRequest& request) {
  if (request.pages) return *request.pages;
  return request.allPages ? PageSelection::All() : PageSelection::One(request.page);
}

// One conversion: every selected page of every input, into one output (its
// pages appended after the first) or, with a page-number pattern, each into
// its own file.
class Conversion {
 public:
  Conversion(PluginSet& plugins, const ConvertRequest& request, ConvertReport& report)
      : plugins_(plugins), request_(request), report_(report) {}
  Status run();

 private:
  Status convertInput(const std::string& input, bool first);
  Status writeToOwnFile(RowSource& source);

  PluginSet& plugins_;
  const ConvertRequest& request_;
  ConvertReport& report_;
  const WriterPlugin* writer_ = nullptr;
  bool pageFiles_ = false;
  OutputFile shared_;
};

Status Conversion::run() {
  if (Status chosen = ChooseWriter(plugins_, request_, writer_); !chosen) return chosen;
  if (request_.append && !writer_->appendsPages())
    return Status::failure(CannotAppend(*writer_, request_.output));
  if (std::string problem = CheckPageNameTemplate(request_.output); !problem.empty())
    return Status::failure(problem);
  pageFiles_ = HasPageNumber(request_.output);
  if (pageFiles_ && request_.append)
    return Status::failure("--append adds to one file; " + request_.output +
                           " names one file per page");
  const std::vector<std::string> inputs =
      request_.inputs.empty() ? std::vector<std::string>{request_.input} : request_.inputs;
  if (inputs.size() > 1 && !pageFiles_ && !writer_->appendsPages())
    return Status::failure(writer_->fileName() + " writes one page per file: " +
                           std::to_string(inputs.size()) + " inputs need %d in " +
                           request_.output + " or a writer that adds pages (.tif)");
  // Only `append` hands the writer the existing file (its copy); otherwise the
  // writer starts a new one, and every page after the first is appended to it.
  if (!pageFiles_) {
    if (Status prepared = shared_.prepare(request_.output, request_.append); !prepared)
      return prepared;
  }
  for (size_t i = 0; i < inputs.size(); ++i) {
    if (Status converted = convertInput(inputs[i], i == 0); !converted) return converted;
  }
  if (request_.progress.stopRequested()) return Stopped();  // the last chance before the rename
  return pageFiles_ ? Status{} : shared_.commit();
}

Status Conversion::convertInput(const std::string& input, bool first) {
  std::unique_ptr<RowSource> source;
  if (Status opened = OpenInput(plugins_, input, request_.reader, request_.progress, source);
      !opened)
    return opened;
  std::vector<uint32_t> pages;
  if (Status resolved = SelectionOf(request_).resolve(source->pages(), input, pages); !resolved)
    return resolved;
  if (pages.size() > 1 && !pageFiles_ && !writer_->appendsPages())
    return Status::failure(input + " has " + std::to_string(source->pages()) + " pages, and " +
                           writer_->fileName() +
                           " writes one page per file (put %d in the output name for one file "
                           "per page)");
  for (size_t i = 0; i < pages.size(); ++i) {
    // A fresh source stands at page 0; selecting it again would only reread it.
    if (pages[i] != 0 || i != 0) {
      if (Status selected = source->selectPage(pages[i]); !selected) return selected;
    }
    if (first && i == 0) {
      report_.reader = source->name();
      report_.writer = writer_->fileName();
      report_.firstPage = FactsOf(*source);
    }
    Status written = pageFiles_ ? writeToOwnFile(*source)
                                : WritePage(*source, *writer_, shared_, request_);
    if (!written) return written;
    ++report_.pagesWritten;
  }
  return {};
}

Status Conversion::writeToOwnFile(RowSource& source) {
  OutputFile own;
  const std::string name = PageName(request_.output, report_.pagesWritten);
  if (Status prepared = own.prepare(name, false); !prepared) return prepared;
  if (Status written = WritePage(source, *writer_, own, request_); !written) return written;
  if (request_.progress.stopRequested()) return Stopped();
  if (Status committed = own.commit(); !committed) return committed;
  report_.filesWritten.push_back(name);
  return {};
}

}  // namespace

Status ChooseWriter(PluginSet& plugins, const ConvertRequest& request,
                    const WriterPlugin*& writer) {
  return Guarded([&]() -> Status {
    if (!request.writer.empty()) return plugins.findWriter(request.writer, writer);
    writer = plugins.writerForPath(request.output);
    if (writer != nullptr) return {};
    std::string extension = FileExtension(request.output);
    if (extension.empty())
      return Status::failure(request.output + ": no extension to choose a writer by");
    return Status::failure(request.output + ": no writer takes ." + extension + " files");
  });
}

std::string CannotAppend(const WriterPlugin& writer, const std::string& output) {
  return "--append: " + writer.fileName() + " writes one page per file and cannot add one to " +
         output;
}

Status Describe(PluginSet& plugins, const std::string& path, const std::string& reader,
                uint32_t page, ImageFacts& facts) {
  return Guarded([&]() -> Status {
    std::unique_ptr<RowSource> source;
    if (Status opened = OpenInput(plugins, path, reader, ProgressSink{}, source); !opened)
      return opened;
    if (page != 0) {
      if (Status selected = source->selectPage(page); !selected) return selected;
    }
    facts = FactsOf(*source);
    return {};
  });
}

Status Convert(PluginSet& plugins, const ConvertRequest& request, ConvertReport& report) {
  return Guarded([&] { return Conversion(plugins, request, report).run(); });
}

}  // namespace imagehost
