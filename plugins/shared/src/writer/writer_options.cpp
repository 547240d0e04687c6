// The option text of an OptionBlock, searched by the writer itself.
#include <algorithm>
#include <cstring>

#include "plugin/writer_frame.h"

namespace writer {
namespace {

constexpr char kCarriageReturn = '\r';
constexpr char kLineFeed = '\n';
constexpr std::string_view kOptionSignature = "THK";

char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

OptionText::OptionText(HGLOBAL options) {
  if (options == 0) return;
  const size_t size = GlobalSize(options);
  const auto* bytes = static_cast<const char*>(GlobalLock(options));
  if (bytes == nullptr) return;
  handle_ = options;
  // The option lines end at their first NUL or at the end of the block; the
  // bytes before them (after the signature) may well be NULs.
  const size_t linesStart = std::min(size, kOptionLinesStart);
  const void* nul = std::memchr(bytes + linesStart, 0, size - linesStart);
  const size_t length =
      nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - bytes) : size;
  const std::string_view text(bytes, length);
  if (text.substr(0, kOptionSignature.size()) == kOptionSignature) text_ = text;
}

OptionText::~OptionText() {
  if (handle_ != 0) GlobalUnlock(handle_);
}

std::optional<std::string_view> OptionText::find(std::string_view key) const {
  if (key.empty()) return std::nullopt;
  size_t line = kOptionLinesStart;
  // Each pass moves `line` past at least one character: the walk ends.
  while (line < text_.size()) {
    const std::string_view rest = text_.substr(line);
    const size_t lineEnd = rest.find(kCarriageReturn);
    if (rest.substr(0, key.size()) == key && rest.substr(key.size(), 2) == " =") {
      // "KEY", " =", one space, then the value up to the line's end.
      const size_t valueStart = key.size() + 3;
      const size_t valueEnd = lineEnd == std::string_view::npos ? rest.size() : lineEnd;
      if (valueStart >= valueEnd) return std::string_view{};
      return rest.substr(valueStart, valueEnd - valueStart);
    }
    if (lineEnd == std::string_view::npos) break;
    line += lineEnd + 1;
    if (line < text_.size() && text_[line] == kLineFeed) ++line;
  }
  return std::nullopt;
}

}  // namespace writer
