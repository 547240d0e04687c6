// Data sections shared by every process that loads a module: named POSIX
// shared-memory objects whose users each hold a shared flock on the object.
//
// Attaching: a process that can take the lock exclusively (without waiting) is
// the only user, so it resets the object (truncate to 0, then to the size:
// zero-filled), copies the initial values and converts its lock to shared.
// Any other process waits for a shared lock, which it gets only once no
// initialiser holds the exclusive one, then grows the object if it is smaller
// than it needs, and maps it. The descriptor stays open while mapped: its lock
// is what tells a later process that the section is in use. A process that
// dies releases its lock with its descriptors, so a section whose users all
// crashed starts afresh with the next one.
//
// On Linux the conversion from exclusive to shared is not atomic: the
// exclusive lock is dropped before the shared one is granted. In that gap a
// second process may find itself alone and initialise the object again. That
// is harmless: the first has not returned yet, so nobody has used the content,
// which is the initial values before and after; and the first's shared request
// waits for the second's exclusive lock, i.e. for its initialisation to end.
// Both then check the size once more, so even a second initialiser asking for
// a smaller size cannot leave the first with pages beyond the object's end.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "winport/shared_section.h"

namespace winport::shm {

namespace {

struct Mapping {
  int fd = -1;
  size_t size = 0;
};

struct SectionTable {
  std::mutex mutex;
  std::map<void*, Mapping> live;
};

// Never destroyed: module finalisers unmap their sections at exit.
SectionTable& sections() {
  static SectionTable* table = new SectionTable;
  return *table;
}

// Object names keep letters, digits, '.', '_' and '-'; anything else becomes '_'.
std::string sanitized(const char* text) {
  std::string out(text);
  for (char& c : out) {
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '.' || c == '_' || c == '-';
    if (!keep) c = '_';
  }
  return out;
}

std::string objectName(const char* name) {
  const char* space = secure_getenv("WINPORT_SHM_NAMESPACE");
  std::string ns = space != nullptr && *space != '\0' ? sanitized(space)
                                                      : std::to_string(geteuid());
  return "/winport-" + ns + "-" + sanitized(name);
}

// Reports a failed step with errno's text; returns nullptr for the caller to pass on.
void* failed(const char* name, const char* what) {
  std::fprintf(stderr, "winport: shared section %s: %s (%s)\n", name, what, std::strerror(errno));
  return nullptr;
}

int lockRetrying(int fd, int operation) {
  int rc;
  do {
    rc = flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

// Zero-fills the object at `size` bytes and reserves its pages, so that a full
// /dev/shm fails here rather than with SIGBUS at the first write.
bool resetObject(int fd, size_t size) {
  if (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) return false;
  int rc = posix_fallocate(fd, 0, static_cast<off_t>(size));
  if (rc == 0 || rc == EOPNOTSUPP || rc == EINVAL) return true;
  errno = rc;
  return false;
}

bool growTo(int fd, size_t size) {
  struct stat info;
  if (fstat(fd, &info) != 0) return false;
  if (static_cast<uint64_t>(info.st_size) >= size) return true;
  return ftruncate(fd, static_cast<off_t>(size)) == 0;
}

// Entry: `fd` is the open object. Exit: the object is mapped and this process
// holds a shared lock on it; nullptr (with a message) on failure.
void* attach(int fd, const char* name, size_t size, const void* initial, size_t initialSize) {
  bool alone = lockRetrying(fd, LOCK_EX | LOCK_NB) == 0;
  if (alone) {
    if (!resetObject(fd, size)) return failed(name, "cannot size the object");
  } else {
    if (errno != EWOULDBLOCK) return failed(name, "cannot lock the object");
    if (lockRetrying(fd, LOCK_SH) != 0) return failed(name, "cannot lock the object");
    if (!growTo(fd, size)) return failed(name, "cannot size the object");
  }
  void* section = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (section == MAP_FAILED) return failed(name, "cannot map the object");
  if (alone) {
    if (initialSize > 0) std::memcpy(section, initial, initialSize);
    if (lockRetrying(fd, LOCK_SH) != 0 || !growTo(fd, size)) {
      failed(name, "cannot share the object");
      munmap(section, size);
      return nullptr;
    }
  }
  return section;
}

void* mapSection(const char* name, size_t size, const void* initial, size_t initialSize) {
  if (name == nullptr || *name == '\0' || size == 0 || initialSize > size ||
      (initial == nullptr && initialSize > 0)) {
    std::fprintf(stderr, "winport: shared section %s: invalid arguments\n", name ? name : "(null)");
    return nullptr;
  }
  std::string object = objectName(name);
  if (object.size() > NAME_MAX) {
    std::fprintf(stderr, "winport: shared section %s: name too long\n", name);
    return nullptr;
  }
  int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return failed(name, "cannot open the object");
  // An object planted by another user (the names are predictable) is not ours to trust.
  struct stat info;
  bool statted = fstat(fd, &info) == 0;
  if (!statted || info.st_uid != geteuid()) {
    if (statted) errno = EPERM;
    failed(name, statted ? "the object belongs to another user" : "cannot examine the object");
    close(fd);
    return nullptr;
  }
  void* section = attach(fd, name, size, initial, initialSize);
  if (section == nullptr) {
    close(fd);  // drops this process's lock with it
    return nullptr;
  }
  try {
    SectionTable& table = sections();
    std::lock_guard<std::mutex> guard(table.mutex);
    table.live[section] = Mapping{fd, size};
  } catch (...) {
    std::fprintf(stderr, "winport: shared section %s: out of memory\n", name);
    munmap(section, size);
    close(fd);
    return nullptr;
  }
  return section;
}

}  // namespace

}  // namespace winport::shm

WINPORT_API void* winport_shared_section_map(const char* name, size_t size, const void* initial,
                                             size_t initialSize) {
  return winport::shm::mapSection(name, size, initial, initialSize);
}

WINPORT_API void winport_shared_section_unmap(void* section) {
  if (section == nullptr) return;
  winport::shm::Mapping mapping;
  try {
    auto& table = winport::shm::sections();
    std::lock_guard<std::mutex> guard(table.mutex);
    auto found = table.live.find(section);
    if (found == table.live.end()) {
      std::fprintf(stderr, "winport: shared section at %p is not mapped\n", section);
      return;
    }
    mapping = found->second;
    table.live.erase(found);
  } catch (...) {
    return;  // only the mutex could throw; nothing was changed
  }
  munmap(section, mapping.size);
  close(mapping.fd);
}
