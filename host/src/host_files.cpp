#include "host_files.h"

#include <atomic>
#include <climits>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "system_error.h"
#include "winport/windows.h"

namespace imagehost::files {

namespace {

constexpr size_t kReadAhead = 4096;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr size_t kLargestSystemWrite = size_t{1} << 30;

// An open file: its system handle, the bytes read ahead for the one-byte
// reads, which readers make for every pixel byte of some formats, and the
// bytes gathered for one write (see LendForWrites). At most one of the two is
// held: the system's position runs `ahead.size() - next` bytes past the
// file's, or `gatheredBytes` behind it.
struct OpenFile {
  HANDLE system = INVALID_HANDLE_VALUE;
  std::vector<uint8_t> ahead;
  size_t next = 0;
  const uint8_t* gathered = nullptr;
  size_t gatheredBytes = 0;
};

// The memory the calling thread has lent a writer for its current call.
struct LentMemory {
  uintptr_t begin = 0;
  uintptr_t end = 0;
  bool holds(const void* bytes, uint32_t count) const {
    const auto at = reinterpret_cast<uintptr_t>(bytes);
    return count != 0 && count <= INT32_MAX && at >= begin && at < end && count <= end - at;
  }
};
thread_local LentMemory t_lent;

thread_local DWORD t_lastError = ERROR_SUCCESS;

void Remember(DWORD error) { t_lastError = error; }

// Writes the gathered bytes at the system's position; false (the reason
// remembered) when they did not all land. They are dropped either way.
bool WriteGathered(OpenFile& file) {
  const uint8_t* bytes = file.gathered;
  size_t left = file.gatheredBytes;
  file.gathered = nullptr;
  file.gatheredBytes = 0;
  while (left > 0) {
    const auto piece = static_cast<DWORD>(left < kLargestSystemWrite ? left : kLargestSystemWrite);
    DWORD done = 0;
    if (!WriteFile(file.system, bytes, piece, &done, nullptr) || done == 0) {
      Remember(done == 0 && GetLastError() == ERROR_SUCCESS ? ERROR_DISK_FULL : GetLastError());
      return false;
    }
    bytes += done;
    left -= done;
  }
  return true;
}

// Gathered bytes taken out of their file under the table's lock, written by
// the caller once the lock is released: a large write then does not hold up
// the other threads' reads (only the thread that gathered them uses the file).
struct Detached {
  OpenFile bytes;  // only system, gathered and gatheredBytes are used
  bool empty() const { return bytes.gatheredBytes == 0; }
};

// Gives the read-ahead bytes back and takes the gathered ones out.
Detached Detach(OpenFile& file) {
  const size_t unread = file.ahead.size() - file.next;
  if (unread != 0) SetFilePointer(file.system, -static_cast<LONG>(unread), nullptr, FILE_CURRENT);
  file.ahead.clear();
  file.next = 0;
  Detached taken;
  taken.bytes.system = file.system;
  taken.bytes.gathered = file.gathered;
  taken.bytes.gatheredBytes = file.gatheredBytes;
  file.gathered = nullptr;
  file.gatheredBytes = 0;
  return taken;
}

// Brings the system's position to the file's: gives the bytes read ahead
// back and writes the gathered ones. False when gathered bytes failed to land.
bool Settle(OpenFile& file) {
  Detached taken = Detach(file);
  return taken.empty() || WriteGathered(taken.bytes);
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
class HandleTable {
 public:
  uint32_t add(HANDLE system) {
    std::lock_guard<std::mutex> lock(mutex_);
    generation_.fetch_add(1, std::memory_order_release);
    uint32_t handle = next_;
    while (handle == 0 || files_.count(handle) != 0) ++handle;
    next_ = handle + 1;
    files_[handle].system = system;
    return handle;
  }
  // The system handle, its position settled for a read, write or seek;
  // INVALID_HANDLE_VALUE if none. `settled` is false when gathered bytes
  // failed to land (the reason remembered).
  HANDLE find(uint32_t handle, bool* settled = nullptr) {
    Detached pending;
    HANDLE system = INVALID_HANDLE_VALUE;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = files_.find(handle);
      if (it == files_.end()) return INVALID_HANDLE_VALUE;
      generation_.fetch_add(1, std::memory_order_release);
      pending = Detach(it->second);
      system = it->second.system;
    }
    const bool landed = land(pending);
    if (settled != nullptr) *settled = landed;
    return system;
  }
  // Takes `count` bytes to write: gathered when they lie in the calling
  // thread's lent memory (joined to the bytes gathered before when they
  // continue them), else the file is settled for a write made by the caller.
  // -1: no such file, or gathered bytes failed to land; 0: write them; 1: gathered.
  int32_t gather(uint32_t handle, const void* bytes, uint32_t count, HANDLE& system) {
    Detached pending;
    const bool lent = t_lent.holds(bytes, count);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = files_.find(handle);
      if (it == files_.end()) return -1;
      generation_.fetch_add(1, std::memory_order_release);
      OpenFile& file = it->second;
      system = file.system;
      const auto* at = static_cast<const uint8_t*>(bytes);
      if (lent && file.gatheredBytes != 0 && file.gathered + file.gatheredBytes == at) {
        file.gatheredBytes += count;
        return 1;
      }
      pending = Detach(file);
      if (lent) {
        file.gathered = at;
        file.gatheredBytes = count;
      }
    }
    if (!land(pending)) {
      if (lent) {  // the new bytes go with the ones that failed to land
        std::lock_guard<std::mutex> lock(mutex_);
        if (auto it = files_.find(handle); it != files_.end()) {
          it->second.gathered = nullptr;
          it->second.gatheredBytes = 0;
        }
      }
      return -1;
    }
    return lent ? 1 : 0;
  }
  // Writes the bytes gathered for every file; false when any gathered bytes
  // failed to land since the last call.
  bool settleAll() {
    std::vector<Detached> pending;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      generation_.fetch_add(1, std::memory_order_release);
      for (auto& entry : files_) {
        if (entry.second.gatheredBytes != 0) pending.push_back(Detach(entry.second));
      }
    }
    for (Detached& bytes : pending) land(bytes);
    std::lock_guard<std::mutex> lock(mutex_);
    const bool landed = !gatherFailed_;
    gatherFailed_ = false;
    return landed;
  }
  // The system handle of a file taken out of the table, with its gathered
  // bytes written first (`settled` false when they failed to land).
  HANDLE remove(uint32_t handle, bool& settled) {
    Detached pending;
    HANDLE system = INVALID_HANDLE_VALUE;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = files_.find(handle);
      if (it == files_.end()) return INVALID_HANDLE_VALUE;
      pending = Detach(it->second);
      system = it->second.system;
      generation_.fetch_add(1, std::memory_order_release);
      files_.erase(it);
      if (handle == lastHandle_) lastFile_ = nullptr;
    }
    settled = land(pending);
    return system;
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
    if (file.gatheredBytes != 0 && !settle(file)) return -1;
    if (file.next == file.ahead.size()) {
      file.ahead.resize(kReadAhead);
      file.next = 0;
      DWORD got = 0;
      if (!ReadFile(file.system, file.ahead.data(), kReadAhead, &got, nullptr)) got = 0;
      file.ahead.resize(got);
      if (got == 0) return -1;
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

  // Writes detached bytes (the lock not held), remembering a failure for settleAll.
  bool land(Detached& pending) {
    if (pending.empty() || WriteGathered(pending.bytes)) return true;
    std::lock_guard<std::mutex> lock(mutex_);
    gatherFailed_ = true;
    return false;
  }

  // Settle, remembering a failure of gathered bytes for settleAll.
  bool settle(OpenFile& file) {
    if (Settle(file)) return true;
    gatherFailed_ = true;
    return false;
  }

  std::mutex mutex_;
  bool gatherFailed_ = false;
  std::atomic<uint64_t> generation_{1};
  std::unordered_map<uint32_t, OpenFile> files_;
  uint32_t next_ = 1;
  uint32_t lastHandle_ = 0;
  OpenFile* lastFile_ = nullptr;
};

HandleTable& Handles() {
  static HandleTable* table = new HandleTable;  // outlives every static destructor
  return *table;
}

// A file of the table: read-only for readers (mode 0), the writer contract's
// OpenFile modes otherwise. Creating never follows a link planted at the name.
HANDLE OpenSystemFile(const char* path, int32_t mode) {
  DWORD access = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  if (mode & kOpenCreate) {
    access = GENERIC_READ | GENERIC_WRITE;
    disposition = CREATE_ALWAYS;
  } else if ((mode & 3) == kOpenReadWrite) {
    access = GENERIC_READ | GENERIC_WRITE;
  } else if ((mode & 3) == 1) {
    access = GENERIC_WRITE;
  }
  return CreateFileA(path, access, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, 0);
}

bool IsFolder(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int32_t CALLBACK Open(FileReference file, int32_t mode, uint32_t* handle) noexcept {
  if (file == nullptr) return 0;
  const char* path = static_cast<const char*>(file);
  if (mode & kOpenExist) {  // existence test only; nothing stays open
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }
  if (handle == nullptr) return 0;
  HANDLE system = OpenSystemFile(path, mode);
  if (system == INVALID_HANDLE_VALUE) {
    Remember(IsFolder(path) ? kErrorIsFolder : GetLastError());
    return 0;
  }
  try {
    *handle = Handles().add(system);
  } catch (...) {
    CloseHandle(system);
    Remember(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  return 1;
}

int32_t CALLBACK Close(uint32_t handle) noexcept {
  bool settled = true;
  HANDLE system = Handles().remove(handle, settled);
  if (system == INVALID_HANDLE_VALUE) return 0;
  return CloseHandle(system) && settled ? 1 : 0;
}

int32_t CALLBACK Read(uint32_t handle, void* buffer, uint32_t count) noexcept {
  bool settled = true;
  HANDLE system = Handles().find(handle, &settled);
  if (system == INVALID_HANDLE_VALUE || !settled || (buffer == nullptr && count != 0)) return -1;
  DWORD done = 0;
  BOOL read = ReadFile(system, buffer, count > INT32_MAX ? INT32_MAX : count, &done, nullptr);
  if (!read && done == 0) return -1;
  return static_cast<int32_t>(done);
}

int32_t CALLBACK Write(uint32_t handle, const void* buffer, uint32_t count) noexcept {
  if (buffer == nullptr && count != 0) return -1;
  HANDLE system = INVALID_HANDLE_VALUE;
  const int32_t taken = Handles().gather(handle, buffer, count, system);
  if (taken < 0) return -1;
  if (taken == 1) return static_cast<int32_t>(count);
  DWORD done = 0;
  if (!WriteFile(system, buffer, count > INT32_MAX ? INT32_MAX : count, &done, nullptr)) {
    Remember(GetLastError());
    return done == 0 ? -1 : static_cast<int32_t>(done);
  }
  return static_cast<int32_t>(done);
}

int32_t CALLBACK Seek(uint32_t handle, int32_t offset, int32_t origin) noexcept {
  bool settled = true;
  HANDLE system = Handles().find(handle, &settled);
  if (system == INVALID_HANDLE_VALUE || !settled || origin < 0 || origin > 2) return -1;
  static constexpr DWORD kMethod[] = {FILE_BEGIN, FILE_CURRENT, FILE_END};
  // With the high half the system takes the signed distance as 64 bits, so
  // a position past 2 GiB is reached and reported, not refused.
  LONG high = offset < 0 ? -1 : 0;
  SetLastError(ERROR_SUCCESS);
  const DWORD low = SetFilePointer(system, offset, &high, kMethod[origin]);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) {
    Remember(GetLastError());
    return -1;
  }
  if (high != 0 || low > INT32_MAX) {
    Remember(kErrorTooLarge);
    return -1;
  }
  return static_cast<int32_t>(low);
}

int32_t CALLBACK ReadByte(uint32_t handle) noexcept {
  try {
    return Handles().nextByte(handle);
  } catch (...) {  // no room to read ahead
    Remember(ERROR_NOT_ENOUGH_MEMORY);
    return -1;
  }
}

}  // namespace

const HostFileTable* Table() {
  static const HostFileTable kTable = {Open, Close, Read, Write, Seek, ReadByte};
  return &kTable;
}

uint32_t OpenForReading(const std::string& path, std::string& error) {
  if (IsFolder(path.c_str())) {
    error = ErrorText(kErrorIsFolder);
    return 0;
  }
  HANDLE system = OpenSystemFile(path.c_str(), 0);
  if (system == INVALID_HANDLE_VALUE) {
    error = ErrorText(GetLastError());
    return 0;
  }
  try {
    return Handles().add(system);
  } catch (...) {
    CloseHandle(system);
    error = ErrorText(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}

void CloseIfOpen(uint32_t handle) { Close(handle); }

bool IsOpen(uint32_t handle) { return Handles().find(handle) != INVALID_HANDLE_VALUE; }

int64_t FileSize(uint32_t handle) {
  HANDLE system = Handles().find(handle);
  if (system == INVALID_HANDLE_VALUE) return -1;
  DWORD high = 0;
  SetLastError(ERROR_SUCCESS);
  const DWORD low = GetFileSize(system, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) return -1;
  return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
}

// Moves to `offset`, reads, and moves back to where the file was.
int64_t ReadAt(uint32_t handle, void* buffer, uint64_t count, uint64_t offset) {
  HANDLE system = Handles().find(handle);
  if (system == INVALID_HANDLE_VALUE) return -1;
  LONG savedHigh = 0;
  SetLastError(ERROR_SUCCESS);
  const DWORD savedLow = SetFilePointer(system, 0, &savedHigh, FILE_CURRENT);
  if (savedLow == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) return -1;
  LONG high = static_cast<LONG>(offset >> 32);
  SetLastError(ERROR_SUCCESS);
  if (SetFilePointer(system, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN) ==
          INVALID_SET_FILE_POINTER &&
      GetLastError() != ERROR_SUCCESS)
    return -1;
  uint64_t done = 0;
  bool failed = false;
  while (done < count) {
    const uint64_t left = count - done;
    DWORD got = 0;
    if (!ReadFile(system, static_cast<char*>(buffer) + done,
                  left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left), &got, nullptr)) {
      failed = true;
      break;
    }
    if (got == 0) break;
    done += got;
  }
  SetFilePointer(system, static_cast<LONG>(savedLow), &savedHigh, FILE_BEGIN);
  return failed ? -1 : static_cast<int64_t>(done);
}

void LendForWrites(std::span<const uint8_t> memory) {
  const auto at = reinterpret_cast<uintptr_t>(memory.data());
  t_lent = LentMemory{at, at + memory.size()};
}

bool EndLending() {
  const bool landed = Handles().settleAll();
  t_lent = LentMemory{};
  return landed;
}

std::string LastError() {
  return t_lastError == ERROR_SUCCESS ? std::string() : ErrorText(t_lastError);
}

void ClearLastError() { t_lastError = ERROR_SUCCESS; }

}  // namespace imagehost::files
