#include "lock_owner.h"

#include "winport/file.h"
#include "winport/process.h"

namespace ferrox {

namespace {

constexpr uint64_t kFileTimeUnitsPerStamp = 100000;  // 100 ns units in 10 ms

// The low 32 bits of the creation time in 10 ms units; false when unknown.
// 32 bits of 10 ms span 497 days: an id reused by a process created exactly
// a multiple of that later is the only confusion left.
bool CreationStamp(HANDLE process, uint32_t& stamp) {
  FILETIME creation{}, exit{}, kernel{}, user{};
  if (!GetProcessTimes(process, &creation, &exit, &kernel, &user)) return false;
  const uint64_t time = (uint64_t{creation.dwHighDateTime} << 32) | creation.dwLowDateTime;
  stamp = static_cast<uint32_t>(time / kFileTimeUnitsPerStamp);
  return true;
}

}  // namespace

uint64_t OwnIdentity() {
  const DWORD id = GetCurrentProcessId();
  uint32_t stamp = 0;
  if (HANDLE self = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id)) {
    CreationStamp(self, stamp);
    CloseHandle(self);
  }
  return (uint64_t{id} << 32) | stamp;
}

bool IdentityAlive(uint64_t identity) {
  const auto id = static_cast<DWORD>(identity >> 32);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (process == 0) return GetLastError() != ERROR_INVALID_PARAMETER;  // gone, or not ours to see
  DWORD exitCode = STILL_ACTIVE;
  bool alive = !GetExitCodeProcess(process, &exitCode) || exitCode == STILL_ACTIVE;
  uint32_t stamp = 0;
  if (alive && CreationStamp(process, stamp)) alive = stamp == static_cast<uint32_t>(identity);
  CloseHandle(process);
  return alive;
}

}  // namespace ferrox
