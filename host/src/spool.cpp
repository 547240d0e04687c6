#include "spool.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace imagehost {

namespace {

Status SpoolFailure(int error) {
  return Status::failure(std::string("cannot use a temporary file to reverse the rows: ") +
                         std::strerror(error));
}

}  // namespace

Spool::~Spool() {
  if (fd_ >= 0) close(fd_);
}

Status Spool::create() {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  if (error) folder = "/tmp";
  std::string pattern = (folder / "imagehost-spool-XXXXXX").string();
  fd_ = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) return SpoolFailure(errno);
  unlink(pattern.c_str());
  return {};
}

Status Spool::put(uint64_t offset, std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n =
        pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return SpoolFailure(n < 0 ? errno : ENOSPC);
    done += static_cast<size_t>(n);
  }
  return {};
}

Status Spool::get(uint64_t offset, std::span<uint8_t> bytes) const {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n =
        pread(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return SpoolFailure(n < 0 ? errno : EIO);
    done += static_cast<size_t>(n);
  }
  return {};
}

}  // namespace imagehost
