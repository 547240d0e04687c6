// "-" as a file name: standard input for an input, standard output for an
// output. Readers and writers seek, so the stream goes through a private
// temporary file: standard input is copied into one before it is read, and
// an output is written into one and copied to standard output once it is
// complete (a failed or interrupted export writes nothing there).
#pragma once

#include <string>

#include "host/api.h"
#include "host/interrupt.h"
#include "host/status.h"

namespace imagehost {

// The name that stands for a standard stream.
inline constexpr const char* kStandardStream = "-";
HOST_API bool IsStandardStream(const std::string& path);

// Standard input copied into a private temporary file, removed with this object.
class HOST_API StandardInput {
 public:
  StandardInput() = default;
  ~StandardInput();
  StandardInput(const StandardInput&) = delete;
  StandardInput& operator=(const StandardInput&) = delete;

  // Copies all of standard input; fails with "cannot read standard input: reason".
  Status spool();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  AbortRemoval removal_;
};

// Fails when standard output is a terminal: image data would only garble it.
HOST_API Status CheckStandardOutput();
// A new empty private temporary file, its name starting with `prefix`.
HOST_API Status CreatePrivateFile(const std::string& prefix, std::string& path);
// Copies the file at `path` to standard output, and removes it.
HOST_API Status MoveToStandardOutput(const std::string& path);

}  // namespace imagehost
