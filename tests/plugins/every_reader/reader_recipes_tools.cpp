// The recipes of the files the suite tries each reader on. Source pictures
// are netpbm images the suite builds itself; the format files come from
// independent writers, so the suite does not test the readers against its own
// idea of the formats.
#include <functional>
#include <map>

#include "reader_table.h"
#include "tool_runner.h"

namespace everyreader {
namespace {

// ---------------------------------------------------------------------------
// Source pictures.

std::string NetpbmHead(const char* magic, uint32_t width, uint32_t height, bool maxval) {
  return std::string(magic) + "\n" + std::to_string(width) + " " + std::to_string(height) + "\n" +
         (maxval ? "255\n" : "");
}

// A bilevel picture of stripes, a diagonal and noise-like texture.
Bytes Pbm(uint32_t width, uint32_t height, uint32_t seed) {
  const std::string head = NetpbmHead("P4", width, height, false);
  Bytes out(head.begin(), head.end());
  const uint32_t rowBytes = (width + 7) / 8;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t b = 0; b < rowBytes; ++b) {
      uint8_t byte = 0;
      for (uint32_t bit = 0; bit < 8; ++bit) {
        const uint32_t x = b * 8 + bit;
        const bool black = x < width && (((x / 5 + y / 3 + seed) % 4 == 0) || x == y ||
                                         ((x * 7 + y * 13 + seed) % 11 == 0));
        byte = static_cast<uint8_t>(byte | (black ? 0x80 >> bit : 0));
      }
      out.push_back(byte);
    }
  }
  return out;
}

// A grey ramp with texture.
Bytes Pgm(uint32_t width, uint32_t height, uint32_t seed) {
  const std::string head = NetpbmHead("P5", width, height, true);
  Bytes out(head.begin(), head.end());
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      out.push_back(static_cast<uint8_t>(x * 255 / (width + 1) + ((x * y + seed) % 7) * 3));
  return out;
}

// A colour picture. `colours` 0: a smooth gradient of many colours; else
// blocks drawn from that many distinct, non-grey colours.
Bytes Ppm(uint32_t width, uint32_t height, uint32_t colours, uint32_t seed) {
  const std::string head = NetpbmHead("P6", width, height, true);
  Bytes out(head.begin(), head.end());
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      if (colours == 0) {
        out.insert(out.end(), {static_cast<uint8_t>(x * 5 + seed), static_cast<uint8_t>(y * 9),
                               static_cast<uint8_t>((x + y) * 3 + (x * y) % 13)});
        continue;
      }
      const uint32_t k = ((x / 3) * 7 + (y / 2) * 3 + seed) % colours;
      out.insert(out.end(), {static_cast<uint8_t>(k * 37 + 20), static_cast<uint8_t>(k * 91 + 61),
                             static_cast<uint8_t>(k * 53 + 130)});
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// Recipes.

// Runs the tools of one recipe in a folder; the first failure is kept.
class Maker {
 public:
  Maker(std::string dir, std::string& why) : dir_(std::move(dir)), why_(why) {}

  std::string put(const std::string& name, const Bytes& bytes) {
    hosttest::WriteBytes(path(name), bytes);
    return path(name);
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // Runs argv (stdout into `stdoutFile` when given); false, with the reason kept, on failure.
  bool run(const std::vector<std::string>& argv, const std::string& stdoutFile = "") {
    if (!why_.empty()) return false;
    if (!hosttest::HaveProgram(argv[0])) {
      why_ = argv[0] + " is not installed";
      return false;
    }
    hosttest::ToolRun result = hosttest::RunProgram(argv, stdoutFile);
    if (result.exitCode != 0) why_ = argv[0] + " failed: " + result.err;
    return result.exitCode == 0;
  }

  void fail(const std::string& reason) {
    if (why_.empty()) why_ = reason;
  }

  Bytes result(const std::string& file) const {
    return why_.empty() ? hosttest::ReadBytes(path(file)) : Bytes{};
  }

  // An uncompressed bilevel TIFF of `pbm` (ImageMagick), for tiffcp to recode.
  std::string bilevelTiff(const std::string& name, uint32_t width, uint32_t height, uint32_t seed) {
    const std::string pbm = put(name + ".pbm", Pbm(width, height, seed));
    run({"convert", pbm, "-compress", "None", path(name + ".tif")});
    return path(name + ".tif");
  }

 private:
  std::string dir_;
  std::string& why_;
};

using Recipe = std::function<Bytes(Maker&)>;

// A fax file is a little-endian TIFF file marked "FF" in place of "II".
Bytes MarkedAsFax(Maker& m, Bytes file) {
  if (file.empty()) return file;
  if (file.size() < 8 || file[0] != 'I' || file[1] != 'I') {
    m.fail("tiffcp did not write a little-endian file");
    return {};
  }
  file[0] = 'F';
  file[1] = 'F';
  return file;
}

Bytes Convert(Maker& m, const Bytes& source, const char* sourceName, const std::vector<std::string>& options,
              const std::string& out) {
  std::vector<std::string> argv{"convert", m.put(sourceName, source)};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(m.path(out));
  m.run(argv);
  return m.result(out);
}

Bytes Netpbm(Maker& m, const Bytes& source, const char* sourceName, std::vector<std::string> argv,
             const std::string& out) {
  argv.push_back(m.put(sourceName, source));
  m.run(argv, m.path(out));
  return m.result(out);
}

const std::map<std::string, Recipe>& Recipes() {
  static const std::map<std::string, Recipe> recipes = {
      // TIFF: the compressions the reader takes, and pages of differing kinds.
      {"tiff-grey-8", [](Maker& m) { return Convert(m, Pgm(37, 23, 1), "g.pgm", {"-depth", "8", "-compress", "None"}, "o.tif"); }},
      {"tiff-rgb-24-packbits", [](Maker& m) { return Convert(m, Ppm(29, 17, 0, 2), "c.ppm", {"-depth", "8", "-compress", "RLE"}, "o.tif"); }},
      {"tiff-bilevel-1-g4", [](Maker& m) {
         m.run({"tiffcp", "-c", "g4", m.bilevelTiff("b", 203, 31, 3), m.path("o.tif")});
         return m.result("o.tif");
       }},
      {"tiff-pages-3", [](Maker& m) {
         const std::string grey = m.put("g.pgm", Pgm(19, 11, 4));
         const std::string colour = m.put("c.ppm", Ppm(33, 9, 6, 5));
         m.run({"convert", grey, "-depth", "8", "-compress", "None", m.path("g.tif")});
         m.run({"convert", colour, "-depth", "8", "-compress", "RLE", m.path("c.tif")});
         m.run({"tiffcp", "-c", "g3", m.bilevelTiff("b", 70, 14, 6), m.path("b3.tif")});
         m.run({"tiffcp", m.path("g.tif"), m.path("b3.tif"), m.path("c.tif"), m.path("o.tif")});
         return m.result("o.tif");
       }},
      // Fax: one-dimensional T.4 strips written by libtiff, in a file marked "FF".
      {"fax-bilevel-1-g3", [](Maker& m) {
         m.run({"tiffcp", "-c", "g3:1d", m.bilevelTiff("b", 1728, 21, 7), m.path("o.tif")});
         return MarkedAsFax(m, m.result("o.tif"));
       }},
      {"fax-pages-2-g3-strips", [](Maker& m) {
         const std::string a = m.bilevelTiff("a", 96, 19, 8);
         const std::string b = m.bilevelTiff("b", 203, 26, 9);
         m.run({"tiffcp", "-c", "g3:1d:fill", "-r", "7", a, b, m.path("o.tif")});
         return MarkedAsFax(m, m.result("o.tif"));
       }},
      // JPEG: baseline files from cjpeg, grey and colour, subsampled, with restarts.
      {"jpeg-grey-8", [](Maker& m) { return Netpbm(m, Pgm(41, 27, 10), "g.pgm", {"cjpeg", "-quality", "90"}, "o.jpg"); }},
      {"jpeg-rgb-24-h2v2", [](Maker& m) { return Netpbm(m, Ppm(45, 33, 0, 11), "c.ppm", {"cjpeg", "-sample", "2x2"}, "o.jpg"); }},
      {"jpeg-rgb-24-h1v1-restart", [](Maker& m) {
         return Netpbm(m, Ppm(30, 20, 0, 12), "c.ppm", {"cjpeg", "-sample", "1x1", "-restart", "1B"}, "o.jpg");
       }},
      // PNG: grey, palette (2-bit pixels widened), RGB, and an interlaced file.
      {"png-grey-8", [](Maker& m) { return Netpbm(m, Pgm(23, 19, 13), "g.pgm", {"pnmtopng"}, "o.png"); }},
      {"png-palette-2", [](Maker& m) { return Netpbm(m, Ppm(35, 13, 3, 14), "c.ppm", {"pnmtopng"}, "o.png"); }},
      {"png-palette-8", [](Maker& m) { return Netpbm(m, Ppm(50, 21, 100, 15), "c.ppm", {"pnmtopng"}, "o.png"); }},
      {"png-rgb-24", [](Maker& m) { return Netpbm(m, Ppm(31, 22, 0, 16), "c.ppm", {"pnmtopng"}, "o.png"); }},
      {"png-rgb-24-interlaced", [](Maker& m) {
         return Netpbm(m, Ppm(27, 18, 0, 17), "c.ppm", {"pnmtopng", "-interlace"}, "o.png");
       }},
      // GIF: 8-bit and interlaced 4-bit palettes from netpbm, bilevel from ImageMagick.
      {"gif-palette-8", [](Maker& m) { return Netpbm(m, Ppm(44, 25, 200, 18), "c.ppm", {"ppmtogif"}, "o.gif"); }},
      {"gif-palette-4-interlaced", [](Maker& m) {
         return Netpbm(m, Ppm(21, 30, 12, 19), "c.ppm", {"ppmtogif", "-interlace"}, "o.gif");
       }},
      {"gif-bilevel-1", [](Maker& m) { return Convert(m, Pbm(61, 15, 20), "b.pbm", {}, "o.gif"); }},
      // PCX: netpbm's layouts; DCX: three pages from ImageMagick.
      {"pcx-bilevel-1", [](Maker& m) { return Netpbm(m, Pbm(77, 13, 21), "b.pbm", {"ppmtopcx"}, "o.pcx"); }},
      {"pcx-planar-4", [](Maker& m) { return Netpbm(m, Ppm(37, 23, 16, 22), "c.ppm", {"ppmtopcx"}, "o.pcx"); }},
      {"pcx-palette-8", [](Maker& m) { return Netpbm(m, Ppm(40, 18, 200, 23), "c.ppm", {"ppmtopcx", "-8bit"}, "o.pcx"); }},
      {"pcx-rgb-24", [](Maker& m) { return Netpbm(m, Ppm(33, 16, 0, 24), "c.ppm", {"ppmtopcx", "-24bit"}, "o.pcx"); }},
      {"dcx-pages-3", [](Maker& m) {
         const std::string a = m.put("a.ppm", Ppm(45, 17, 0, 25));
         const std::string b = m.put("b.ppm", Ppm(8, 30, 40, 26));
         const std::string c = m.put("c.ppm", Ppm(101, 3, 12, 27));
         m.run({"convert", b, "-type", "palette", m.path("b.pcx")});
         m.run({"convert", a, m.path("b.pcx"), c, m.path("o.dcx")});
         return m.result("o.dcx");
       }},
      // Targa: netpbm's true-colour (run-length and plain), colour-mapped and grey files.
      {"tga-rgb-24-rle", [](Maker& m) { return Netpbm(m, Ppm(39, 21, 0, 28), "c.ppm", {"ppmtotga", "-rgb"}, "o.tga"); }},
      {"tga-rgb-24", [](Maker& m) { return Netpbm(m, Ppm(26, 14, 0, 29), "c.ppm", {"ppmtotga", "-rgb", "-norle"}, "o.tga"); }},
      {"tga-palette-8", [](Maker& m) { return Netpbm(m, Ppm(34, 19, 50, 30), "c.ppm", {"ppmtotga", "-cmap"}, "o.tga"); }},
      {"tga-grey-8", [](Maker& m) { return Netpbm(m, Pgm(22, 17, 31), "g.pgm", {"ppmtotga", "-mono"}, "o.tga"); }},
      // GEM IMG: netpbm's bilevel files.
      {"gem-bilevel-1", [](Maker& m) { return Netpbm(m, Pbm(53, 29, 32), "b.pbm", {"pbmtogem"}, "o.img"); }},
      {"gem-bilevel-1-wide", [](Maker& m) { return Netpbm(m, Pbm(300, 7, 33), "b.pbm", {"pbmtogem"}, "o.img"); }},
      // Photo CD: ImageMagick's Image Pac of a base-size picture.
      {"pcd-rgb-24", [](Maker& m) { return Convert(m, Ppm(768, 512, 0, 34), "c.ppm", {}, "o.pcd"); }},
  };
  return recipes;
}

}  // namespace

Bytes MakeFile(const FileCase& c, const std::string& dir, std::string& why) {
  why.clear();
  auto recipe = Recipes().find(c.label);
  if (recipe == Recipes().end()) {
    why = std::string("no recipe for ") + c.label;
    return {};
  }
  Maker maker(dir, why);
  Bytes bytes = recipe->second(maker);
  if (bytes.empty() && why.empty()) why = "the tools made no file";
  return bytes;
}

}  // namespace everyreader
