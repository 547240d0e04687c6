#include "host/page_names.h"

namespace imagehost {

namespace {

// One piece of a pattern: literal text, or a page number padded to `width`.
struct Piece {
  bool number = false;
  std::string text;
  int width = 0;
};

// Reads the conversion at `at` (just past the '%'); false when it is not one we take.
bool ReadConversion(const std::string& pattern, size_t& at, Piece& piece) {
  if (at < pattern.size() && pattern[at] == '%') {
    piece = Piece{false, "%", 0};
    ++at;
    return true;
  }
  int width = 0;
  if (at + 1 < pattern.size() && pattern[at] == '0' && pattern[at + 1] >= '1' &&
      pattern[at + 1] <= '9') {
    width = pattern[at + 1] - '0';
    at += 2;
  }
  if (at < pattern.size() && pattern[at] == 'd') {
    piece = Piece{true, "", width};
    ++at;
    return true;
  }
  return false;
}

// Walks `pattern`, handing each piece to `visit`; "" or the problem found.
template <typename Visit>
std::string Walk(const std::string& pattern, Visit visit) {
  int numbers = 0;
  for (size_t at = 0; at < pattern.size();) {
    if (pattern[at] != '%') {
      const size_t next = pattern.find('%', at);
      visit(Piece{false, pattern.substr(at, next - at), 0});
      at = next == std::string::npos ? pattern.size() : next;
      continue;
    }
    ++at;
    Piece piece;
    if (!ReadConversion(pattern, at, piece))
      return "the output name '" + pattern +
             "' may hold only %d (or %03d and the like) for the page number and %% for a "
             "percent sign";
    if (piece.number && ++numbers > 1)
      return "the output name '" + pattern + "' holds more than one page number";
    visit(piece);
  }
  return "";
}

}  // namespace

std::string CheckPageNameTemplate(const std::string& pattern) {
  return Walk(pattern, [](const Piece&) {});
}

bool HasPageNumber(const std::string& pattern) {
  bool found = false;
  Walk(pattern, [&](const Piece& piece) { found = found || piece.number; });
  return found;
}

std::string PageName(const std::string& pattern, uint32_t page) {
  std::string name;
  Walk(pattern, [&](const Piece& piece) {
    if (!piece.number) {
      name += piece.text;
      return;
    }
    std::string digits = std::to_string(page);
    if (digits.size() < static_cast<size_t>(piece.width))
      digits.insert(0, static_cast<size_t>(piece.width) - digits.size(), '0');
    name += digits;
  });
  return name;
}

}  // namespace imagehost
