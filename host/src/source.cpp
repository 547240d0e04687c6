#include <array>
#include <filesystem>

#include "guard.h"
#include "host_files.h"
#include "sources.h"

namespace imagehost {

namespace {

enum class Choice { kNone, kReader, kNativeBmp };

// Picks who reads a file from its first bytes: the host's BMP input for "BM";
// else the first reader, in file-name order, answering 1; else the first
// reader answering 2 (a guess, such as Targa's, whose format has no
// signature) that names the file's extension among its file types. A reader
// that answers 2 whatever the bytes (Photo CD, whose library judges the file)
// thus only gets the files named for it. No reader takes "BM" files (none
// answers 1 to them), so they are recognised without loading any reader;
// other files load the readers up to the one that answers 1.
Choice Choose(const PluginSet& plugins, const std::string& path,
              std::span<const uint8_t, kVerifyBytes> firstBytes, const ReaderPlugin*& reader) {
  if (firstBytes[0] == 'B' && firstBytes[1] == 'M') return Choice::kNativeBmp;
  const std::string extension = std::filesystem::path(path).extension().string();
  const std::string bare = extension.empty() ? extension : extension.substr(1);
  const ReaderPlugin* guess = nullptr;
  for (size_t i = 0; i < plugins.readerFileCount(); ++i) {
    const ReaderPlugin* candidate = plugins.readerAt(i);
    if (candidate == nullptr) continue;
    int32_t answer = candidate->verify(firstBytes);
    if (answer == 1) {
      reader = candidate;
      return Choice::kReader;
    }
    if (answer == 2 && guess == nullptr && candidate->matchesPattern(bare)) guess = candidate;
  }
  if (guess == nullptr) return Choice::kNone;
  reader = guess;
  return Choice::kReader;
}

Status Open(const PluginSet& plugins, const std::string& path, const SourceOptions& options,
            std::unique_ptr<RowSource>& out) {
  std::string error;
  uint32_t file = files::OpenForReading(path, error);
  if (file == 0) return Status::failure("cannot open " + path + ": " + error);
  std::array<uint8_t, kVerifyBytes> firstBytes{};  // zero past the end of a short file
  if (files::ReadAt(file, firstBytes.data(), firstBytes.size(), 0) < 0) {
    files::CloseIfOpen(file);
    return Status::failure("cannot read " + path);
  }
  const ReaderPlugin* reader = options.reader;
  Choice choice = reader != nullptr ? Choice::kReader : Choose(plugins, path, firstBytes, reader);
  Status opened;
  switch (choice) {
    case Choice::kReader:
      opened = OpenReaderSource(*reader, path, file, options.progress, out);
      break;
    case Choice::kNativeBmp:
      opened = OpenBmpSource(path, file, options.progress, out);
      break;
    case Choice::kNone:
      opened = Status::failure(path + ": not an image file any reader recognises");
      break;
  }
  if (!opened) files::CloseIfOpen(file);
  return opened;
}

}  // namespace

Status OpenSource(const PluginSet& plugins, const std::string& path, const SourceOptions& options,
                  std::unique_ptr<RowSource>& out) {
  return Guarded([&] { return Open(plugins, path, options, out); });
}

}  // namespace imagehost
