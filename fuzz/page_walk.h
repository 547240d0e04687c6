// The page walk of the multi-page readers' fuzz harnesses: every page (up
// to a few) chosen with OVDLset_page, described and read in part, a page
// beyond the count refused, the current page in range afterwards; aborts
// (a crash to the fuzzer) when a file handle or a global block is left behind.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzzdriver {

class PageWalker {
 public:
  // Loads `moduleFile` from `folder`, or from the folder FUZZ_MODULE_DIR names.
  PageWalker(const char* moduleFile, const char* folder);
  ~PageWalker();
  PageWalker(const PageWalker&) = delete;
  PageWalker& operator=(const PageWalker&) = delete;
  void run(const uint8_t* data, size_t size) const;

 private:
  struct Api;
  Api* api_;
};

}  // namespace fuzzdriver
