#include "standin_fixture.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "virtscan/virtscan.h"

namespace standin_test {

namespace {

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

void put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  put16(b, at, v & 0xFFFF);
  put16(b, at + 2, v >> 16);
}

const char* const kVariables[] = {
    "WINPORT_REGISTRY",           virtscan::kEnvKey,        virtscan::kEnvFaults,
    virtscan::kEnvNotReadyPolls,  virtscan::kEnvNotReadyMs, virtscan::kEnvWaitMs,
    virtscan::kEnvStopAfterLines, virtscan::kEnvTrace,      "VIRTMUSIC_TRACE",
    "WINPORT_SHM_NAMESPACE"};

}  // namespace

std::string registryText(const KeyValues& values, const std::string& parent,
                         const std::string& subkey) {
  std::ostringstream text;
  text << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\" << parent << "\\" << subkey << "]\n";
  if (values.strings.count("Driver Pathname") == 0) {
    text << "\"Driver Pathname\"=" << quoted(driverPath()) << "\n";
  }
  for (const auto& [name, value] : values.strings) {
    text << quoted(name) << "=" << quoted(value) << "\n";
  }
  for (const auto& [name, value] : values.dwords) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x", value);
    text << quoted(name) << "=dword:" << hex << "\n";
  }
  return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> readLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(readFile(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string driverPath() { return testsupport::binPath(virtscan::kDriverFileName); }

Picture patternPicture(uint32_t width, uint32_t height) {
  Picture p{width, height, std::vector<uint8_t>(uint64_t{width} * height * 3)};
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t* px = &p.rgb[(uint64_t{y} * width + x) * 3];
      px[0] = static_cast<uint8_t>(7 * x);
      px[1] = static_cast<uint8_t>(5 * y);
      px[2] = static_cast<uint8_t>(3 * (x + y));
    }
  }
  return p;
}

std::vector<uint8_t> bmp24(const Picture& picture, uint32_t dpiX, uint32_t dpiY) {
  const uint32_t stride = (picture.width * 3 + 3) / 4 * 4;
  std::vector<uint8_t> b(54 + uint64_t{stride} * picture.height, 0);
  b[0] = 'B';
  b[1] = 'M';
  put32(b, 2, static_cast<uint32_t>(b.size()));
  put32(b, 10, 54);
  put32(b, 14, 40);
  put32(b, 18, picture.width);
  put32(b, 22, picture.height);
  put16(b, 26, 1);
  put16(b, 28, 24);
  auto perMetre = [](uint32_t dpi) { return (dpi * 10000 + 127) / 254; };
  put32(b, 38, perMetre(dpiX));
  put32(b, 42, perMetre(dpiY));
  for (uint32_t y = 0; y < picture.height; ++y) {
    uint8_t* row = &b[54 + uint64_t{picture.height - 1 - y} * stride];
    for (uint32_t x = 0; x < picture.width; ++x) {
      const uint8_t* px = picture.at(x, y);
      row[3 * x] = px[2];
      row[3 * x + 1] = px[1];
      row[3 * x + 2] = px[0];
    }
  }
  return b;
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

uint8_t greyOf(const uint8_t* rgb) {
  return static_cast<uint8_t>((299 * rgb[0] + 587 * rgb[1] + 114 * rgb[2] + 500) / 1000);
}

Environment::Environment() {
  for (const char* name : kVariables) {
    if (const char* value = std::getenv(name)) {
      saved_[name] = value;
    } else {
      unset_.push_back(name);
    }
    unsetenv(name);
  }
}

Environment::~Environment() {
  for (const char* name : kVariables) unsetenv(name);
  for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
}

void Environment::set(const char* name, const std::string& value) {
  setenv(name, value.c_str(), 1);
}

Driver::Driver() : module_(driverPath()) {
  if (module_) entry_ = module_.get<ScannerDriverEntryFn>(kScannerDriverEntryName);
}

int16_t Driver::call(uint16_t operation, uint32_t param, void* data) {
  request_.operation = operation;
  request_.param = param;
  request_.dataAddress = data;
  return entry_(&request_);
}

int16_t Driver::start(const ScanFrame& frame) {
  ScanParameters parameters{};
  parameters.frame = frame;
  const int16_t status = call(DRV_SET_PARAMETERS, 0, &parameters);
  return status != 0 ? status : call(DRV_START_SCAN);
}

std::vector<uint8_t> Driver::readAll(uint32_t bytesPerLine, uint32_t linesPerCall,
                                     int16_t* status) {
  std::vector<uint8_t> image;
  std::vector<uint8_t> buffer(uint64_t{bytesPerLine} * linesPerCall);
  *status = 0;
  for (int guard = 0; guard < 1000000; ++guard) {
    *status = call(DRV_READ_LINES, static_cast<uint32_t>(buffer.size()), buffer.data());
    if (*status != 0 || reply() == 0) break;
    image.insert(image.end(), buffer.begin(), buffer.begin() + uint64_t{reply()} * bytesPerLine);
  }
  return image;
}

ScanFrame makeFrame(uint16_t left, uint16_t top, uint16_t width, uint16_t height, uint16_t dpi,
                    uint16_t dataType, uint32_t flags) {
  ScanFrame f{};
  f.flags = flags;
  f.left = left;
  f.top = top;
  f.width = width;
  f.height = height;
  f.xResolution = dpi;
  f.yResolution = dpi;
  f.dataType = dataType;
  return f;
}

}  // namespace standin_test
