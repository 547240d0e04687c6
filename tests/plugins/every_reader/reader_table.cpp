// The reader table: the readers the suite covers and the files each is tried
// on (their recipes are in reader_recipes_tools.cpp).
#include "reader_table.h"

#include <stdexcept>

namespace everyreader {

const std::vector<ReaderTraits>& Readers() {
  static const std::vector<ReaderTraits> readers = {
      {"rdtiff", "rdtiff.DIL", 1, true, false},  {"rdfax", "rdfax.DIL", 1, true, false},
      {"rdjpeg", "rdjpeg.DIL", 1, false, false}, {"rdpng", "rdpng.DIL", 1, false, false},
      {"rdgif", "rdgif.DIL", 1, false, false},   {"rdpcx", "rdpcx.DIL", 1, true, false},
      {"rdtga", "rdtga.DIL", 2, false, false},   {"rdgem", "rdgem.DIL", 1, false, false},
      {"rdpcd", "rdpcd.DIL", 2, false, true},
  };
  return readers;
}

const ReaderTraits& TraitsOf(const char* reader) {
  for (const ReaderTraits& traits : Readers())
    if (std::string(traits.name) == reader) return traits;
  throw std::invalid_argument(reader);
}

const std::vector<FileCase>& Files() {
  static const std::vector<FileCase> files = {
      {"rdtiff", "tiff-grey-8", false},          {"rdtiff", "tiff-rgb-24-packbits", false},
      {"rdtiff", "tiff-bilevel-1-g4", false},    {"rdtiff", "tiff-pages-3", false},
      {"rdfax", "fax-bilevel-1-g3", false},      {"rdfax", "fax-pages-2-g3-strips", false},
      {"rdjpeg", "jpeg-grey-8", false},          {"rdjpeg", "jpeg-rgb-24-h2v2", false},
      {"rdjpeg", "jpeg-rgb-24-h1v1-restart", false},
      {"rdpng", "png-grey-8", false},            {"rdpng", "png-palette-2", false},
      {"rdpng", "png-palette-8", false},         {"rdpng", "png-rgb-24", false},
      {"rdpng", "png-rgb-24-interlaced", true},
      {"rdgif", "gif-palette-8", false},         {"rdgif", "gif-palette-4-interlaced", false},
      {"rdgif", "gif-bilevel-1", false},
      {"rdpcx", "pcx-bilevel-1", false},         {"rdpcx", "pcx-planar-4", false},
      {"rdpcx", "pcx-palette-8", false},         {"rdpcx", "pcx-rgb-24", false},
      {"rdpcx", "dcx-pages-3", false},
      {"rdtga", "tga-rgb-24-rle", false},        {"rdtga", "tga-rgb-24", false},
      {"rdtga", "tga-palette-8", false},         {"rdtga", "tga-grey-8", false},
      {"rdgem", "gem-bilevel-1", false},         {"rdgem", "gem-bilevel-1-wide", false},
      {"rdpcd", "pcd-rgb-24", false},
  };
  return files;
}

std::vector<FileCase> PagedFiles() {
  std::vector<FileCase> paged;
  for (const FileCase& c : Files())
    if (TraitsOf(c.reader).pages) paged.push_back(c);
  return paged;
}

std::string CaseName(const FileCase& c) {
  std::string name = std::string(c.reader) + "_" + c.label;
  for (char& ch : name)
    if (ch == '-') ch = '_';
  return name;
}

}  // namespace everyreader
