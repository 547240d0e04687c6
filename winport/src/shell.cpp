// ShellExecuteA: starts an executable or hands a file to the desktop's opener,
// always with an argument list (no shell), in a detached process.
#include "winport/shell.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "internal.h"

namespace {

constexpr HINSTANCE kStarted = 42;  // any value above 32 means success

bool isDefaultVerb(const char* verb) {
  return verb == nullptr || *verb == '\0' || strcasecmp(verb, "open") == 0;
}

UINT errorForMissing(int error) {
  if (error == ENOENT) return SE_ERR_FNF;
  if (error == ENOTDIR) return SE_ERR_PNF;
  return SE_ERR_ACCESSDENIED;
}

// Blank-separated words; "double quotes" group blanks into a word.
std::vector<std::string> splitParameters(const char* parameters) {
  std::vector<std::string> words;
  if (parameters == nullptr) return words;
  std::string word;
  bool inWord = false, quoted = false;
  for (const char* c = parameters; *c != '\0'; ++c) {
    if (*c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if ((*c == ' ' || *c == '\t') && !quoted) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += *c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

std::string absolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) == nullptr) return path;
  return std::string(cwd) + "/" + path;
}

// The desktop's opener on PATH; empty when there is none.
std::string findOpener() {
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string folder = folders.substr(start, end - start);
    start = end + 1;
    if (folder.empty()) continue;
    std::string candidate = folder + "/xdg-open";
    struct stat info;
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return "";
}

// Starts argv[0] in a grandchild, so the caller never waits for it and it
// never lingers as a zombie; a close-on-exec pipe carries back an exec failure.
UINT spawnDetached(const std::vector<std::string>& arguments, const char* directory) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return SE_ERR_OOM;
  pid_t middle = fork();
  if (middle < 0) {
    close(report[0]);
    close(report[1]);
    return SE_ERR_OOM;
  }
  if (middle == 0) {
    // Only async-signal-safe calls from here on.
    close(report[0]);
    setsid();  // the started program outlives the caller's session
    pid_t child = fork();
    if (child == 0) {
      int error = 0;
      if (directory != nullptr && *directory != '\0' && chdir(directory) != 0) {
        error = errno;
      } else {
        execv(argv[0], argv.data());
        error = errno;
      }
      ssize_t sent = write(report[1], &error, sizeof error);
      (void)sent;
      _exit(127);
    }
    _exit(child < 0 ? 1 : 0);
  }
  close(report[1]);
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {}
  int error = 0;
  ssize_t got;
  while ((got = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {}
  close(report[0]);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return SE_ERR_OOM;
  if (got == static_cast<ssize_t>(sizeof error)) return errorForMissing(error);
  return kStarted;
}

HINSTANCE shellExecute(const char* verb, const char* file, const char* parameters,
                       const char* directory) {
  if (file == nullptr || *file == '\0') return SE_ERR_FNF;
  if (!isDefaultVerb(verb)) return SE_ERR_NOASSOC;
  struct stat info;
  if (stat(file, &info) != 0) return errorForMissing(errno);
  std::vector<std::string> arguments;
  if (S_ISREG(info.st_mode) && access(file, X_OK) == 0) {
    arguments.push_back(absolutePath(file));
    for (std::string& word : splitParameters(parameters)) arguments.push_back(std::move(word));
  } else {
    std::string opener = findOpener();
    if (opener.empty()) return SE_ERR_NOASSOC;
    arguments = {opener, absolutePath(file)};
  }
  return spawnDetached(arguments, directory);
}

}  // namespace

HINSTANCE ShellExecuteA(HWND /*owner*/, const char* verb, const char* file,
                        const char* parameters, const char* directory, int /*show*/) {
  return winport::guarded<HINSTANCE>(SE_ERR_OOM, [&] {
    return shellExecute(verb, file, parameters, directory);
  });
}
