// Runs build/bin/imagehost as a subprocess and collects what it did, and
// reads the images it makes (our own decoders, plus netpbm and ImageMagick
// when installed).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace hosttest {

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
  uint64_t peakRssKiB = 0;  // the child's maximum resident set
};

// imagehost with `args`; stdin is /dev/null, stdout and stderr are captured.
ToolRun RunImagehost(const std::vector<std::string>& args);
// The same, with peakRssKiB measuring the tool alone (through /usr/bin/time
// when installed, else from the child's own resource usage).
ToolRun RunImagehostMeasured(const std::vector<std::string>& args);
// Any program found on PATH; `stdoutFile` (when not empty) receives its stdout.
ToolRun RunProgram(const std::vector<std::string>& argv, const std::string& stdoutFile = "");
// `argv` (argv[0] a path) started and not waited for: stdin /dev/null, stdout
// and stderr into the files named; -1 when it cannot be started.
pid_t StartProgram(const std::vector<std::string>& argv, const std::string& stdoutFile,
                   const std::string& stderrFile);
// The exit status of a started program (128 + signal when killed).
int WaitProgram(pid_t pid);
// True once `signal` is no longer pending for process `pid`: its handler has taken it.
bool SignalTaken(pid_t pid, int signal);
// True when `program` is found on PATH.
bool HaveProgram(const std::string& program);

std::string SamplesDir();
std::string Sample(const std::string& name);

std::vector<uint8_t> ReadBytes(const std::string& path);
// Compares two files in chunks (they may be large).
bool SameFiles(const std::string& a, const std::string& b);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool Exists(const std::string& path);

// An image as RGB triples, top row first.
struct Pixels {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgb;
  bool operator==(const Pixels&) const = default;
};

// Our decoder for uncompressed 1/4/8/24-bit BMP files of either row order;
// fails the current test (and returns empty) on anything else.
Pixels DecodeBmp(const std::vector<uint8_t>& bytes);
// Binary netpbm images: P4 (1 = black), P5 and P6 with maxval 255.
Pixels DecodePnm(const std::vector<uint8_t>& bytes);
// DIB rows, top row first, as RGB: 24-bit rows blue, green, red; rows of 1-,
// 4- or 8-bit indices through `palette` (4 bytes an entry: blue, green, red,
// unused). An index past the palette fails the current test.
Pixels DibRowsToPixels(uint32_t width, uint32_t height, uint32_t bitCount, const uint8_t* palette,
                       size_t paletteEntries, const std::vector<std::vector<uint8_t>>& rows);
// A monochrome PBM (P4) file from packed rows, a set bit black.
std::vector<uint8_t> EncodePbm(uint32_t width, uint32_t height, const std::vector<uint8_t>& bits);

}  // namespace hosttest
