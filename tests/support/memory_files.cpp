#include "memory_files.h"

#include <algorithm>
#include <cstring>

namespace testsupport {

MemoryFiles& MemoryFiles::instance() {
  static MemoryFiles files;
  return files;
}

void MemoryFiles::reset() {
  *this = MemoryFiles{};
}

void MemoryFiles::put(const std::string& name, std::vector<uint8_t> bytes) {
  files_[name] = std::move(bytes);
}

bool MemoryFiles::exists(const std::string& name) const {
  return files_.count(name) != 0;
}

std::vector<uint8_t> MemoryFiles::bytes(const std::string& name) const {
  auto it = files_.find(name);
  return it == files_.end() ? std::vector<uint8_t>{} : it->second;
}

uint32_t MemoryFiles::openForRead(const std::string& name) {
  uint32_t handle = 0;
  return table()->open(name.c_str(), 0, &handle) == 1 ? handle : 0;
}

struct MemoryFilesCallbacks {
  static MemoryFiles& fs() { return MemoryFiles::instance(); }

  static MemoryFiles::OpenFile* find(uint32_t handle) {
    auto it = fs().open_.find(handle);
    return it == fs().open_.end() ? nullptr : &it->second;
  }

  static int32_t open(FileReference ref, int32_t mode, uint32_t* handle) {
    MemoryFiles& f = fs();
    if (f.failOpen || ref == nullptr || handle == nullptr) return 0;
    std::string name(static_cast<const char*>(ref));
    if (mode & kOpenCreate) {
      f.files_[name].clear();
    } else if (!f.exists(name)) {
      return 0;
    }
    if (mode & kOpenExist) return 1;  // existence test only: nothing stays open
    uint32_t h = f.nextHandle_++;
    f.open_[h] = MemoryFiles::OpenFile{name, 0};
    f.opens++;
    *handle = h;
    return 1;
  }

  static int32_t close(uint32_t handle) {
    if (fs().open_.erase(handle) == 0) return 0;
    fs().closes++;
    return 1;
  }

  static int32_t read(uint32_t handle, void* buffer, uint32_t count) {
    MemoryFiles::OpenFile* file = find(handle);
    if (file == nullptr) return -1;
    MemoryFiles& f = fs();
    if (f.readFailsAfterBytes >= 0 && f.bytesRead_ >= f.readFailsAfterBytes) return -1;
    const std::vector<uint8_t>& data = f.files_[file->name];
    int64_t available = std::max<int64_t>(0, static_cast<int64_t>(data.size()) - file->position);
    int64_t n = std::min<int64_t>(available, count);
    if (f.readFailsAfterBytes >= 0) n = std::min(n, f.readFailsAfterBytes - f.bytesRead_);
    if (f.readsAtMost > 0) n = std::min(n, f.readsAtMost);
    if (n > 0) std::memcpy(buffer, data.data() + file->position, static_cast<size_t>(n));
    file->position += n;
    f.bytesRead_ += n;
    return static_cast<int32_t>(n);
  }

  static int32_t write(uint32_t handle, const void* buffer, uint32_t count) {
    MemoryFiles::OpenFile* file = find(handle);
    if (file == nullptr) return -1;
    MemoryFiles& f = fs();
    std::vector<uint8_t>& data = f.files_[file->name];
    int64_t n = count;
    if (f.diskCapacity >= 0) n = std::clamp<int64_t>(f.diskCapacity - file->position, 0, count);
    if (n == 0) return 0;
    int64_t end = file->position + n;
    if (end > static_cast<int64_t>(data.size())) data.resize(static_cast<size_t>(end));
    std::memcpy(data.data() + file->position, buffer, static_cast<size_t>(n));
    file->position = end;
    return static_cast<int32_t>(n);
  }

  static int32_t seek(uint32_t handle, int32_t offset, int32_t origin) {
    MemoryFiles::OpenFile* file = find(handle);
    if (file == nullptr) return -1;
    int64_t base = 0;
    if (origin == 1) base = file->position;
    if (origin == 2) base = static_cast<int64_t>(fs().files_[file->name].size());
    int64_t target = base + offset;
    if (target < 0 || target > INT32_MAX) return -1;
    file->position = target;
    return static_cast<int32_t>(target);
  }

  static int32_t readByte(uint32_t handle) {
    uint8_t byte = 0;
    return read(handle, &byte, 1) == 1 ? byte : -1;
  }
};

const HostFileTable* MemoryFiles::table() {
  static const HostFileTable kTable = {
      MemoryFilesCallbacks::open,  MemoryFilesCallbacks::close, MemoryFilesCallbacks::read,
      MemoryFilesCallbacks::write, MemoryFilesCallbacks::seek,  MemoryFilesCallbacks::readByte,
  };
  return &kTable;
}

}  // namespace testsupport
