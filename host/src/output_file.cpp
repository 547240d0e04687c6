#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "guard.h"
#include "host/output.h"
#include "host/streams.h"

namespace imagehost {

namespace {

constexpr const char* kWorkSuffix = ".part";

Status CannotWrite(const std::string& path, int error) {
  return Status::failure("cannot write " + path + ": " + std::strerror(error));
}

// Copies the file at `from` into the open descriptor `to`; 0 or an errno value.
int CopyInto(const std::string& from, int to) {
  int source = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) return errno;
  std::vector<char> buffer(1 << 16);
  int error = 0;
  for (;;) {
    ssize_t got = read(source, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got < 0) error = errno;
      break;
    }
    for (ssize_t done = 0; done < got && error == 0;) {
      ssize_t put = write(to, buffer.data() + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0)
        error = put < 0 ? errno : ENOSPC;
      else
        done += put;
    }
    if (error != 0) break;
  }
  close(source);
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
    struct stat target, stale;
    const bool exists = lstat(path.c_str(), &target) == 0;
    if (exists && S_ISDIR(target.st_mode)) return CannotWrite(path, EISDIR);
    if (appendToExisting && exists && !S_ISREG(target.st_mode))
      return Status::failure("cannot append to " + path + ": not a regular file");
    if (lstat(workPath_.c_str(), &stale) == 0) {
      if (S_ISDIR(stale.st_mode)) return CannotWrite(path, EISDIR);
      if (unlink(workPath_.c_str()) != 0) return CannotWrite(path, errno);
    }
    int fd = open(workPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return CannotWrite(path, errno);
    active_ = true;
    removal_.arm(workPath_);
    int error = 0;
    if (appendToExisting && exists) {
      error = CopyInto(path, fd);
      appending_ = error == 0;
    }
    if (close(fd) != 0 && error == 0) error = errno;
    if (error != 0) {
      discard();
      return CannotWrite(path, error);
    }
    if (!appending_) unlink(workPath_.c_str());  // the writer creates it
    return {};
  });
}

Status OutputFile::commit() {
  if (!active_) return Status::failure("cannot write " + path_ + ": nothing was written");
  if (toStandardOutput_) return commitStandardOutput();
  if (rename(workPath_.c_str(), path_.c_str()) != 0) {
    Status failed = CannotWrite(path_, errno);
    discard();
    return failed;
  }
  active_ = false;
  removal_.disarm();  // only now: until the rename the work file is the partial one
  return {};
}

void OutputFile::discard() {
  if (!active_) return;
  unlink(workPath_.c_str());
  active_ = false;
  toStandardOutput_ = false;
  removal_.disarm();
}

}  // namespace imagehost
