// The registry tree: name ordering, key storage and the figures computed once
// a file has been read.
#include <algorithm>

#include "registry_tree.h"

namespace winport::reg {

namespace {

unsigned char foldByte(char c) {
  auto byte = static_cast<unsigned char>(c);
  return byte >= 'a' && byte <= 'z' ? static_cast<unsigned char>(byte - 'a' + 'A') : byte;
}

DWORD clampedLength(size_t length) {
  return static_cast<DWORD>(std::min<size_t>(length, 0xFFFFFFFFu));
}

}  // namespace

bool FoldLess::operator()(std::string_view a, std::string_view b) const {
  size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    unsigned char x = foldByte(a[i]);
    unsigned char y = foldByte(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

bool foldEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (foldByte(a[i]) != foldByte(b[i])) return false;
  }
  return true;
}

Tree::Tree() {
  for (size_t i = 0; i < kRootCount; ++i) roots_[i] = newKey(kRootNames[i]);
}

const Key* Tree::root(HKEY key) const {
  if (key < HKEY_CLASSES_ROOT || key - HKEY_CLASSES_ROOT >= kRootCount) return nullptr;
  return roots_[key - HKEY_CLASSES_ROOT];
}

Key* Tree::newKey(std::string_view name) {
  Key& key = keys_.emplace_back();
  key.name.assign(name);
  return &key;
}

// Walks the reachable keys with an explicit stack (depth is bounded by the
// parser, but no recursion is needed either way). Keys deleted by a "[-...]"
// line stay in storage, unreachable and unfinished.
void Tree::finish() {
  std::vector<Key*> pending(roots_.begin(), roots_.end());
  while (!pending.empty()) {
    Key* key = pending.back();
    pending.pop_back();
    key->order.clear();
    key->order.reserve(key->subkeys.size());
    key->maxSubKeyLength = key->maxValueNameLength = key->maxValueLength = 0;
    for (auto& [name, child] : key->subkeys) {
      key->order.push_back(child);
      key->maxSubKeyLength = std::max(key->maxSubKeyLength, clampedLength(child->name.size()));
      pending.push_back(child);
    }
    for (const auto& [name, value] : key->values) {
      key->maxValueNameLength = std::max(key->maxValueNameLength, clampedLength(name.size()));
      key->maxValueLength = std::max(key->maxValueLength, clampedLength(value.data.size()));
    }
  }
}

}  // namespace winport::reg
