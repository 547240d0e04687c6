// Rows and the call order: recognition, the same rows whatever the rows per
// call, and the calls made out of order (before the header, with the file
// closed, with a null buffer, past the last row).
#include "contract_fixture.h"

namespace everyreader {
namespace {

using RowsTest = ContractTest;

TEST_P(RowsTest, VerifyRecognisesTheFirstBytesOnlyForItsOwnReader) {
  EXPECT_EQ(api->verifyBytes(file), traits->verifyAnswer);
  // A reader with a signature answers 0 for every other reader's file; the
  // readers without one may answer 2 (a plausible header) for anything.
  for (const ReaderTraits& other : Readers()) {
    if (other.name == std::string(traits->name) || other.verifyAnswer != 1) continue;
    const LoadedReader& loaded = Load(other.name);
    ASSERT_TRUE(loaded.api.module) << other.module;
    EXPECT_EQ(loaded.api.verifyBytes(file), 0) << other.name << " claims the file";
  }
}

// Rows in calls of 1, of 7 and all at once are the same rows, again after
// OVDLset_row back to 0; on every page of a multi-page file.
TEST_P(RowsTest, RowsAgreeWhateverTheRowsPerCall) {
  auto image = open(file);
  ASSERT_EQ(image->initResult, 1) << lastError();
  Geometry first = head(*image);
  ASSERT_GT(first.height, 0u);
  for (uint32_t page = 0; page < first.pages; ++page) {
    SCOPED_TRACE("page " + std::to_string(page));
    if (page > 0) {
      ASSERT_EQ(api->setPage(image->handle, static_cast<int32_t>(page)), 1) << lastError();
    }
    int32_t r = 0;
    const Geometry g = head(*image, &r);
    ASSERT_EQ(r, 1) << lastError();
    ASSERT_GT(g.height, 0u);
    const Rows whole = readAll(*image, g, g.height, &r);
    ASSERT_EQ(r, 1) << lastError();
    ASSERT_EQ(whole.size(), g.height);
    ASSERT_EQ(api->setRow(image->handle, 0), 1);
    if (GetParam().wholeImageOnly) {
      // Reads of part of the image are refused with the reader's own text.
      image->read(1, g.stride, 0, nullptr, &r);
      EXPECT_NE(r, 1);
      EXPECT_TRUE(reader->ownTexts.count(lastError())) << "text: " << lastError();
      ASSERT_EQ(api->setRow(image->handle, 0), 1);
      EXPECT_TRUE(SameRows(readAll(*image, g, g.height, &r), whole));
      EXPECT_EQ(r, 1);
      continue;
    }
    for (uint32_t block : {1u, 7u}) {
      SCOPED_TRACE(std::to_string(block) + " rows per call");
      ASSERT_EQ(api->setRow(image->handle, 0), 1);
      EXPECT_TRUE(SameRows(readAll(*image, g, block, &r), whole));
      EXPECT_EQ(r, 1) << lastError();
    }
    ASSERT_EQ(api->setRow(image->handle, 0), 1);
    EXPECT_TRUE(SameRows(readAll(*image, g, g.height, &r), whole)) << "after OVDLset_row back to 0";
    // Starting in the middle gives the rows from there on.
    const uint32_t middle = g.height / 2;
    ASSERT_EQ(api->setRow(image->handle, middle), 1);
    Rows tail = image->read(g.height - middle, g.stride, 0, nullptr, &r);
    EXPECT_EQ(r, 1) << lastError();
    EXPECT_TRUE(SameRows(tail, Rows(whole.begin() + middle, whole.end())));
  }
}

// Reading before OVDLbuildDIBhead reads the same rows as after it.
TEST_P(RowsTest, ReadingBeforeTheHeaderGivesTheSameRows) {
  Rows expected;
  Geometry g;
  {
    auto reference = open(file);
    ASSERT_EQ(reference->initResult, 1) << lastError();
    g = head(*reference);
    expected = readAll(*reference, g, g.height);
  }
  auto image = open(file);
  ASSERT_EQ(image->initResult, 1) << lastError();
  int32_t r = 0;
  EXPECT_TRUE(SameRows(readAll(*image, g, GetParam().wholeImageOnly ? g.height : 7, &r), expected));
  EXPECT_EQ(r, 1) << lastError();
}

// With the file handed back (OVDLclose_keep) reading is refused and nothing
// changes; after OVDLopen reading goes on at the row it had reached.
TEST_P(RowsTest, ClosedFileRefusesReadingAndReopeningResumes) {
  auto image = open(file);
  ASSERT_EQ(image->initResult, 1) << lastError();
  const Geometry g = head(*image);
  const Rows whole = readAll(*image, g, g.height);
  ASSERT_EQ(api->setRow(image->handle, 0), 1);
  const bool part = !GetParam().wholeImageOnly && g.height > 1;
  if (part) {
    ASSERT_EQ(image->read(1, g.stride)[0], whole[0]);  // now at row 1
  }

  EXPECT_EQ(api->closeKeep(image->handle), 1);
  EXPECT_EQ(api->closeKeep(image->handle), 1);  // twice: harmless
  EXPECT_EQ(openNow(), 0) << "the file was not handed back";
  int32_t r = -1;
  const uint8_t fill = 0x3C;
  Rows refused = image->read(1, g.stride, 0, nullptr, &r, fill);
  EXPECT_EQ(r, failed(3));
  EXPECT_EQ(lastError(), reader->text(2));
  EXPECT_EQ(refused[0], Bytes(g.stride, fill)) << "a refused read wrote rows";
  if (!traits->viaLibrary) {
    EXPECT_EQ(api->setRow(image->handle, 0), 3);
    EXPECT_EQ(lastError(), reader->text(2));
  }

  ASSERT_EQ(api->open(image->handle, 0), 1) << lastError();
  EXPECT_EQ(api->open(image->handle, 0), 1);  // already open
  EXPECT_EQ(openNow(), 1);
  const uint32_t next = part ? 1 : 0;
  if (traits->viaLibrary) {
    ASSERT_EQ(api->setRow(image->handle, next), 1);
  }
  Rows rest = image->read(g.height - next, g.stride, 0, nullptr, &r);
  EXPECT_EQ(r, 1) << lastError();
  EXPECT_TRUE(SameRows(rest, Rows(whole.begin() + next, whole.end())));
}

// A null buffer is refused without storing an error, and changes nothing.
// A library reader hands it to its library, whose refusal is a read failure.
TEST_P(RowsTest, NullBufferChangesNothing) {
  auto image = open(file);
  ASSERT_EQ(image->initResult, 1) << lastError();
  const Geometry g = head(*image);
  const Rows whole = readAll(*image, g, g.height);
  ASSERT_EQ(api->setRow(image->handle, 0), 1);
  EXPECT_EQ(api->readRows(image->handle, nullptr, 0, g.stride, 0, nullptr), 1);  // no rows: nothing to do
  api->imgName(0, 0);  // id 4, so a stored id shows
  const int32_t r = api->readRows(image->handle, nullptr, 1, g.stride, 0, nullptr);
  if (traits->viaLibrary) {
    EXPECT_EQ(r, 0);
    EXPECT_EQ(lastError(), reader->text(2));
  } else {
    EXPECT_EQ(r, 9);
    EXPECT_EQ(lastError(), reader->text(4)) << "a null buffer stored an error";
  }
  int32_t again = 0;
  EXPECT_TRUE(SameRows(readAll(*image, g, g.height, &again), whole));
  EXPECT_EQ(again, 1) << lastError();
}

// Rows past the last one: the rows before it are delivered, the call fails
// with the read error, and after OVDLset_row the image reads as before.
// A library reader's library refuses the whole request.
TEST_P(RowsTest, RowsPastTheEndAreRefused) {
  auto image = open(file);
  ASSERT_EQ(image->initResult, 1) << lastError();
  const Geometry g = head(*image);
  const Rows whole = readAll(*image, g, g.height);
  int32_t r = 0;
  const uint8_t fill = 0xA5;  // the fill of the reference rows: a row's padding keeps it
  if (GetParam().wholeImageOnly) {
    ASSERT_EQ(api->setRow(image->handle, 0), 1);
    image->read(g.height + 1, g.stride, 0, nullptr, &r, fill);
    EXPECT_NE(r, 1);
    EXPECT_TRUE(reader->ownTexts.count(lastError())) << "text: " << lastError();
  } else {
    const uint32_t from = g.height >= 2 ? g.height - 2 : 0;
    ASSERT_EQ(api->setRow(image->handle, from), 1);
    Rows got = image->read(5, g.stride, 0, nullptr, &r, fill);
    EXPECT_EQ(r, failed(3));
    EXPECT_EQ(lastError(), reader->text(2));
    // Each slot holds its row or was left alone.
    for (uint32_t k = 0; k < 5; ++k) {
      const uint32_t row = from + k;
      if (got[k] == Bytes(g.stride, fill)) continue;
      EXPECT_LT(row, g.height) << "slot " << k << " was written past the last row";
      if (row < g.height) {
        EXPECT_TRUE(SameRows(Rows{got[k]}, Rows{whole[row]})) << "row " << row;
      }
    }
  }
  if (!traits->viaLibrary) {
    EXPECT_EQ(api->setRow(image->handle, g.height + 1), 3);
    EXPECT_EQ(lastError(), reader->text(2));
  }
  ASSERT_EQ(api->setRow(image->handle, 0), 1);
  EXPECT_TRUE(SameRows(readAll(*image, g, g.height, &r), whole));
  EXPECT_EQ(r, 1) << lastError();
}

EVERY_READER_CASES(RowsTest, Files());

}  // namespace
}  // namespace everyreader
