#include "posix_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace imagehost::files {

namespace {

constexpr size_t kReadAhead = 4096;

// An open file: its descriptor and the bytes read ahead for the one-byte
// reads, which readers make for every pixel byte of some formats. The
// descriptor's position runs `ahead.size() - next` bytes past the file's.
struct OpenFile {
  int fd = -1;
  std::vector<uint8_t> ahead;
  size_t next = 0;
};

// Gives the bytes read ahead back to the file (moving its position to where
// the reader is), so that a read, write or seek sees the file's position.
void Settle(OpenFile& file) {
  const size_t unread = file.ahead.size() - file.next;
  if (unread != 0) lseek(file.fd, -static_cast<off_t>(unread), SEEK_CUR);
  file.ahead.clear();
  file.next = 0;
}

// Where the calling thread last read single bytes from: the file and the
// table's generation then. While the generation is unchanged the file is
// still open and its read-ahead bytes untouched by other calls.
struct ByteCursor {
  uint32_t handle = 0;
  uint64_t generation = 0;
  OpenFile* file = nullptr;
};
thread_local ByteCursor t_byteCursor;

// Handle numbers → open files, shared by every thread of the process. Every
// change to the table or to a file's read-ahead outside nextByte moves the
// generation on, so the one-byte read can take its next byte without the lock.
class DescriptorTable {
 public:
  uint32_t add(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    generation_.fetch_add(1, std::memory_order_release);
    uint32_t handle = next_;
    while (handle == 0 || files_.count(handle) != 0) ++handle;
    next_ = handle + 1;
    files_[handle].fd = fd;
    return handle;
  }
  // The descriptor, its position settled for a read, write or seek; -1 if none.
  int find(uint32_t handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(handle);
    if (it == files_.end()) return -1;
    generation_.fetch_add(1, std::memory_order_release);
    Settle(it->second);
    return it->second.fd;
  }
  int remove(uint32_t handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(handle);
    if (it == files_.end()) return -1;
    int fd = it->second.fd;
    generation_.fetch_add(1, std::memory_order_release);
    files_.erase(it);
    if (handle == lastHandle_) lastFile_ = nullptr;
    return fd;
  }
  // The next byte of the file, from the bytes read ahead; -1 at the end or on error.
  int32_t nextByte(uint32_t handle) {
    ByteCursor& cursor = t_byteCursor;
    if (cursor.handle == handle && cursor.file != nullptr &&
        cursor.generation == generation_.load(std::memory_order_acquire) &&
        cursor.file->next < cursor.file->ahead.size()) {
      return cursor.file->ahead[cursor.file->next++];
    }
    std::lock_guard<std::mutex> lock(mutex_);
    OpenFile* found = lookup(handle);
    if (found == nullptr) return -1;
    cursor = ByteCursor{handle, generation_.load(std::memory_order_relaxed), found};
    OpenFile& file = *found;
    if (file.next == file.ahead.size()) {
      file.ahead.resize(kReadAhead);
      file.next = 0;
      ssize_t got;
      do {
        got = read(file.fd, file.ahead.data(), kReadAhead);
      } while (got < 0 && errno == EINTR);
      file.ahead.resize(got > 0 ? static_cast<size_t>(got) : 0);
      if (got <= 0) return -1;
    }
    return file.ahead[file.next++];
  }

 private:
  // The file of `handle`, the last one asked for kept at hand: one-byte reads
  // come a byte at a time from one file. Elements of the map keep their
  // address until erased.
  OpenFile* lookup(uint32_t handle) {
    if (lastFile_ != nullptr && handle == lastHandle_) return lastFile_;
    auto it = files_.find(handle);
    if (it == files_.end()) return nullptr;
    lastHandle_ = handle;
    lastFile_ = &it->second;
    return lastFile_;
  }

  std::mutex mutex_;
  std::atomic<uint64_t> generation_{1};
  std::unordered_map<uint32_t, OpenFile> files_;
  uint32_t next_ = 1;
  uint32_t lastHandle_ = 0;
  OpenFile* lastFile_ = nullptr;
};

DescriptorTable& Descriptors() {
  static DescriptorTable* table = new DescriptorTable;  // outlives every static destructor
  return *table;
}

thread_local int t_lastErrno = 0;

void Remember(int error) { t_lastErrno = error; }

// Open modes of the writer contract (OpenFile values); readers pass 0.
int OpenFlags(int32_t mode) {
  if (mode & kOpenCreate) return O_RDWR | O_CREAT | O_TRUNC;
  if ((mode & 3) == kOpenReadWrite) return O_RDWR;
  if ((mode & 3) == 1) return O_WRONLY;
  return O_RDONLY;
}

int32_t Open(FileReference file, int32_t mode, uint32_t* handle) noexcept {
  if (file == nullptr) return 0;
  const char* path = static_cast<const char*>(file);
  if (mode & kOpenExist) {  // existence test only; nothing stays open
    struct stat info;
    if (stat(path, &info) != 0) return 0;
    return S_ISREG(info.st_mode) ? 1 : 0;
  }
  if (handle == nullptr) return 0;
  // A link planted at a name being created is never followed.
  int fd = open(path, OpenFlags(mode) | O_CLOEXEC | ((mode & kOpenCreate) ? O_NOFOLLOW : 0), 0666);
  if (fd < 0) {
    Remember(errno);
    return 0;
  }
  try {
    *handle = Descriptors().add(fd);
  } catch (...) {
    close(fd);
    Remember(ENOMEM);
    return 0;
  }
  return 1;
}

int32_t Close(uint32_t handle) noexcept {
  int fd = Descriptors().remove(handle);
  if (fd < 0) return 0;
  return close(fd) == 0 ? 1 : 0;
}

int32_t Read(uint32_t handle, void* buffer, uint32_t count) noexcept {
  int fd = Descriptors().find(handle);
  if (fd < 0 || (buffer == nullptr && count != 0)) return -1;
  size_t wanted = count > INT32_MAX ? INT32_MAX : count;
  size_t done = 0;
  while (done < wanted) {
    ssize_t n = read(fd, static_cast<char*>(buffer) + done, wanted - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done == 0 ? -1 : static_cast<int32_t>(done);
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int32_t>(done);
}

int32_t Write(uint32_t handle, const void* buffer, uint32_t count) noexcept {
  int fd = Descriptors().find(handle);
  if (fd < 0 || (buffer == nullptr && count != 0)) return -1;
  size_t wanted = count > INT32_MAX ? INT32_MAX : count;
  size_t done = 0;
  while (done < wanted) {
    ssize_t n = write(fd, static_cast<const char*>(buffer) + done, wanted - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Remember(n < 0 ? errno : ENOSPC);
      return done == 0 && n < 0 ? -1 : static_cast<int32_t>(done);
    }
    done += static_cast<size_t>(n);
  }
  return static_cast<int32_t>(done);
}

int32_t Seek(uint32_t handle, int32_t offset, int32_t origin) noexcept {
  int fd = Descriptors().find(handle);
  if (fd < 0 || origin < 0 || origin > 2) return -1;
  static constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  off_t position = lseek(fd, offset, kWhence[origin]);
  if (position < 0) {
    Remember(errno);
    return -1;
  }
  if (position > INT32_MAX) {
    Remember(EOVERFLOW);
    return -1;
  }
  return static_cast<int32_t>(position);
}

int32_t ReadByte(uint32_t handle) noexcept {
  try {
    return Descriptors().nextByte(handle);
  } catch (...) {  // no room to read ahead
    Remember(ENOMEM);
    return -1;
  }
}

}  // namespace

const HostFileTable* Table() {
  static const HostFileTable kTable = {Open, Close, Read, Write, Seek, ReadByte};
  return &kTable;
}

uint32_t OpenForReading(const std::string& path, std::string& error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return 0;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    error = std::strerror(S_ISDIR(info.st_mode) ? EISDIR : errno);
    close(fd);
    return 0;
  }
  try {
    return Descriptors().add(fd);
  } catch (...) {
    close(fd);
    error = std::strerror(ENOMEM);
    return 0;
  }
}

void CloseIfOpen(uint32_t handle) { Close(handle); }

bool IsOpen(uint32_t handle) { return Descriptors().find(handle) >= 0; }

int64_t FileSize(uint32_t handle) {
  int fd = Descriptors().find(handle);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0) return -1;
  return info.st_size;
}

int64_t ReadAt(uint32_t handle, void* buffer, uint64_t count, uint64_t offset) {
  int fd = Descriptors().find(handle);
  if (fd < 0) return -1;
  uint64_t done = 0;
  while (done < count) {
    ssize_t n = pread(fd, static_cast<char*>(buffer) + done, count - done,
                      static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<uint64_t>(n);
  }
  return static_cast<int64_t>(done);
}

std::string LastError() { return t_lastErrno == 0 ? std::string() : std::strerror(t_lastErrno); }

void ClearLastError() { t_lastErrno = 0; }

}  // namespace imagehost::files
