// Which library files may be loaded.
//
// A library runs as the process that loads it, so it is trusted like the
// registry file that names it: refused when anyone but its owner or root can
// write it, when it belongs to another user than root or this process's
// effective user, or when a folder on its path could let someone else put
// another file in its place (a folder another user owns, or one its group or
// others may write without the sticky bit). The path is canonical, so every
// folder checked is one the file really lies in; with all of them safe, the
// file examined is the file the loader then opens.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "internal.h"
#include "module_trust.h"
#include "winport/module.h"

namespace {

struct LastRefusal {
  std::mutex mutex;
  std::string text;  // "<path>: <reason>"
};

// Never destroyed: modules load others from their finalisers at exit.
LastRefusal& lastRefusal() {
  static LastRefusal* last = new LastRefusal;
  return *last;
}

bool ownedByAnotherUser(const struct stat& info) { return info.st_uid != 0 && info.st_uid != geteuid(); }

const char* folderRefusal(const std::string& folder) {
  struct stat info;
  if (stat(folder.c_str(), &info) != 0) return "a folder on its path cannot be examined";
  if (ownedByAnotherUser(info)) return "a folder on its path belongs to another user";
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0)
    return "a folder on its path can be written by users other than its owner";
  return nullptr;
}

}  // namespace

namespace winport {

const char* libraryRefusal(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return "its status cannot be read";
  if (!S_ISREG(info.st_mode)) return "it is not a regular file";
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "users other than its owner can write it";
  if (ownedByAnotherUser(info)) return "it belongs to another user";
  for (size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0;
       slash = path.rfind('/', slash - 1)) {
    if (const char* refusal = folderRefusal(path.substr(0, slash))) return refusal;
  }
  return folderRefusal("/");
}

void reportLibraryRefusal(const std::string& path, const char* reason) {
  std::fprintf(stderr, "winport: library %s refused: %s; it is not loaded\n", path.c_str(), reason);
  LastRefusal& last = lastRefusal();
  std::lock_guard<std::mutex> lock(last.mutex);
  last.text = path + ": " + reason;
}

}  // namespace winport

DWORD winport_last_module_refusal(char* buffer, DWORD size) {
  return winport::guarded<DWORD>(0, [&]() -> DWORD {
    LastRefusal& last = lastRefusal();
    std::lock_guard<std::mutex> lock(last.mutex);
    return winport::copyPathResult(last.text, buffer, size);
  });
}
