// Drives the decoders over an in-memory stream, as a reader does over a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fax_test_codec.h"
#include "plugin/ccitt_decoder.h"

namespace ccitttest {

enum class Coding { kModifiedHuffman, kT4, kT6 };

std::vector<uint8_t> BitsFromText(const char* text);  // "0101 1..." -> bytes, padded with 0

struct Stream {
  Stream(std::vector<uint8_t> bytes, size_t storageBytes)
      : data(std::move(bytes)), storage(storageBytes) {}

  std::vector<uint8_t> data;
  std::vector<uint8_t> storage;
  size_t listEntries = 0;       // 0: ChangeListEntries(width)
  bool reverseBits = false;
  int64_t failAfterBytes = -1;  // reads fail (−1) once this many bytes were given
  int readCalls = 0;
  bool allRowsDone = true;      // every row so far returned kRowDone

  struct Row {
    std::vector<uint8_t> bytes;
    int32_t result;
  };
  Row decodeOne(Coding coding, uint32_t width, ccitt::Ink ink = ccitt::Ink::kBlack);
  std::vector<std::vector<uint8_t>> decodeRows(Coding coding, uint32_t width, uint32_t rows,
                                               ccitt::Ink ink);
  // The rows with black ink, unpacked (1 = black).
  faxtest::Picture decode(Coding coding, uint32_t width, uint32_t rows);
  // Back to the start of the data, decoder reset.
  void rewind();

 private:
  static int32_t Read(void* context, uint8_t* buffer, uint32_t count);
  size_t position_ = 0;
  ccitt::DecoderState state_{};
  std::vector<uint32_t> lists_;
};

}  // namespace ccitttest
