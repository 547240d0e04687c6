#include "jpeg_fixture.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "memory_files.h"

namespace jpegtest {
namespace {

const testsupport::TempDir& Dir() {
  static testsupport::TempDir dir;
  return dir;
}

Bytes RunFilter(std::vector<std::string> argv, const Bytes& input, const std::string& inputName) {
  const std::string in = Dir().file(inputName);
  const std::string out = Dir().file("filter.out");
  hosttest::WriteBytes(in, input);
  argv.push_back(in);
  hosttest::ToolRun run = hosttest::RunProgram(argv, out);
  EXPECT_EQ(run.exitCode, 0) << argv[0] << ": " << run.err;
  return hosttest::ReadBytes(out);
}

}  // namespace

Pixels MakePicture(uint32_t width, uint32_t height, uint32_t seed) {
  Pixels p;
  p.width = width;
  p.height = height;
  std::mt19937 random(seed);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint32_t noise = random() % 48;
      bool check = ((x / 12) + (y / 9)) % 2 == 0;
      auto r = static_cast<uint8_t>(std::min<uint32_t>(255, x * 255 / std::max(1u, width - 1) + (check ? noise : 0)));
      auto g = static_cast<uint8_t>((y * 255 / std::max(1u, height - 1)) ^ (x % 64 < 5 ? 0xC0 : 0));
      auto b = static_cast<uint8_t>(check ? 230 - noise : 20 + noise);
      p.rgb.insert(p.rgb.end(), {r, g, b});
    }
  }
  return p;
}

Bytes EncodePpm(const Pixels& picture) {
  std::string head = "P6\n" + std::to_string(picture.width) + " " + std::to_string(picture.height) + "\n255\n";
  Bytes out(head.begin(), head.end());
  out.insert(out.end(), picture.rgb.begin(), picture.rgb.end());
  return out;
}

bool HaveTools() {
  return hosttest::HaveProgram("cjpeg") && hosttest::HaveProgram("djpeg") &&
         hosttest::HaveProgram("jpegtran");
}

Bytes Cjpeg(const Pixels& picture, const std::vector<std::string>& options) {
  std::vector<std::string> argv{"cjpeg"};
  argv.insert(argv.end(), options.begin(), options.end());
  return RunFilter(argv, EncodePpm(picture), "in.ppm");
}

Bytes FourComponentJpeg() {
  const std::string in = Dir().file("cmyk.ppm");
  const std::string out = Dir().file("cmyk.jpg");
  hosttest::WriteBytes(in, EncodePpm(MakePicture(24, 16, 11)));
  hosttest::ToolRun run = hosttest::RunProgram({"convert", in, "-colorspace", "CMYK", out}, "");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  return hosttest::ReadBytes(out);
}

Bytes Jpegtran(const Bytes& jpeg, const std::vector<std::string>& options) {
  std::vector<std::string> argv{"jpegtran"};
  argv.insert(argv.end(), options.begin(), options.end());
  return RunFilter(argv, jpeg, "in.jpg");
}

Pixels Djpeg(const Bytes& jpeg) {
  return hosttest::DecodePnm(RunFilter({"djpeg", "-nosmooth", "-dct", "int", "-pnm"}, jpeg, "ref.jpg"));
}

JpegStream JpegStream::Parse(const Bytes& jpeg) {
  JpegStream s;
  size_t at = 2;  // after SOI
  while (at + 4 <= jpeg.size()) {
    uint8_t code = jpeg[at + 1];
    size_t length = static_cast<size_t>(jpeg[at + 2] << 8 | jpeg[at + 3]);
    s.segments.push_back({code, Bytes(jpeg.begin() + static_cast<long>(at + 4),
                                      jpeg.begin() + static_cast<long>(at + 2 + length))});
    at += 2 + length;
    if (code == 0xDA) break;
  }
  s.scan.assign(jpeg.begin() + static_cast<long>(at), jpeg.end());
  return s;
}

Bytes JpegStream::bytes() const {
  Bytes out{0xFF, 0xD8};
  for (const Segment& segment : segments) {
    out.insert(out.end(), {0xFF, segment.code});
    Bytes length = Be16(static_cast<uint32_t>(segment.body.size() + 2));
    out.insert(out.end(), length.begin(), length.end());
    out.insert(out.end(), segment.body.begin(), segment.body.end());
  }
  out.insert(out.end(), scan.begin(), scan.end());
  return out;
}

int JpegStream::find(uint8_t code) const {
  for (size_t i = 0; i < segments.size(); ++i) {
    if (segments[i].code == code) return static_cast<int>(i);
  }
  return -1;
}

void JpegStream::remove(uint8_t code) {
  std::erase_if(segments, [code](const Segment& s) { return s.code == code; });
}

void JpegStream::insertBefore(uint8_t code, Segment segment) {
  int at = find(code);
  segments.insert(segments.begin() + (at < 0 ? static_cast<long>(segments.size()) : at), std::move(segment));
}

Decoded ReadAll(const Bytes& jpeg, uint32_t block) {
  Decoded d;
  readertest::OpenImage image(Jpeg(), "all.jpg", jpeg);
  d.initResult = image.initResult;
  if (image.initResult != 1) {
    d.error = Jpeg().lastError();
    return d;
  }
  ImageHeaderRecord record{};
  Bytes info;
  d.result = image.buildHead(record, &info);
  if (d.result != 1) return d;
  std::memcpy(&d.header, info.data(), sizeof d.header);
  d.palette.resize((info.size() - 40) / 4);
  if (!d.palette.empty()) std::memcpy(d.palette.data(), info.data() + 40, info.size() - 40);
  const auto height = static_cast<uint32_t>(d.header.biHeight);
  const auto stride = static_cast<uint32_t>(DibRowBytes(static_cast<uint32_t>(d.header.biWidth), d.header.biBitCount));
  d.rows = image.readInBlocks(height, block == 0 ? height : block, stride, &d.result);
  if (d.result != 1) d.error = Jpeg().lastError();
  return d;
}

Pixels ToPixels(const Decoded& decoded) {
  Pixels p;
  p.width = static_cast<uint32_t>(decoded.header.biWidth);
  p.height = static_cast<uint32_t>(decoded.header.biHeight);
  for (const auto& row : decoded.rows) {
    for (uint32_t x = 0; x < p.width; ++x) {
      if (decoded.header.biBitCount == 24) {
        p.rgb.insert(p.rgb.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
      } else {
        const RGBQUAD& q = decoded.palette.at(row[x]);
        p.rgb.insert(p.rgb.end(), {q.rgbRed, q.rgbGreen, q.rgbBlue});
      }
    }
  }
  return p;
}

Difference Compare(const Pixels& a, const Pixels& b) {
  Difference d;
  EXPECT_EQ(a.width, b.width);
  EXPECT_EQ(a.height, b.height);
  if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) {
    ADD_FAILURE() << "pictures of different sizes";
    d.max = 1000;
    return d;
  }
  uint64_t sum = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) {
    int diff = std::abs(static_cast<int>(a.rgb[i]) - static_cast<int>(b.rgb[i]));
    d.max = std::max(d.max, diff);
    sum += static_cast<uint64_t>(diff);
  }
  d.mean = static_cast<double>(sum) / static_cast<double>(a.rgb.size());
  return d;
}

std::pair<int32_t, std::string> JpegTest::OpenResult(const Bytes& bytes) {
  auto& files = testsupport::MemoryFiles::instance();
  files.put("open.jpg", bytes);
  HGLOBAL handle = 0;
  int32_t result = api.init("open.jpg", &handle, files.openForRead("open.jpg"), 0, 0, files.table());
  std::string text = api.lastError();
  if (result == 1) {
    api.close(handle);
  } else {
    EXPECT_EQ(handle, HGLOBAL{});
  }
  return {result, text};
}

}  // namespace jpegtest
