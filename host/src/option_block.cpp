#include <algorithm>
#include <cstring>
#include <string>

#include "host/options.h"
#include "plugin/contract.h"
#include "winport/memory.h"

namespace imagehost {

namespace {

constexpr char kMagic[] = "THK";
constexpr std::string_view kSeparator = " = ";

bool IsKeyChar(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

Status OptionList::add(std::string_view keyValue) {
  size_t equals = keyValue.find('=');
  if (equals == std::string_view::npos || equals == 0)
    return Status::failure("option '" + std::string(keyValue) + "' is not KEY=VALUE");
  std::string key(keyValue.substr(0, equals));
  std::transform(key.begin(), key.end(), key.begin(), Upper);
  if (!std::all_of(key.begin(), key.end(), IsKeyChar))
    return Status::failure("option key '" + key + "' may hold only letters, digits and '_'");
  std::string value(keyValue.substr(equals + 1));
  if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
    return Status::failure("option value of " + key + " may not hold line breaks");
  set(key, value);
  return {};
}

void OptionList::set(const std::string& key, const std::string& value) {
  for (auto& entry : entries_) {
    if (entry.first == key) {
      entry.second = value;
      return;
    }
  }
  entries_.emplace_back(key, value);
}

bool OptionList::has(std::string_view key) const {
  return std::any_of(entries_.begin(), entries_.end(),
                     [&](const auto& entry) { return entry.first == key; });
}

HGLOBAL OptionList::buildBlock() const {
  std::string text(kOptionLinesStart, '\0');
  text.replace(0, 3, kMagic);
  for (const auto& [key, value] : entries_) {
    text += key;
    text += kSeparator;
    text += value;
    text += '\r';
  }
  text += '\0';
  HGLOBAL block = GlobalAlloc(GHND, text.size());
  if (block == 0) return 0;
  void* bytes = GlobalLock(block);
  if (bytes == nullptr) {
    GlobalFree(block);
    return 0;
  }
  std::memcpy(bytes, text.data(), text.size());
  GlobalUnlock(block);
  return block;
}

namespace {

// Finds `key` at the start of a line of `text` (the lines after byte 12) and
// copies its value. The text's size bounds every step; no NUL is relied on.
bool FindOption(std::string_view text, std::string_view key, char* value) {
  if (text.size() < kOptionLinesStart || text.substr(0, 3) != kMagic) return false;
  std::string_view lines = text.substr(kOptionLinesStart);
  size_t nul = lines.find('\0');
  if (nul != std::string_view::npos) lines = lines.substr(0, nul);
  while (!lines.empty()) {
    size_t end = lines.find('\r');
    std::string_view line = lines.substr(0, end);
    lines = end == std::string_view::npos ? std::string_view{} : lines.substr(end + 1);
    if (line.size() < key.size() + kSeparator.size() || line.substr(0, key.size()) != key ||
        line.substr(key.size(), kSeparator.size()) != kSeparator)
      continue;
    std::string_view found = line.substr(key.size() + kSeparator.size());
    size_t length = std::min(found.size(), kOptionValueSize - 1);
    std::memcpy(value, found.data(), length);
    value[length] = '\0';
    return true;
  }
  return false;
}

}  // namespace

}  // namespace imagehost

int32_t WINAPI OvgXOptBlkGet(HGLOBAL optionBlock, const char* key, char* value) {
  constexpr int32_t kFound = 0;
  constexpr int32_t kAbsent = 1;
  if (optionBlock == 0 || key == nullptr || value == nullptr || *key == '\0') return kAbsent;
  const void* bytes = GlobalLock(optionBlock);
  if (bytes == nullptr) return kAbsent;
  std::string_view text(static_cast<const char*>(bytes), GlobalSize(optionBlock));
  bool found = imagehost::FindOption(text, key, value);
  GlobalUnlock(optionBlock);
  return found ? kFound : kAbsent;
}
