// An output file written through a temporary name in the same folder
// ("OUT.part") and renamed over OUT only when the export succeeded, so a
// failed export never leaves a file behind that looks complete.
#pragma once

#include <string>

#include "host/api.h"
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
  // `appendToExisting` and an existing regular file at `path`, the temporary
  // file starts as a copy of it and stays; otherwise it is removed again, so
  // that the writer creates it afresh. Failure: "cannot write PATH: reason".
  Status prepare(const std::string& path, bool appendToExisting);

  const std::string& path() const { return path_; }
  // The name the writer writes to.
  const std::string& workPath() const { return workPath_; }
  // True when the temporary file started as a copy of an existing file.
  bool appending() const { return appending_; }

  // Renames the temporary file over `path`.
  Status commit();
  // Removes the temporary file.
  void discard();

 private:
  std::string path_;
  std::string workPath_;
  bool appending_ = false;
  bool active_ = false;
};

}  // namespace imagehost
