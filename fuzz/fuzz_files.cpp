#include "fuzz_files.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace fuzzfiles {
namespace {

const uint8_t* gData = nullptr;
size_t gSize = 0;
std::map<uint32_t, int64_t> gPositions;  // open handle -> position
uint32_t gNextHandle = 1;

int32_t OpenFile(FileReference, int32_t, uint32_t* handle) {
  if (handle == nullptr) return 0;
  *handle = gNextHandle++;
  gPositions[*handle] = 0;
  return 1;
}

int32_t CloseFile(uint32_t handle) {
  return gPositions.erase(handle) == 1 ? 1 : 0;
}

int32_t ReadFile(uint32_t handle, void* buffer, uint32_t count) {
  auto it = gPositions.find(handle);
  if (it == gPositions.end()) return -1;
  int64_t available = std::max<int64_t>(0, static_cast<int64_t>(gSize) - it->second);
  int64_t n = std::min<int64_t>({available, count, INT32_MAX});
  if (n > 0) std::memcpy(buffer, gData + it->second, static_cast<size_t>(n));
  it->second += n;
  return static_cast<int32_t>(n);
}

int32_t WriteFile(uint32_t, const void*, uint32_t) {
  return -1;
}

int32_t SeekFile(uint32_t handle, int32_t offset, int32_t origin) {
  auto it = gPositions.find(handle);
  if (it == gPositions.end()) return -1;
  int64_t base = origin == 1 ? it->second : origin == 2 ? static_cast<int64_t>(gSize) : 0;
  int64_t target = base + offset;
  if (target < 0 || target > INT32_MAX) return -1;
  it->second = target;
  return static_cast<int32_t>(target);
}

int32_t ReadByte(uint32_t handle) {
  uint8_t byte = 0;
  return ReadFile(handle, &byte, 1) == 1 ? byte : -1;
}

const HostFileTable kTable = {OpenFile, CloseFile, ReadFile, WriteFile, SeekFile, ReadByte};

}  // namespace

void Reset(const uint8_t* data, size_t size) {
  gData = data;
  gSize = size;
  gPositions.clear();
}

const HostFileTable* Table() {
  return &kTable;
}

uint32_t Open() {
  uint32_t handle = 0;
  return OpenFile(kFileName, 0, &handle) == 1 ? handle : 0;
}

int OpenHandles() {
  return static_cast<int>(gPositions.size());
}

}  // namespace fuzzfiles
