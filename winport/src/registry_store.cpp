// Which registry file is read, whether it may be trusted, and when it is read
// again.
//
// The file names libraries that get loaded into the process, so it is treated
// like code: a file that anyone but its owner can write, or that belongs to a
// user other than root or this process's effective user, is refused and the
// registry is empty. The check runs on the opened descriptor, so the file
// examined is the file read. Every problem is written to stderr once per
// version of the file (a version being what the cache identity tells apart).
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "internal.h"
#include "registry_tree.h"

namespace winport::reg {

namespace {

constexpr const char* kSystemFile = "/etc/winport/registry.reg";

// Where an installation keeps the layer and its registry file, relative to the
// installation prefix (set by the build from its install rules).
#ifndef WINPORT_INSTALLED_LIBRARY_FOLDER
#define WINPORT_INSTALLED_LIBRARY_FOLDER "lib/ferrox"
#endif
#ifndef WINPORT_INSTALLED_REGISTRY
#define WINPORT_INSTALLED_REGISTRY "etc/ferrox/registry.reg"
#endif
constexpr const char* kLocalFileName = "registry.reg";

struct FileIdentity {
  std::string path;
  bool present = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  mode_t mode = 0;
  uid_t owner = 0;

  bool operator==(const FileIdentity& o) const {
    return path == o.path && present == o.present && device == o.device && inode == o.inode &&
           size == o.size && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec && mode == o.mode && owner == o.owner;
  }
};

FileIdentity identityOf(const std::string& path, const struct stat* info) {
  FileIdentity id;
  id.path = path;
  if (info == nullptr) return id;
  id.present = true;
  id.device = info->st_dev;
  id.inode = info->st_ino;
  id.size = info->st_size;
  id.modified = info->st_mtim;
  id.mode = info->st_mode;
  id.owner = info->st_uid;
  return id;
}

struct Choice {
  std::string path;
  bool named = false;  // by WINPORT_REGISTRY: its absence is worth a message
};

std::string besideProgram() {
  char buffer[4096];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) return {};
  std::string path(buffer, static_cast<size_t>(length));
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1) + kLocalFileName;
}

// The registry file of the installation this layer belongs to, or "" when the
// layer does not lie in an installation's library folder. The prefix is read
// off the layer's own canonical path, so a moved installation still finds its
// file; a prefix <root>/usr keeps it in <root>/etc, as the install rules do
// (/usr in /etc; a package unpacked into a scratch root in <root>/etc).
std::string ofInstallation() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&ofInstallation), &info) == 0 || info.dli_fname == nullptr)
    return {};
  char* canonical = realpath(info.dli_fname, nullptr);
  if (canonical == nullptr) return {};
  std::string path = canonical;
  free(canonical);
  const std::string folder = std::string("/") + WINPORT_INSTALLED_LIBRARY_FOLDER + "/";
  size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash + 1 < folder.size()) return {};
  const size_t start = slash + 1 - folder.size();
  if (path.compare(start, folder.size(), folder) != 0) return {};
  std::string prefix = path.substr(0, start);
  // A prefix <root>/usr keeps its configuration in <root>/etc.
  const std::string usr = "/usr";
  if (prefix.size() >= usr.size() && prefix.compare(prefix.size() - usr.size(), usr.size(), usr) == 0)
    prefix.resize(prefix.size() - usr.size());
  return prefix + "/" + WINPORT_INSTALLED_REGISTRY;
}

// secure_getenv: a set-user-id program does not let its caller pick the file.
Choice chooseFile() {
  const char* named = secure_getenv("WINPORT_REGISTRY");
  if (named != nullptr && *named != '\0') return {named, true};
  std::string local = besideProgram();
  struct stat info;
  if (!local.empty() && stat(local.c_str(), &info) == 0) return {local, false};
  std::string installed = ofInstallation();
  if (!installed.empty()) return {installed, false};
  return {kSystemFile, false};
}

FILETIME fileTimeOf(const timespec& t) {
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
  int64_t ticks = 0;
  if (t.tv_sec >= -kSecondsFrom1601To1970) {
    ticks = (static_cast<int64_t>(t.tv_sec) + kSecondsFrom1601To1970) * 10000000 + t.tv_nsec / 100;
  }
  auto unsignedTicks = static_cast<uint64_t>(ticks);
  return {static_cast<DWORD>(unsignedTicks), static_cast<DWORD>(unsignedTicks >> 32)};
}

std::shared_ptr<const Tree> emptyTree() {
  auto tree = std::make_shared<Tree>();
  tree->finish();
  return tree;
}

// Why the opened file may not be used; nullptr when it may.
const char* refusalOf(const struct stat& info) {
  if (!S_ISREG(info.st_mode)) return "it is not a regular file";
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "users other than its owner can write it";
  if (info.st_uid != 0 && info.st_uid != geteuid()) return "it belongs to another user";
  if (static_cast<uint64_t>(info.st_size) > kMaxFileSize) return "it is larger than 16 MiB";
  return nullptr;
}

// Reads the whole descriptor, at most kMaxFileSize + 1 bytes (the file may grow
// while it is read; the excess is refused rather than cut off silently).
bool readAll(int fd, std::string& text) {
  char chunk[65536];
  for (;;) {
    ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    text.append(chunk, static_cast<size_t>(got));
    if (text.size() > kMaxFileSize) return false;
  }
}

struct Loaded {
  FileIdentity identity;
  std::shared_ptr<const Tree> tree;
};

std::shared_ptr<Tree> parseAndReport(const std::string& path, const std::string& text) {
  ParseResult parsed = parseRegFile(text);
  if (parsed.badLines > 0) {
    std::fprintf(stderr, "winport: registry file %s, line %u: %s", path.c_str(),
                 parsed.firstBadLine, parsed.firstProblem.c_str());
    if (parsed.badLines > 1) std::fprintf(stderr, " (%u malformed lines skipped)", parsed.badLines);
    std::fprintf(stderr, "\n");
  }
  return parsed.tree;
}

// Entry: `seen` is what stat said of the chosen path. The identity returned
// describes the content read (the descriptor's), so a change made while the
// file was being read is noticed at the next check.
Loaded load(const Choice& choice, const FileIdentity& seen) {
  if (!seen.present) {
    if (choice.named) {
      std::fprintf(stderr, "winport: registry file %s (WINPORT_REGISTRY) does not exist; the "
                   "registry is empty\n", choice.path.c_str());
    }
    return {seen, emptyTree()};
  }
  int fd = open(choice.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    std::fprintf(stderr, "winport: registry file %s cannot be opened (%s); the registry is empty\n",
                 choice.path.c_str(), std::strerror(errno));
    return {seen, emptyTree()};
  }
  struct stat info;
  Loaded result{seen, nullptr};
  std::string text;
  const char* refusal = nullptr;
  if (fstat(fd, &info) != 0) {
    refusal = "its status cannot be read";
  } else {
    result.identity = identityOf(choice.path, &info);
    refusal = refusalOf(info);
    if (refusal == nullptr && !readAll(fd, text)) refusal = "it cannot be read whole";
  }
  close(fd);
  if (refusal != nullptr) {
    std::fprintf(stderr, "winport: registry file %s refused: %s; the registry is empty\n",
                 choice.path.c_str(), refusal);
    result.tree = emptyTree();
    return result;
  }
  auto tree = parseAndReport(choice.path, text);
  tree->lastWrite = fileTimeOf(info.st_mtim);
  result.tree = std::move(tree);
  return result;
}

struct Store {
  std::mutex mutex;
  FileIdentity identity;
  std::shared_ptr<const Tree> tree;
};

// Never destroyed: modules may close keys from their own finalisers at exit.
Store& store() {
  static Store* instance = new Store;
  return *instance;
}

}  // namespace

std::string registryFilePath() { return chooseFile().path; }

std::shared_ptr<const Tree> currentTree() {
  Store& s = store();
  std::lock_guard<std::mutex> guard(s.mutex);
  Choice choice = chooseFile();
  struct stat info;
  bool present = stat(choice.path.c_str(), &info) == 0;
  FileIdentity seen = identityOf(choice.path, present ? &info : nullptr);
  if (s.tree != nullptr && seen == s.identity) return s.tree;
  Loaded loaded = load(choice, seen);
  s.identity = std::move(loaded.identity);
  s.tree = std::move(loaded.tree);
  return s.tree;
}

}  // namespace winport::reg

DWORD winport_registry_file(char* buffer, DWORD size) {
  return winport::guarded<DWORD>(0, [&]() -> DWORD {
    return winport::copyPathResult(winport::reg::registryFilePath(), buffer, size);
  });
}
