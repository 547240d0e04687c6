// The rdtiff.DIL fuzz harness (libFuzzer, or replay_main.cpp for the corpus):
// the shared reader driver on page 0, then the page walk.
#include "page_walk.h"
#include "reader_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzzdriver::ReaderDriver driver("rdtiff.DIL", FUZZ_DEFAULT_MODULE_DIR);
  static fuzzdriver::PageWalker pages("rdtiff.DIL", FUZZ_DEFAULT_MODULE_DIR);
  driver.run(data, size);
  pages.run(data, size);
  return 0;
}
