// Pages of a multi-page input chosen on a command line: "0-2,5", "3-" (to
// the last page), or one page; numbers are 0-based, as --page takes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/api.h"
#include "host/status.h"

namespace imagehost {

struct PageRange {
  uint32_t first = 0;
  uint32_t last = 0;  // kToLastPage: up to the input's last page
};
inline constexpr uint32_t kToLastPage = UINT32_MAX;

class HOST_API PageSelection {
 public:
  // The first page (the default).
  PageSelection() : ranges_{{0, 0}} {}
  // One page, left for the reader to find (a page it does not have is its failure).
  static PageSelection One(uint32_t page) {
    PageSelection one({{page, page}});
    one.checked_ = false;
    return one;
  }
  static PageSelection All() { return PageSelection({{0, kToLastPage}}); }
  // Parses "A-B,C,D-": ranges in any order, each first <= last. Fails on
  // anything else ("--pages needs ...").
  static Status Parse(const std::string& text, PageSelection& out);

  // The pages of an input of `pages` pages, in the order given; fails when
  // a page named does not exist (an open range needs only its first page),
  // except for One(), whose page the reader itself looks for.
  Status resolve(uint32_t pages, const std::string& input, std::vector<uint32_t>& out) const;
  bool many() const { return ranges_.size() > 1 || ranges_[0].first != ranges_[0].last; }

 private:
  explicit PageSelection(std::vector<PageRange> ranges) : ranges_(std::move(ranges)) {}
  std::vector<PageRange> ranges_;
  bool checked_ = true;
};

}  // namespace imagehost
