// The registry's content as read from one .reg file: a tree of keys under the
// predefined roots, immutable once built and shared by every handle opened on it.
#pragma once

#include <array>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "winport/registry.h"

namespace winport::reg {

// Orders names as the registry does: bytes compared after folding ASCII
// letters to upper case (so "a_b" sorts after "AB", '_' lying above 'Z'),
// other bytes as they are. Transparent so lookups take string_view.
struct FoldLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};
bool foldEqual(std::string_view a, std::string_view b);

struct Value {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;  // exactly the stored bytes (a REG_SZ includes its NUL)
};

struct Key {
  std::string name;  // as first spelled in the file
  std::map<std::string, Key*, FoldLess> subkeys;
  std::map<std::string, Value, FoldLess> values;
  // Filled when the tree is finished: subkeys in enumeration order and the
  // figures RegQueryInfoKeyA reports (lengths without NUL, data in bytes).
  std::vector<const Key*> order;
  DWORD maxSubKeyLength = 0;
  DWORD maxValueNameLength = 0;
  DWORD maxValueLength = 0;
};

inline constexpr size_t kRootCount = 4;  // HKEY_CLASSES_ROOT .. HKEY_USERS

class Tree {
 public:
  Tree();
  // The root for a predefined handle; nullptr when `key` is not one.
  const Key* root(HKEY key) const;
  Key* mutableRoot(size_t index) { return roots_[index]; }
  Key* newKey(std::string_view name);
  // Computes the enumeration order and the per-key maxima of every reachable key.
  void finish();

  FILETIME lastWrite{};  // the file's modification time

 private:
  std::deque<Key> keys_;  // owns every key; children are plain pointers into it
  std::array<Key*, kRootCount> roots_{};
};

// The full .reg name of each root, indexed like Tree's roots.
inline constexpr std::array<std::string_view, kRootCount> kRootNames = {
    "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS"};

// Bounds that keep a hostile or damaged file from costing unbounded memory or
// stack: the same limits the registry has on the platform the callers target.
inline constexpr size_t kMaxKeyNameLength = 255;
inline constexpr size_t kMaxValueNameLength = 16383;
inline constexpr size_t kMaxKeyDepth = 512;
inline constexpr size_t kMaxFileSize = 16u << 20;

struct ParseResult {
  std::shared_ptr<Tree> tree;  // never null; empty when the header is wrong
  unsigned badLines = 0;       // lines skipped as malformed
  unsigned firstBadLine = 0;   // 1-based; meaningful when badLines > 0
  std::string firstProblem;    // what was wrong with that line
};

// Parses the text of a .reg file. Malformed lines are skipped and counted; a
// missing header leaves the tree empty. Throws only std::bad_alloc.
ParseResult parseRegFile(std::string_view text);

// The tree behind the predefined keys, read again when the file chosen (see
// registry.h) is another one or has changed since it was read: path, inode,
// size, modification time, owner or mode. Never null. Throws std::bad_alloc.
std::shared_ptr<const Tree> currentTree();

// The path of the file chosen now (see registry.h). Throws std::bad_alloc.
std::string registryFilePath();

}  // namespace winport::reg
