#include "contract_fixture.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include "pcdlib/pcdlib_status.h"

namespace everyreader {

LoadedReader::LoadedReader(const ReaderTraits& t) : traits(t), api(t.module) {
  if (!api.module) return;
  for (UINT id = 1; id < 100; ++id) {
    std::string s = text(id);
    if (!s.empty()) ownTexts.insert(s);
  }
}

std::string LoadedReader::text(UINT id) const {
  char buffer[256] = {};
  if (!api.module) return {};
  LoadStringA(api.module.handle(), id, buffer, sizeof buffer);
  return buffer;
}

const LoadedReader& Load(const char* reader) {
  static std::map<std::string, std::unique_ptr<LoadedReader>> loaded;
  auto& slot = loaded[reader];
  if (!slot) slot = std::make_unique<LoadedReader>(TraitsOf(reader));
  return *slot;
}

::testing::AssertionResult SameRows(const Rows& got, const Rows& expected) {
  if (got.size() != expected.size())
    return ::testing::AssertionFailure() << got.size() << " rows, expected " << expected.size();
  for (size_t y = 0; y < got.size(); ++y) {
    if (got[y] == expected[y]) continue;
    if (got[y].size() != expected[y].size())
      return ::testing::AssertionFailure() << "row " << y << " has " << got[y].size() << " bytes, expected "
                                           << expected[y].size();
    size_t x = 0;
    while (got[y][x] == expected[y][x]) ++x;
    return ::testing::AssertionFailure() << "row " << y << " differs first at byte " << x << ": "
                                         << int{got[y][x]} << ", expected " << int{expected[y][x]};
  }
  return ::testing::AssertionSuccess();
}

namespace {

// The library of the library readers, for its count of open images.
pcdlib::OpenImagesFn LibraryImageCount() {
  static testsupport::LoadedModule library("PCDLIB32.dll");
  static pcdlib::OpenImagesFn count =
      library ? library.get<pcdlib::OpenImagesFn>(pcdlib::kOpenImagesExport) : nullptr;
  return count;
}

}  // namespace

struct Watchdog::State {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  std::thread thread;
};

Watchdog::Watchdog(std::string what, unsigned seconds) : state_(std::make_unique<State>()) {
  State* s = state_.get();
  s->thread = std::thread([s, what = std::move(what), seconds] {
    std::unique_lock lock(s->mutex);
    if (!s->done.wait_for(lock, std::chrono::seconds(seconds), [s] { return s->finished; })) {
      std::fprintf(stderr, "HANG: %s did not finish within %u s\n", what.c_str(), seconds);
      std::fflush(stderr);
      std::abort();
    }
  });
}

Watchdog::~Watchdog() {
  {
    std::lock_guard lock(state_->mutex);
    state_->finished = true;
  }
  state_->done.notify_all();
  state_->thread.join();
}

void ContractTest::SetUp() {
  const FileCase& c = GetParam();
  testsupport::MemoryFiles::instance().reset();
  reader = &Load(c.reader);
  traits = &reader->traits;
  api = &reader->api;
  ASSERT_TRUE(api->module) << traits->module << " not loaded from " << testsupport::binDir();
  if (traits->viaLibrary) {
    ASSERT_NE(LibraryImageCount(), nullptr) << "PCDLIB32.dll not loaded";
  }
  std::string why;
  file = MakeFile(c, dir.path(), why);
  if (file.empty()) GTEST_SKIP() << c.label << " not made: " << why;
  blocksBefore_ = winport_test_live_global_blocks();
}

void ContractTest::TearDown() {
  winport_test_fail_allocation(0);
  if (reader == nullptr || !api->module || file.empty()) return;
  EXPECT_EQ(openNow(), 0) << "files left open";
  EXPECT_EQ(winport_test_live_global_blocks(), blocksBefore_) << "global memory blocks left behind";
}

std::unique_ptr<readertest::OpenImage> ContractTest::open(const Bytes& bytes, const std::string& name) {
  std::string reference = name + std::to_string(opened_++);
  if (traits->viaLibrary) {
    reference = dir.file(reference + ".pcd");
    std::ofstream(reference, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  return std::make_unique<readertest::OpenImage>(*api, reference, bytes);
}

int ContractTest::openNow() const {
  if (traits->viaLibrary) return static_cast<int>(LibraryImageCount()());
  return testsupport::MemoryFiles::instance().openHandles();
}

Geometry ContractTest::head(const readertest::OpenImage& image, int32_t* result) const {
  ImageHeaderRecord record{};
  std::vector<uint8_t> info;
  const int32_t r = image.buildHead(record, &info);
  if (result != nullptr) *result = r;
  Geometry g;
  if (r != 1 || info.size() < sizeof(BITMAPINFOHEADER)) return g;
  BITMAPINFOHEADER header;
  std::memcpy(&header, info.data(), sizeof header);
  g.width = record.width;
  g.height = record.height;
  g.bitCount = header.biBitCount;
  g.stride = static_cast<uint32_t>(DibRowBytes(g.width, g.bitCount));
  if (traits->pages) g.pages = record.pageCount;
  return g;
}

Rows ContractTest::readAll(const readertest::OpenImage& image, const Geometry& g, uint32_t block,
                           int32_t* result) const {
  Rows all;
  int32_t r = 1;
  for (uint32_t done = 0; done < g.height && r == 1; done += block) {
    const uint32_t rows = std::min(block, g.height - done);
    // A library reader does not move the current row: the host sets it.
    if (traits->viaLibrary) r = api->setRow(image.handle, done);
    if (r != 1) break;
    Rows part = image.read(rows, g.stride, 0, nullptr, &r);
    all.insert(all.end(), part.begin(), part.end());
  }
  if (result != nullptr) *result = r;
  return all;
}

}  // namespace everyreader
