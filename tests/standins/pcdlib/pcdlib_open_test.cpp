// Opening, sizes, handles and refusals of the Photo CD library stand-in.
#include <cstring>

#include "pcdlib_fixture.h"

namespace pcdtest {
namespace {

using Bytes = std::vector<uint8_t>;

TEST_F(PcdLibraryTest, OpenRefusesWhatIsNotAWholeImagePac) {
  const Bytes good = BuildImagePac(Flat(100, 156, 137));
  Bytes noSignature = good;
  noSignature[kSector + 3] = 'X';
  struct Case {
    const char* name;
    Bytes bytes;
    int16_t status;
  } cases[] = {
      {"empty", {}, pcdlib::kNotImagePac},
      {"text", Bytes(5000, 'a'), pcdlib::kNotImagePac},
      {"no-signature", noSignature, pcdlib::kNotImagePac},
      {"overview", BuildOverview(), pcdlib::kNotImagePac},
      {"header-cut", Bytes(good.begin(), good.begin() + 3 * kSector - 1), pcdlib::kNotImagePac},
      {"no-base", Bytes(good.begin(), good.begin() + kBaseOffset), pcdlib::kTruncated},
      {"base-cut", Bytes(good.begin(), good.begin() + kBaseOffset + 589823), pcdlib::kTruncated},
  };
  for (const Case& c : cases) {
    pcdlib::ImageHandle image = 77;
    EXPECT_EQ(api.open(put(c.name, c.bytes).c_str(), &image), c.status) << c.name;
    EXPECT_EQ(image, 77u) << c.name << ": no handle written on failure";
  }
  pcdlib::ImageHandle image = 0;
  EXPECT_EQ(api.open(dir.file("missing.pcd").c_str(), &image), pcdlib::kCannotOpen);
  EXPECT_EQ(api.open(dir.path().c_str(), &image), pcdlib::kCannotOpen);  // a folder
  EXPECT_EQ(api.open(nullptr, &image), pcdlib::kBadArgument);
  EXPECT_EQ(api.open(put("ok", good).c_str(), nullptr), pcdlib::kBadArgument);

  // Exactly the Base image's end is enough.
  image = openImage(put("exact", Bytes(good.begin(), good.begin() + kBaseOffset + 589824)));
  EXPECT_NE(image, 0u);
  EXPECT_EQ(api.close(image), pcdlib::kOk);
}

TEST_F(PcdLibraryTest, SizeFollowsTheDisplayTurns) {
  for (uint32_t turns = 0; turns < 4; ++turns) {
    Bytes file = BuildImagePac(Flat(100, 156, 137), turns);
    file[0x0E02] |= 0xFC;  // only the low two bits count
    pcdlib::ImageHandle image = openImage(put("turn" + std::to_string(turns), file));
    int16_t size[4] = {9, 9, 9, 9};
    EXPECT_EQ(api.imageSize(image, size), pcdlib::kOk);
    const bool upright = turns % 2 == 1;
    EXPECT_EQ(size[0], 0);
    EXPECT_EQ(size[1], 0);
    EXPECT_EQ(size[pcdlib::kSizeHeight], upright ? 768 : 512) << turns;
    EXPECT_EQ(size[pcdlib::kSizeWidth], upright ? 512 : 768) << turns;
    EXPECT_EQ(api.imageSize(image, nullptr), pcdlib::kBadArgument);
    api.close(image);
  }
}

TEST_F(PcdLibraryTest, HandlesAreCheckedAndNeverReused) {
  const std::string path = put("a.pcd", BuildImagePac(Flat(100, 156, 137)));
  pcdlib::ImageHandle first = openImage(path);
  pcdlib::ImageHandle second = openImage(path);
  EXPECT_NE(first, second);
  EXPECT_EQ(api.openImages(), 2u);
  EXPECT_EQ(api.close(first), pcdlib::kOk);
  pcdlib::ImageHandle third = openImage(path);
  EXPECT_NE(third, first);
  for (pcdlib::ImageHandle bad : {pcdlib::ImageHandle{0}, first, pcdlib::ImageHandle{0xDEAD}}) {
    int16_t size[4];
    uint8_t buffer[8];
    pcdlib::RowRect rect{0, 0, 1, 0};
    EXPECT_EQ(api.close(bad), pcdlib::kBadHandle);
    EXPECT_EQ(api.imageSize(bad, size), pcdlib::kBadHandle);
    EXPECT_EQ(api.setProgress(bad, nullptr, nullptr), pcdlib::kBadHandle);
    EXPECT_EQ(api.readRows(bad, &rect, buffer, 8), pcdlib::kBadHandle);
  }
  api.close(second);
  api.close(third);
}

// The file is read when the first rows are: a file cut after opening fails
// that read cleanly, and does not spin.
TEST_F(PcdLibraryTest, AFileCutAfterOpeningFailsTheRead) {
  Bytes file = BuildImagePac(Flat(100, 156, 137));
  const std::string path = put("cut.pcd", file);
  pcdlib::ImageHandle image = openImage(path);
  file.resize(kBaseOffset + 1000);
  WriteFile(path, file);
  int16_t result = 0;
  auto rows = ReadRect(image, {0, 0, 2, 767}, 2304, &result);
  EXPECT_EQ(result, pcdlib::kTruncated);
  EXPECT_EQ(rows[0], Bytes(2304, 0xA5));
  api.close(image);
}

}  // namespace
}  // namespace pcdtest
