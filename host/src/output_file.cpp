#include <vector>

#include "guard.h"
#include "host/output.h"
#include "host/streams.h"
#include "system_error.h"
#include "winport/windows.h"

namespace imagehost {

namespace {

constexpr const char* kWorkSuffix = ".part";
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

Status CannotWrite(const std::string& path, DWORD error) {
  return Status::failure("cannot write " + path + ": " + ErrorText(error));
}

// What lies at a path, not following a link.
struct PathKind {
  bool exists = false;
  bool folder = false;   // a folder (not a link to one)
  bool regular = false;  // a plain file (not a link, not a folder)
};

PathKind KindOf(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  PathKind kind;
  if (attributes == INVALID_FILE_ATTRIBUTES) return kind;
  kind.exists = true;
  const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  kind.folder = !link && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  kind.regular = !link && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  return kind;
}

// Copies the file at `from` into the open file `to`; ERROR_SUCCESS or the
// system's error.
DWORD CopyInto(const std::string& from, HANDLE to) {
  HANDLE source = CreateFileA(from.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, 0);
  if (source == INVALID_HANDLE_VALUE) return GetLastError();
  std::vector<char> buffer(1 << 16);
  DWORD error = ERROR_SUCCESS;
  for (;;) {
    DWORD got = 0, put = 0;
    if (!ReadFile(source, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      error = GetLastError();
      break;
    }
    if (got == 0) break;
    if (!WriteFile(to, buffer.data(), got, &put, nullptr) || put != got) {
      error = put != got && GetLastError() == ERROR_SUCCESS ? ERROR_DISK_FULL : GetLastError();
      break;
    }
  }
  CloseHandle(source);
  return error;
}

}  // namespace

OutputFile::~OutputFile() { discard(); }

Status OutputFile::prepare(const std::string& path, bool appendToExisting) {
  return Guarded([&]() -> Status {
    discard();
    if (IsStandardStream(path)) return prepareStandardOutput(appendToExisting);
    path_ = path;
    workPath_ = path + kWorkSuffix;
    appending_ = false;
    const PathKind target = KindOf(path);
    if (target.folder) return CannotWrite(path, kErrorIsFolder);
    if (appendToExisting && target.exists && !target.regular)
      return Status::failure("cannot append to " + path + ": not a regular file");
    const PathKind stale = KindOf(workPath_);
    if (stale.folder) return CannotWrite(path, kErrorIsFolder);
    if (stale.exists && !DeleteFileA(workPath_.c_str())) return CannotWrite(path, GetLastError());
    // CREATE_NEW never follows a link planted at the name.
    HANDLE work = CreateFileA(workPath_.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, 0);
    if (work == INVALID_HANDLE_VALUE) return CannotWrite(path, GetLastError());
    active_ = true;
    removal_.arm(workPath_);
    DWORD error = ERROR_SUCCESS;
    if (appendToExisting && target.exists) {
      error = CopyInto(path, work);
      appending_ = error == ERROR_SUCCESS;
    }
    if (!CloseHandle(work) && error == ERROR_SUCCESS) error = GetLastError();
    if (error != ERROR_SUCCESS) {
      discard();
      return CannotWrite(path, error);
    }
    if (!appending_) DeleteFileA(workPath_.c_str());  // the writer creates it
    return {};
  });
}

Status OutputFile::commit() {
  if (!active_) return Status::failure("cannot write " + path_ + ": nothing was written");
  if (toStandardOutput_) return commitStandardOutput();
  if (!MoveFileExA(workPath_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    const DWORD error = GetLastError();
    Status failed = CannotWrite(path_, KindOf(path_).folder ? kErrorIsFolder : error);
    discard();
    return failed;
  }
  active_ = false;
  removal_.disarm();  // only now: until the rename the work file is the partial one
  return {};
}

void OutputFile::discard() {
  if (!active_) return;
  DeleteFileA(workPath_.c_str());
  active_ = false;
  toStandardOutput_ = false;
  removal_.disarm();
}

}  // namespace imagehost
