#include "tool_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "plugin_loader.h"

extern char** environ;

namespace hosttest {

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs argv[0] (searched on PATH) with stdout and stderr sent to files.
ToolRun Spawn(const std::vector<std::string>& argv, const std::string& outPath,
              const std::string& errPath) {
  ToolRun run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  int status = 0;
  struct rusage usage {};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.peakRssKiB = static_cast<uint64_t>(usage.ru_maxrss);
  return run;
}

}  // namespace

ToolRun RunProgram(const std::vector<std::string>& argv, const std::string& stdoutFile) {
  testsupport::TempDir scratch;
  const std::string out = stdoutFile.empty() ? scratch.file("stdout") : stdoutFile;
  ToolRun run = Spawn(argv, out, scratch.file("stderr"));
  if (stdoutFile.empty()) run.out = Slurp(out);
  run.err = Slurp(scratch.file("stderr"));
  return run;
}

pid_t StartProgram(const std::vector<std::string>& argv, const std::string& stdoutFile,
                   const std::string& stderrFile) {
  std::vector<char*> pointers;
  for (const std::string& arg : argv) pointers.push_back(const_cast<char*>(arg.c_str()));
  pointers.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid = -1;
  if (posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int WaitProgram(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Reads the pending-signal masks of /proc/PID/status (thread and process).
bool SignalTaken(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  const uint64_t bit = uint64_t{1} << (signal - 1);
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigPnd:", 0) != 0 && line.rfind("ShdPnd:", 0) != 0) continue;
    if (std::stoull(line.substr(7), nullptr, 16) & bit) return false;
  }
  return true;
}

ToolRun RunImagehost(const std::vector<std::string>& args) {
  std::vector<std::string> argv{testsupport::binPath("imagehost")};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv);
}

ToolRun RunImagehostMeasured(const std::vector<std::string>& args) {
  const char* time = "/usr/bin/time";
  if (access(time, X_OK) == 0) {
    testsupport::TempDir scratch;
    std::vector<std::string> argv{
        time, "-f", "%M", "-o", scratch.file("rss"), testsupport::binPath("imagehost")};
    argv.insert(argv.end(), args.begin(), args.end());
    ToolRun run = RunProgram(argv);
    std::string report = Slurp(scratch.file("rss"));  // the figure is on the last line
    size_t last = report.find_last_of('\n', report.size() >= 2 ? report.size() - 2 : 0);
    run.peakRssKiB =
        std::strtoull(report.c_str() + (last == std::string::npos ? 0 : last + 1), nullptr, 10);
    return run;
  }
  // A spawned child starts from the peak of the process it was spawned from:
  // reset this process's peak first.
  std::ofstream("/proc/self/clear_refs") << "5";
  return RunImagehost(args);
}

bool HaveProgram(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');)
    if (!folder.empty() && access((folder + "/" + program).c_str(), X_OK) == 0) return true;
  return false;
}

std::string SamplesDir() { return SUITE_SAMPLES_DIR; }

std::string Sample(const std::string& name) { return SamplesDir() + "/" + name; }

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::string text = Slurp(path);
  return std::vector<uint8_t>(text.begin(), text.end());
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

bool SameFiles(const std::string& a, const std::string& b) {
  std::ifstream first(a, std::ios::binary), second(b, std::ios::binary);
  std::vector<char> x(1 << 16), y(1 << 16);
  while (first && second) {
    first.read(x.data(), static_cast<std::streamsize>(x.size()));
    second.read(y.data(), static_cast<std::streamsize>(y.size()));
    if (first.gcount() != second.gcount() ||
        !std::equal(x.begin(), x.begin() + first.gcount(), y.begin()))
      return false;
  }
  return !first && !second;
}

bool Exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

namespace {

uint32_t Le(const std::vector<uint8_t>& b, size_t at, int bytes) {
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | b[at + static_cast<size_t>(i)];
  return value;
}

}  // namespace

Pixels DecodeBmp(const std::vector<uint8_t>& b) {
  Pixels image;
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M' || Le(b, 14, 4) != 40 || Le(b, 30, 4) != 0) {
    ADD_FAILURE() << "not an uncompressed BMP with a BITMAPINFOHEADER";
    return image;
  }
  const int32_t width = static_cast<int32_t>(Le(b, 18, 4));
  const int32_t rawHeight = static_cast<int32_t>(Le(b, 22, 4));
  const uint32_t bits = Le(b, 28, 2);
  const uint32_t height = static_cast<uint32_t>(rawHeight < 0 ? -rawHeight : rawHeight);
  const uint32_t offset = Le(b, 10, 4);
  const uint64_t stride = ((uint64_t(width) * bits + 31) / 32) * 4;
  const uint32_t colors = Le(b, 46, 4) != 0 ? Le(b, 46, 4) : (bits <= 8 ? 1u << bits : 0);
  if (width <= 0 || offset + stride * height > b.size() || 54 + 4 * colors > offset) {
    ADD_FAILURE() << "BMP geometry does not fit the file";
    return image;
  }
  image.width = static_cast<uint32_t>(width);
  image.height = height;
  for (uint32_t y = 0; y < height; ++y) {
    const uint32_t fileRow = rawHeight < 0 ? y : height - 1 - y;
    const uint8_t* row = b.data() + offset + fileRow * stride;
    for (uint32_t x = 0; x < image.width; ++x) {
      if (bits == 24) {
        image.rgb.insert(image.rgb.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
        continue;
      }
      const uint32_t perByte = 8 / bits;
      const uint32_t shift = 8 - bits * (x % perByte + 1);
      const uint32_t index = (row[x / perByte] >> shift) & ((1u << bits) - 1);
      const size_t entry = 54 + 4 * size_t{index};
      if (index >= colors) ADD_FAILURE() << "pixel index beyond the colour table";
      image.rgb.insert(image.rgb.end(), {b[entry + 2], b[entry + 1], b[entry]});
    }
  }
  return image;
}

Pixels DecodePnm(const std::vector<uint8_t>& b) {
  Pixels image;
  std::istringstream head(
      std::string(b.begin(), b.begin() + static_cast<ptrdiff_t>(std::min<size_t>(b.size(), 64))));
  std::string magic;
  uint32_t maxval = 1;
  head >> magic >> image.width >> image.height;
  if (magic != "P4") head >> maxval;
  const size_t start = static_cast<size_t>(head.tellg()) + 1;
  const size_t rowBytes =
      magic == "P4" ? (image.width + 7) / 8 : image.width * (magic == "P6" ? 3 : 1);
  if (!head || (magic != "P4" && maxval != 255) || start + rowBytes * image.height > b.size()) {
    ADD_FAILURE() << "unexpected netpbm output " << magic;
    return Pixels{};
  }
  for (uint32_t y = 0; y < image.height; ++y) {
    const uint8_t* row = b.data() + start + y * rowBytes;
    for (uint32_t x = 0; x < image.width; ++x) {
      if (magic == "P4") {
        uint8_t level = ((row[x / 8] >> (7 - x % 8)) & 1) ? 0 : 255;
        image.rgb.insert(image.rgb.end(), {level, level, level});
      } else if (magic == "P5") {
        image.rgb.insert(image.rgb.end(), {row[x], row[x], row[x]});
      } else {
        image.rgb.insert(image.rgb.end(), row + 3 * x, row + 3 * x + 3);
      }
    }
  }
  return image;
}

Pixels DibRowsToPixels(uint32_t width, uint32_t height, uint32_t bitCount, const uint8_t* palette,
                       size_t paletteEntries, const std::vector<std::vector<uint8_t>>& rows) {
  Pixels p{width, height, {}};
  for (const std::vector<uint8_t>& row : rows) {
    for (uint32_t x = 0; x < width; ++x) {
      if (bitCount == 24) {
        p.rgb.insert(p.rgb.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
        continue;
      }
      const uint32_t bit = x * bitCount;
      const uint32_t index = (row[bit / 8] >> (8 - bitCount - bit % 8)) & ((1u << bitCount) - 1);
      if (index >= paletteEntries) {
        ADD_FAILURE() << "index " << index << " past a palette of " << paletteEntries;
        return {};
      }
      const uint8_t* q = palette + 4 * index;
      p.rgb.insert(p.rgb.end(), {q[2], q[1], q[0]});
    }
  }
  return p;
}

std::vector<uint8_t> EncodePbm(uint32_t width, uint32_t height, const std::vector<uint8_t>& bits) {
  std::string head = "P4\n" + std::to_string(width) + " " + std::to_string(height) + "\n";
  std::vector<uint8_t> bytes(head.begin(), head.end());
  bytes.insert(bytes.end(), bits.begin(), bits.end());
  return bytes;
}

}  // namespace hosttest
