// Drives one reader module through its exports with one fuzz input as the
// file: verify, init, header, every row in blocks of input-driven sizes,
// set_row, close_keep/open, close. Aborts (a crash to the fuzzer) when an
// invariant breaks: rows read in blocks differ from rows read in one call,
// a file handle or a global memory block is left behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "plugin/contract.h"

namespace fuzzdriver {

class ReaderDriver {
 public:
  // Loads `moduleFile` from `folder`, or from the folder the variable
  // FUZZ_MODULE_DIR names.
  ReaderDriver(const char* moduleFile, const char* folder);
  int run(const uint8_t* data, size_t size);

 private:
  struct Api;
  const Api& api() const;
  void readRows(HGLOBAL image, const uint8_t* data, size_t size, uint32_t width, uint32_t height,
                uint32_t bits) const;

  HMODULE module_ = 0;
  const void* api_ = nullptr;
};

}  // namespace fuzzdriver
