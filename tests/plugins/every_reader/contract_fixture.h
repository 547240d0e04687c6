// The fixture of the contract suite: one parameter per reader and file, the
// file made once per test from its recipe, images opened the way each reader
// is given its files, and the leak checks every test ends with.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "memory_files.h"
#include "plugin_loader.h"
#include "reader_harness.h"
#include "reader_table.h"
#include "winport/windows.h"

namespace everyreader {

using Rows = std::vector<Bytes>;

// One reader module, loaded once per process, with its own string table.
struct LoadedReader {
  explicit LoadedReader(const ReaderTraits& t);
  const ReaderTraits& traits;
  readertest::ReaderApi api;
  // The reader's string `id` ("" when it has none).
  std::string text(UINT id) const;
  // Every non-empty string of ids 1 to 99: what OVDLerror_string may give.
  std::set<std::string> ownTexts;
};
const LoadedReader& Load(const char* reader);

// What OVDLbuildDIBhead told about the current page.
struct Geometry {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bitCount = 0;
  uint32_t stride = 0;  // the DIB row length
  uint32_t pages = 1;   // multi-page readers: the record's page count
};

// Rows compared with a short account of the first difference (row, byte).
::testing::AssertionResult SameRows(const Rows& got, const Rows& expected);

// Ends the process with a message naming the case when a scope lasts too
// long: a hang fails the test instead of stalling the run.
class Watchdog {
 public:
  Watchdog(std::string what, unsigned seconds);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

class ContractTest : public ::testing::TestWithParam<FileCase> {
 protected:
  void SetUp() override;
  void TearDown() override;

  // An image of `bytes` opened through the reader as the host opens it: a
  // file of the memory file table (on disk as well, for a reader whose
  // library opens the file by name).
  std::unique_ptr<readertest::OpenImage> open(const Bytes& bytes, const std::string& name = "case");
  // OVDLbuildDIBhead (the header block freed); the geometry it gave.
  Geometry head(const readertest::OpenImage& image, int32_t* result = nullptr) const;
  // All rows of the current page, `block` rows per call, top first; stops at
  // the first failing call (its result in `result`).
  Rows readAll(const readertest::OpenImage& image, const Geometry& g, uint32_t block,
               int32_t* result = nullptr) const;
  // The result a failing read gives: the frame's code, or 0 for a library reader.
  int32_t failed(int32_t frameResult) const { return traits->viaLibrary ? 0 : frameResult; }
  // Files (library images, for a library reader) the reader has open now.
  int openNow() const;
  // The reader's last error text.
  std::string lastError() const { return reader->api.lastError(); }

  const LoadedReader* reader = nullptr;
  const ReaderTraits* traits = nullptr;
  const readertest::ReaderApi* api = nullptr;
  Bytes file;  // the case's valid file
  testsupport::TempDir dir;

 private:
  uint32_t blocksBefore_ = 0;
  int opened_ = 0;  // images opened by this test: names on disk stay distinct
};

// Instantiates `suite` over `cases`, each named after its reader and file.
#define EVERY_READER_CASES(suite, cases)                  \
  INSTANTIATE_TEST_SUITE_P(EveryReader, suite, ::testing::ValuesIn(cases), \
                           [](const auto& info) { return CaseName(info.param); })

}  // namespace everyreader
