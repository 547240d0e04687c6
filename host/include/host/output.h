// An output file written through a temporary name in the same folder
// ("OUT.part") and renamed over OUT only when the export succeeded, so a
// failed or interrupted export never leaves a file behind that looks
// complete, and never touches an earlier OUT. The temporary file is also
// removed when a second Ctrl-C ends the program at once (host/interrupt.h).
#pragma once

#include <string>

#include "host/api.h"
#include "host/interrupt.h"
#include "host/status.h"

namespace imagehost {

class HOST_API OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // discards the temporary file unless committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Checks that `path` can be written, by creating the temporary file (never
  // through a link; a stale temporary file is removed first). With
  // `appendToExisting` and an existing file at `path`, the temporary file
  // starts as a copy of it and stays (an existing `path` that is not a
  // regular file is refused: the rename would replace it); otherwise it is
  // removed again, so that the writer creates it afresh. Failure: "cannot
  // write PATH: reason" or "cannot append to PATH: reason".
  Status prepare(const std::string& path, bool appendToExisting);

  const std::string& path() const { return path_; }
  // The name the writer writes to.
  const std::string& workPath() const { return workPath_; }
  // True when the temporary file started as a copy of an existing file.
  bool appending() const { return appending_; }

  // Renames the temporary file over `path`. With "-" for `path` (standard
  // output, host/streams.h) the temporary file is private and commit copies
  // it to standard output; prepare refuses a terminal and appending.
  Status commit();
  // Removes the temporary file.
  void discard();

 private:
  Status prepareStandardOutput(bool appendToExisting);
  Status commitStandardOutput();

  std::string path_;
  std::string workPath_;
  bool appending_ = false;
  bool active_ = false;
  bool toStandardOutput_ = false;
  AbortRemoval removal_;
};

}  // namespace imagehost
