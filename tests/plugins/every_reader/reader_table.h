// The readers the contract suite covers, what each answers where readers are
// allowed to differ, and the files each is tried on.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace everyreader {

using Bytes = std::vector<uint8_t>;

// What a reader does where the readers differ.
struct ReaderTraits {
  const char* name;         // "rdtiff"
  const char* module;       // "rdtiff.DIL"
  int32_t verifyAnswer;     // OVDLverify_img on one of its files: 1, or 2 without a signature
  bool pages;               // exports OVDLset_page / OVDLget_page
  bool viaLibrary;          // rows come from a library that opens the file by name; a failing
                            // call answers 0 (id 1 or 2); reading does not move the current row;
                            // OVDLset_row takes any row
};

// One file of a reader's format, made by independent tools at test time.
struct FileCase {
  const char* reader;  // ReaderTraits::name
  const char* label;   // <format>-<colour>-<bits>[-<compression>][-<what else>]
  bool wholeImageOnly; // read in one call of the whole image (interlaced PNG)
};

const std::vector<ReaderTraits>& Readers();
const ReaderTraits& TraitsOf(const char* reader);
// Every file of every reader.
const std::vector<FileCase>& Files();
// The files of the readers with pages.
std::vector<FileCase> PagedFiles();

// Makes the file of `c` in `dir` (a folder that outlives the call). Empty,
// with the reason in `why`, when a tool is missing or fails.
Bytes MakeFile(const FileCase& c, const std::string& dir, std::string& why);

// Parameter names: "rdtiff_tiff_grey_8".
std::string CaseName(const FileCase& c);
inline std::ostream& operator<<(std::ostream& out, const FileCase& c) {
  return out << c.reader << " on " << c.label;
}

}  // namespace everyreader
