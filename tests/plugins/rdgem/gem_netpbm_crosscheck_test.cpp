// rdgem against netpbm's independent GEM encoder and decoder: files written by
// pbmtogem decode to the PBM's pixels, and files written by the test encoder
// decode as gemtopnm decodes them.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "gem_fixture.h"

namespace gemtest {
namespace {

using Bytes = std::vector<uint8_t>;

bool HaveNetpbm() {
  return std::system("command -v pbmtogem >/dev/null 2>&1 && command -v gemtopnm >/dev/null 2>&1") == 0;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

Bytes ToPbm(const Picture& picture) {
  std::string head = "P4\n" + std::to_string(picture.width) + " " + std::to_string(picture.height) + "\n";
  Bytes out(head.begin(), head.end());
  for (const auto& row : picture.rows) out.insert(out.end(), row.begin(), row.end());
  return out;
}

// The rows of a raw PBM (P4) file.
Picture FromPbm(const Bytes& pbm) {
  std::string text(pbm.begin(), pbm.begin() + static_cast<long>(std::min<size_t>(pbm.size(), 64)));
  std::istringstream in(text);
  std::string magic;
  unsigned width = 0, height = 0;
  in >> magic >> width >> height;
  Picture picture{static_cast<uint16_t>(width), static_cast<uint16_t>(height), {}};
  size_t data = static_cast<size_t>(in.tellg()) + 1;
  for (unsigned y = 0; y < height; ++y) {
    auto begin = pbm.begin() + static_cast<long>(data + y * picture.rowBytes());
    picture.rows.emplace_back(begin, begin + picture.rowBytes());
  }
  return picture;
}

// The pixels of a row, padding bits of the last byte cleared.
Bytes Pixels(Bytes row, uint16_t width) {
  if (width % 8 != 0) row.back() &= static_cast<uint8_t>(0xFF << (8 - width % 8));
  return row;
}

std::vector<Bytes> DecodeWithRdgem(const readertest::ReaderApi& api, const Bytes& file, uint16_t width, uint16_t height) {
  readertest::OpenImage image(api, "netpbm.img", file);
  EXPECT_EQ(image.initResult, 1);
  std::vector<Bytes> rows;
  for (const auto& row : image.readInBlocks(height, 13, (width + 7u) / 8u)) {
    rows.push_back(Pixels(Complemented(row), width));  // back to file polarity
  }
  return rows;
}

struct Size {
  uint16_t width, height;
};
constexpr Size kSizes[] = {{123, 77}, {8, 5}, {1000, 30}, {17, 300}, {640, 2}};

TEST_F(GemTest, DecodesWhatPbmtogemWrites) {
  if (!HaveNetpbm()) GTEST_SKIP() << "netpbm not installed";
  testsupport::TempDir dir;
  uint32_t seed = 100;
  for (Size size : kSizes) {
    Picture picture = MakePicture(size.width, size.height, seed++);
    WriteFile(dir.file("in.pbm"), ToPbm(picture));
    std::string command = "pbmtogem '" + dir.file("in.pbm") + "' > '" + dir.file("out.img") + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::vector<Bytes> rows = DecodeWithRdgem(api, ReadFile(dir.file("out.img")), size.width, size.height);
    ASSERT_EQ(rows.size(), picture.rows.size());
    for (size_t y = 0; y < rows.size(); ++y) {
      ASSERT_EQ(rows[y], Pixels(picture.rows[y], size.width)) << size.width << "x" << size.height << " row " << y;
    }
  }
}

TEST_F(GemTest, DecodesAsGemtopnmDoes) {
  if (!HaveNetpbm()) GTEST_SKIP() << "netpbm not installed";
  testsupport::TempDir dir;
  uint32_t seed = 200;
  for (Size size : kSizes) {
    Picture picture = MakePicture(size.width, size.height, seed++);
    for (int y = 0; y + 1 < size.height && y < 40; ++y) picture.rows[y + 1] = picture.rows[y];
    Bytes file = Encode(picture);
    WriteFile(dir.file("in.img"), file);
    std::string command = "gemtopnm '" + dir.file("in.img") + "' > '" + dir.file("out.pbm") + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    Picture reference = FromPbm(ReadFile(dir.file("out.pbm")));
    std::vector<Bytes> rows = DecodeWithRdgem(api, file, size.width, size.height);
    ASSERT_EQ(rows.size(), reference.rows.size());
    for (size_t y = 0; y < rows.size(); ++y) {
      ASSERT_EQ(rows[y], Pixels(reference.rows[y], size.width)) << size.width << "x" << size.height << " row " << y;
    }
  }
}

}  // namespace
}  // namespace gemtest
