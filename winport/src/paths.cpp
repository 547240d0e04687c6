#include "paths.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string_view>

namespace winport {

namespace {

bool isRegularFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

struct FreeText {
  void operator()(char* text) const { free(text); }
};

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The path with every link, "." and ".." resolved; "" when it does not exist.
std::string resolvedPath(const std::string& path) {
  std::unique_ptr<char, FreeText> resolved(realpath(path.c_str(), nullptr));
  return resolved ? std::string(resolved.get()) : std::string();
}

// The system names the running program by its resolved path (no links, no
// "." or ".." parts), so that text is already canonical; resolving it again
// only repeats the walk. A program whose file was deleted while it runs is
// named with a " (deleted)" tail: then the path is resolved, and fails, as
// any vanished file's does.
std::string findProgramPath() {
  char text[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", text, sizeof text);
  constexpr std::string_view kDeleted = " (deleted)";
  if (length > 0 && static_cast<size_t>(length) < sizeof text && text[0] == '/') {
    const std::string_view found(text, static_cast<size_t>(length));
    if (found.size() < kDeleted.size() ||
        found.substr(found.size() - kDeleted.size()) != kDeleted)
      return std::string(found);
  }
  return resolvedPath("/proc/self/exe");
}

}  // namespace

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

std::string canonicalPath(const std::string& path) {
  if (path.empty()) {
    errno = ENOENT;
    return {};
  }
  // A file right in the program's folder, where the suite's modules lie: the
  // folder is canonical already, so the path is when the file itself is no
  // link (one status call instead of a walk over every folder on the path).
  const std::string folder = programDirectory();
  if (!folder.empty() && folder != "/" && path.size() > folder.size() + 1 &&
      path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/') {
    const std::string name = path.substr(folder.size() + 1);
    struct stat info {};
    if (name.find('/') == std::string::npos && name != "." && name != ".." &&
        lstat(path.c_str(), &info) == 0 && !S_ISLNK(info.st_mode))
      return path;
  }
  return resolvedPath(path);
}

std::string programPath() {
  // The program never moves while it runs; kept on the heap so the text
  // outlives static destruction (modules still detach after it).
  static const std::string* const path = new std::string(findProgramPath());
  return *path;
}

std::string directoryOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string programDirectory() {
  std::string program = programPath();
  return program.empty() ? std::string() : directoryOf(program);
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string absolutePath(const std::string& path) {
  if (!path.empty() && path.front() == '/') return path;
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) return path;
  return joinPath(cwd, path);
}

std::string findFileIgnoringCase(const std::string& folder, const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return {};
  std::string exact = joinPath(folder, name);
  if (isRegularFile(exact)) return exact;

  std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
  if (!dir) return {};
  std::string best;
  while (const dirent* entry = readdir(dir.get())) {
    std::string candidate = entry->d_name;
    if (!equalsIgnoringCase(candidate, name)) continue;
    if (!best.empty() && candidate >= best) continue;
    if (isRegularFile(joinPath(folder, candidate))) best = candidate;
  }
  return best.empty() ? std::string() : joinPath(folder, best);
}

}  // namespace winport
