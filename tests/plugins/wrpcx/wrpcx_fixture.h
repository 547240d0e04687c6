// Driving wrpcx.DEL through its exports (the shared writer harness): DIBs to
// export, runs through the recording file table, the module checked per test.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "writer_harness.h"

namespace wrpcxtest {

using Bytes = std::vector<uint8_t>;
using testsupport::Dib;
using testsupport::ExportRun;
using testsupport::Reports;

// The write calls seen and the 0-based calls to cut one byte short.
inline testsupport::RecordingFiles& Writes() { return testsupport::RecordingFiles::instance(); }

// Rows of random bytes (runs included); colour table entry i = (i, 2i, 3i) (mod 256).
Dib MakeDib(int32_t width, int32_t height, uint16_t bits, uint32_t seed = 1);

struct Writer : testsupport::WriterModule {
  Writer() : WriterModule("wrpcx.DEL") {}
  // Exports `dib` to "out.pcx" in blocks of `rowsPerCall` rows (0: all),
  // each row `stride` bytes apart (0: the padded row).
  ExportRun run(const Dib& dib, uint32_t rowsPerCall = 0, uint32_t stride = 0,
                const std::string& name = "out.pcx") const;
};

class WrpcxTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  Writer writer;
  uint32_t blocksBefore_ = 0;
};

// The 128-byte header's 16-bit field at `offset`.
inline uint32_t Field16(const Bytes& file, size_t offset) {
  return file[offset] | file[offset + 1] << 8;
}

}  // namespace wrpcxtest
