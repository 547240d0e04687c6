// The rdjpeg.DIL fuzz harness (libFuzzer, or replay_main.cpp for the corpus).
#include "reader_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzzdriver::ReaderDriver driver("rdjpeg.DIL", FUZZ_DEFAULT_MODULE_DIR);
  return driver.run(data, size);
}
