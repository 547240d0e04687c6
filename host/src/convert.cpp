#include "host/convert.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "guard.h"
#include "host/output.h"
#include "host/page_names.h"
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

// Reads blocks of a page on a thread of its own while the writer takes the
// block before: decoding and encoding then overlap on two processors. The
// reads are the ones the plain loop makes, in the same order; each is started
// only once the one before it has been taken.
class ReadAhead {
 public:
  explicit ReadAhead(RowSource& source) : source_(source), thread_([this] { run(); }) {}
  ~ReadAhead() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    changed_.notify_all();
    thread_.join();  // a read under way ends first: its block belongs to the caller
  }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  void start(uint32_t top, uint32_t rows, std::span<uint8_t> block) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job_ = Job{top, rows, block};
      pending_ = true;
    }
    changed_.notify_all();
  }
  // The result of the read started last.
  Status wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !pending_; });
    return result_;
  }

 private:
  struct Job {
    uint32_t top = 0;
    uint32_t rows = 0;
    std::span<uint8_t> block;
  };

  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return quit_ || pending_; });
      if (quit_) return;
      const Job job = job_;
      lock.unlock();
      Status read = Guarded([&] { return source_.readRows(job.top, job.rows, job.block); });
      lock.lock();
      result_ = std::move(read);
      pending_ = false;
      changed_.notify_all();
    }
  }

  RowSource& source_;
  std::mutex mutex_;
  std::condition_variable changed_;
  Job job_;
  bool pending_ = false;
  bool quit_ = false;
  Status result_;
  std::thread thread_;  // last: started once everything it uses is built
};

// Pages of fewer blocks than this are read and written on one thread: the
// second thread and buffer cost more than the overlap gains on a page or two
// of fax (about 1 ms on a 10 ms page here).
constexpr uint64_t kReadAheadBlocks = 4;

// Streams the current page of `source` through one export, in blocks; a page
// of kReadAheadBlocks blocks or more is read a block ahead on a second thread.
Status WritePage(RowSource& source, const WriterPlugin& writer, const OutputFile& output,
                 const ConvertRequest& request) {
  const DibImage& image = source.image();
  WriterSetup setup;
  setup.writer = &writer;
  setup.fileDesignation = output.workPath();
  setup.outputName = output.path();
  setup.format = OutputExtension(request.output, request.format);
  setup.options = request.options;
  setup.callerTopDownOnly = !source.randomAccess();
  setup.blockRows = request.blockRows;
  setup.progress = request.progress;
  ImageWriter export_;
  if (Status begun = export_.begin(setup, image); !begun) return begun;

  const uint32_t height = image.height();
  const uint32_t blockRows = BlockRows(request.blockRows, image.stride(), height);
  const bool bottomFirst = export_.order() == RowOrder::kBottomFirst;
  const uint64_t blockBytes = uint64_t{blockRows} * image.stride();
  // Block k: its rows and its top row.
  auto rowsAt = [&](uint32_t done) { return std::min(blockRows, height - done); };
  auto topAt = [&](uint32_t done) { return bottomFirst ? height - done - rowsAt(done) : done; };
  if (height < kReadAheadBlocks * blockRows) {
    std::vector<uint8_t> buffer(blockBytes);
    for (uint32_t done = 0; done < height;) {
      if (request.progress.stopRequested()) return Stopped();
      const uint32_t rows = rowsAt(done);
      std::span<uint8_t> block(buffer.data(), uint64_t{rows} * image.stride());
      if (Status read = source.readRows(topAt(done), rows, block); !read) return read;
      if (Status wrote = export_.write(rows, block); !wrote) return wrote;
      done += rows;
    }
    return export_.finish();
  }
  std::vector<uint8_t> buffers[2] = {std::vector<uint8_t>(blockBytes),
                                     std::vector<uint8_t>(blockBytes)};
  auto blockAt = [&](uint32_t done, size_t which) {
    return std::span<uint8_t>(buffers[which].data(), uint64_t{rowsAt(done)} * image.stride());
  };
  if (request.progress.stopRequested()) return Stopped();
  ReadAhead ahead(source);
  ahead.start(topAt(0), rowsAt(0), blockAt(0, 0));
  size_t which = 0;
  for (uint32_t done = 0; done < height; which ^= 1) {
    if (Status read = ahead.wait(); !read) return read;
    const uint32_t rows = rowsAt(done);
    const uint32_t next = done + rows;
    if (request.progress.stopRequested()) return Stopped();
    if (next < height) ahead.start(topAt(next), rowsAt(next), blockAt(next, which ^ 1));
    if (Status wrote = export_.write(rows, blockAt(done, which)); !wrote) return wrote;
    done = next;
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
  StandardInput spooled;
  std::unique_ptr<RowSource> source;
  if (Status opened =
          OpenInput(plugins_, input, request_.reader, request_.progress, source, spooled);
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

namespace {

// Progress comes from the thread that reads and from the one that writes;
// the caller's sink hears them one at a time.
struct SerialProgress {
  std::mutex mutex;
  ProgressSink inner;

  static void Report(void* context, ProgressPhase phase, uint32_t percent) {
    auto* self = static_cast<SerialProgress*>(context);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->inner(phase, percent);
  }
  static bool Stop(void* context) {
    auto* self = static_cast<SerialProgress*>(context);
    std::lock_guard<std::mutex> lock(self->mutex);
    return self->inner.stopRequested();
  }
};

}  // namespace

Status Convert(PluginSet& plugins, const ConvertRequest& request, ConvertReport& report) {
  return Guarded([&] {
    SerialProgress serial;
    serial.inner = request.progress;
    ConvertRequest serialised = request;
    serialised.progress.context = &serial;
    serialised.progress.report = request.progress.report != nullptr ? SerialProgress::Report : nullptr;
    serialised.progress.stop = request.progress.stop != nullptr ? SerialProgress::Stop : nullptr;
    return Conversion(plugins, serialised, report).run();
  });
}

}  // namespace imagehost
