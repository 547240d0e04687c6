#include <string>
#include <vector>

#include "guard.h"
#include "host/output.h"
#include "host/streams.h"
#include "winport/windows.h"

namespace imagehost {

namespace {

constexpr DWORD kCopyBytes = 1u << 16;
constexpr int kNameAttempts = 100;

std::string Reason(DWORD error) {
  switch (error) {
    case ERROR_DISK_FULL:
      return "no space left on the device";
    case ERROR_ACCESS_DENIED:
      return "permission denied";
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
      return "the pipe was closed";
    default:
      return "system error " + std::to_string(error);
  }
}

// Closes a handle on every path.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != 0; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Copies `from` into `to` to the end of `from`; 0 or the failing call's error,
// with `reading` telling which side failed.
DWORD Copy(HANDLE from, HANDLE to, bool& reading) {
  std::vector<char> buffer(kCopyBytes);
  for (;;) {
    DWORD got = 0;
    reading = true;
    if (!ReadFile(from, buffer.data(), kCopyBytes, &got, nullptr)) {
      const DWORD error = GetLastError();
      return error == ERROR_BROKEN_PIPE ? 0 : error;  // a closed pipe is its end
    }
    if (got == 0) return 0;
    reading = false;
    DWORD put = 0;
    if (!WriteFile(to, buffer.data(), got, &put, nullptr)) return GetLastError();
    if (put != got) return ERROR_DISK_FULL;
  }
}

}  // namespace

bool IsStandardStream(const std::string& path) { return path == kStandardStream; }

Status CreatePrivateFile(const std::string& prefix, std::string& path) {
  return Guarded([&]() -> Status {
    char folder[1024];
    const DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder)
      return Status::failure("no folder for temporary files");
    static unsigned counter = 0;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
      const std::string name = std::string(folder, length) + prefix + "-" +
                               std::to_string(GetCurrentProcessId()) + "-" +
                               std::to_string(GetTickCount()) + "-" + std::to_string(++counter);
      Handle file(CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY, 0));
      if (file.valid()) {
        path = name;
        return {};
      }
      if (GetLastError() != ERROR_FILE_EXISTS)
        return Status::failure("cannot create a temporary file in " + std::string(folder, length) +
                               ": " + Reason(GetLastError()));
    }
    return Status::failure("cannot find a free temporary file name");
  });
}

StandardInput::~StandardInput() {
  if (!path_.empty()) DeleteFileA(path_.c_str());
}

Status StandardInput::spool() {
  return Guarded([&]() -> Status {
    if (Status made = CreatePrivateFile("imagehost-stdin", path_); !made)
      return Status::failure("cannot read standard input: " + made.message());
    removal_.arm(path_);
    Handle target(CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                              FILE_ATTRIBUTE_TEMPORARY, 0));
    if (!target.valid())
      return Status::failure("cannot read standard input: " + Reason(GetLastError()));
    bool reading = true;
    if (DWORD error = Copy(GetStdHandle(STD_INPUT_HANDLE), target.get(), reading); error != 0)
      return Status::failure(std::string("cannot read standard input: ") +
                             (reading ? "" : "spooling it: ") + Reason(error));
    return {};
  });
}

Status CheckStandardOutput() {
  DWORD mode = 0;
  if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode))
    return Status::failure(
        "will not write image data to a terminal; redirect standard output to a file or a pipe");
  return {};
}

Status MoveToStandardOutput(const std::string& path) {
  return Guarded([&]() -> Status {
    // Deleted on close: gone however the copy ends, a closed pipe included.
    Handle source(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_DELETE_ON_CLOSE, 0));
    if (!source.valid())
      return Status::failure("cannot write standard output: " + Reason(GetLastError()));
    bool reading = true;
    if (DWORD error = Copy(source.get(), GetStdHandle(STD_OUTPUT_HANDLE), reading); error != 0)
      return Status::failure("cannot write standard output: " + Reason(error));
    return {};
  });
}

// The work file of an output to standard output: a private temporary file,
// removed again so that the writer creates it (a writer with an append path
// would take an existing one for a file to add to).
Status OutputFile::prepareStandardOutput(bool appendToExisting) {
  path_ = kStandardStream;
  if (appendToExisting) return Status::failure("cannot append to standard output");
  if (Status usable = CheckStandardOutput(); !usable) return usable;
  if (Status made = CreatePrivateFile("imagehost-out", workPath_); !made)
    return Status::failure("cannot write standard output: " + made.message());
  active_ = true;
  toStandardOutput_ = true;
  removal_.arm(workPath_);
  DeleteFileA(workPath_.c_str());
  return {};
}

Status OutputFile::commitStandardOutput() {
  Status moved = MoveToStandardOutput(workPath_);
  active_ = false;
  toStandardOutput_ = false;
  removal_.disarm();
  return moved;
}

}  // namespace imagehost
