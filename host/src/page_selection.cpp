#include "host/page_selection.h"

#include <string_view>

namespace imagehost {

namespace {

bool Number(std::string_view text, uint32_t& value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<uint64_t>(c - '0');
  }
  if (number >= kToLastPage) return false;
  value = static_cast<uint32_t>(number);
  return true;
}

bool ParseRange(std::string_view text, PageRange& range) {
  const size_t dash = text.find('-');
  if (dash == std::string_view::npos) {
    if (!Number(text, range.first)) return false;
    range.last = range.first;
    return true;
  }
  if (!Number(text.substr(0, dash), range.first)) return false;
  const std::string_view end = text.substr(dash + 1);
  if (end.empty()) {
    range.last = kToLastPage;
    return true;
  }
  return Number(end, range.last) && range.first <= range.last;
}

}  // namespace

Status PageSelection::Parse(const std::string& text, PageSelection& out) {
  std::vector<PageRange> ranges;
  std::string_view rest = text;
  for (;;) {
    const size_t comma = rest.find(',');
    PageRange range;
    if (!ParseRange(rest.substr(0, comma), range))
      return Status::failure(
          "--pages needs page numbers from 0 and ranges such as 0-2,5 or 3- "
          "(each range from its lower page to its higher), not '" +
          text + "'");
    ranges.push_back(range);
    if (comma == std::string_view::npos) break;
    rest = rest.substr(comma + 1);
  }
  out = PageSelection(std::move(ranges));
  return {};
}

Status PageSelection::resolve(uint32_t pages, const std::string& input,
                              std::vector<uint32_t>& out) const {
  out.clear();
  for (const PageRange& range : ranges_) {
    const uint32_t named = range.last == kToLastPage ? range.first : range.last;
    if (named >= pages && checked_)
      return Status::failure(input + " has " + std::to_string(pages) + " page" +
                             (pages == 1 ? "" : "s") + " (0 to " + std::to_string(pages - 1) +
                             "); page " + std::to_string(named) + " does not exist");
    const uint32_t last = range.last == kToLastPage ? pages - 1 : range.last;
    for (uint32_t page = range.first; page <= last; ++page) out.push_back(page);
  }
  return {};
}

}  // namespace imagehost
