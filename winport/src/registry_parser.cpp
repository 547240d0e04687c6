// Reads the text of a .reg file into a registry tree.
//
// Accepted, line by line (lines end with LF or CR LF; a UTF-8 byte order mark
// is skipped; bytes are taken as they are, both headers alike):
//   REGEDIT4  |  Windows Registry Editor Version 5.00     first non-blank line
//   ; comment                                             also after data
//   [ROOT\Key\Sub]          missing intermediate keys are created
//   [-ROOT\Key]             deletes the key and its subtree read so far
//   "name"="text"  @="text" REG_SZ; escapes \\ and \" only
//   "name"=dword:1a2b       REG_DWORD, 1 to 8 hex digits
//   "name"=hex:01,ff,...    REG_BINARY; hex(N): gives type N (hex(2) expand,
//                           hex(7) multi-string), bytes kept as written;
//                           a trailing backslash continues the list
//   "name"=-                deletes the value
// ROOT is one of the four full root names. A line that fits none of these is
// skipped and counted; the first such line is remembered for the report.
// Policy: an unknown escape such as "C:\dir" is malformed rather than guessed
// at, since the file names libraries to load and a guessed path is worse than
// a missing one.
#include <cstring>
#include <optional>
#include <vector>

#include "registry_tree.h"

namespace winport::reg {

namespace {

using Problem = const char*;  // nullptr: fine; else what is wrong

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimLeft(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view trimRight(std::string_view s) {
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

// True when only blanks or a comment remain.
bool restIsEmpty(std::string_view rest) {
  rest = trimLeft(rest);
  return rest.empty() || rest.front() == ';';
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool startsWithFolded(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && foldEqual(s.substr(0, prefix.size()), prefix);
}

// Reads up to `maxDigits` hex digits from the front of `s` (at least one).
std::optional<DWORD> takeHex(std::string_view& s, size_t maxDigits) {
  DWORD value = 0;
  size_t digits = 0;
  while (digits < s.size() && hexDigit(s[digits]) >= 0) {
    if (digits == maxDigits) return std::nullopt;
    value = value << 4 | static_cast<DWORD>(hexDigit(s[digits]));
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  s.remove_prefix(digits);
  return value;
}

// Entry: `s` starts at an opening quote. Exit: `s` follows the closing quote.
Problem takeQuoted(std::string_view& s, std::string& out) {
  out.clear();
  size_t i = 1;
  while (i < s.size()) {
    char c = s[i++];
    if (c == '"') {
      s.remove_prefix(i);
      return nullptr;
    }
    if (c == '\\') {
      if (i == s.size()) break;
      char next = s[i++];
      if (next != '\\' && next != '"') return "unknown escape in a quoted text";
      c = next;
    }
    out.push_back(c);
  }
  return "quoted text without its closing quote";
}

// Entry: `list` is the text after "hex:" or "hex(N):", continuations joined.
Problem takeHexBytes(std::string_view list, std::vector<BYTE>& out) {
  size_t semicolon = list.find(';');
  if (semicolon != std::string_view::npos) list = list.substr(0, semicolon);
  list = trimRight(trimLeft(list));
  while (!list.empty()) {
    list = trimLeft(list);
    std::optional<DWORD> byte = takeHex(list, 2);
    if (!byte) return "bad byte in a hex list";
    out.push_back(static_cast<BYTE>(*byte));
    list = trimLeft(list);
    if (list.empty()) break;
    if (list.front() != ',') return "bytes of a hex list must be separated by commas";
    list.remove_prefix(1);  // a comma may also end the list
  }
  return nullptr;
}

class Parser {
 public:
  Parser(std::string_view text, ParseResult& out) : text_(text), out_(out) {}
  void run();

 private:
  bool nextLine(std::string_view& line);
  void report(unsigned line, Problem problem);
  void keyLine(std::string_view line);
  Problem openKey(std::string_view path, bool remove);
  void valueLine(std::string_view line);
  Problem hexData(std::string_view data, Value& value);

  enum class Section { BeforeFirstKey, InKey, Skipped };

  std::string_view text_;
  size_t pos_ = 0;
  unsigned lineNumber_ = 0;
  ParseResult& out_;
  Section section_ = Section::BeforeFirstKey;
  Key* current_ = nullptr;
  std::string scratch_;
};

bool Parser::nextLine(std::string_view& line) {
  if (pos_ >= text_.size()) return false;
  size_t end = text_.find('\n', pos_);
  if (end == std::string_view::npos) end = text_.size();
  line = text_.substr(pos_, end - pos_);
  pos_ = end + 1;
  ++lineNumber_;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return true;
}

void Parser::report(unsigned line, Problem problem) {
  if (out_.badLines++ == 0) {
    out_.firstBadLine = line;
    out_.firstProblem = problem;
  }
}

void Parser::run() {
  if (text_.substr(0, 2) == "\xFF\xFE") {
    report(1, "UTF-16 text: save the file as UTF-8 or ANSI");
    return;
  }
  if (text_.substr(0, kBom.size()) == kBom) text_.remove_prefix(kBom.size());
  std::string_view line;
  bool headerSeen = false;
  while (!headerSeen && nextLine(line)) {
    line = trimRight(trimLeft(line));
    if (line.empty()) continue;
    if (line != kHeader4 && line != kHeader5) {
      report(lineNumber_, "the first line is not a registry file header");
      return;
    }
    headerSeen = true;
  }
  if (!headerSeen) {
    report(lineNumber_ == 0 ? 1 : lineNumber_, "no registry file header");
    return;
  }
  while (nextLine(line)) {
    std::string_view body = trimLeft(line);
    if (body.find('\0') != std::string_view::npos) {
      report(lineNumber_, "NUL byte in the line");
    } else if (body.empty() || body.front() == ';') {
      continue;
    } else if (body.front() == '[') {
      keyLine(body);
    } else if (body.front() == '"' || body.front() == '@') {
      valueLine(body);
    } else {
      report(lineNumber_, "neither a key, a value nor a comment");
    }
  }
}

void Parser::keyLine(std::string_view line) {
  size_t close = line.rfind(']');
  Problem problem = nullptr;
  if (close == std::string_view::npos || !restIsEmpty(line.substr(close + 1))) {
    problem = "a key line must end with ']'";
  } else {
    std::string_view path = line.substr(1, close - 1);
    bool remove = !path.empty() && path.front() == '-';
    if (remove) path.remove_prefix(1);
    problem = openKey(path, remove);
  }
  if (problem != nullptr) {
    report(lineNumber_, problem);
    section_ = Section::Skipped;  // its values would land in the wrong key
    current_ = nullptr;
  }
}

// Splits "ROOT\a\b" into the root's index and the key names, checking them
// all before anything is created.
Problem splitKeyPath(std::string_view path, size_t& root, std::vector<std::string_view>& names) {
  size_t slash = path.find('\\');
  std::string_view rootName = path.substr(0, slash);
  root = kRootCount;
  for (size_t i = 0; i < kRootCount; ++i) {
    if (foldEqual(rootName, kRootNames[i])) root = i;
  }
  if (root == kRootCount) return "unknown root key";
  std::string_view rest =
      slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
  while (!rest.empty()) {
    size_t next = rest.find('\\');
    std::string_view name = rest.substr(0, next);
    rest = next == std::string_view::npos ? std::string_view{} : rest.substr(next + 1);
    if (name.empty()) return "empty key name in the path";
    if (name.size() > kMaxKeyNameLength) return "key name longer than 255 characters";
    if (names.size() == kMaxKeyDepth) return "key path deeper than 512 levels";
    names.push_back(name);
  }
  return nullptr;
}

// Entry: `path` is "ROOT\a\b" without brackets. Exit: current_ is the key
// (created with its missing parents), or after a deletion the section is skipped.
Problem Parser::openKey(std::string_view path, bool remove) {
  size_t root = 0;
  std::vector<std::string_view> names;
  if (Problem problem = splitKeyPath(path, root, names)) return problem;
  Key* key = out_.tree->mutableRoot(root);
  Key* parent = nullptr;
  for (std::string_view name : names) {
    auto found = key->subkeys.find(name);
    if (found == key->subkeys.end()) {
      if (remove) {  // deleting what does not exist is no error
        parent = nullptr;
        break;
      }
      found = key->subkeys.emplace(std::string(name), out_.tree->newKey(name)).first;
    }
    parent = key;
    key = found->second;
  }
  if (remove) {
    // A root itself is never deleted; a key is removed with its subtree.
    if (parent != nullptr) parent->subkeys.erase(key->name);
    section_ = Section::Skipped;
    current_ = nullptr;
    return nullptr;
  }
  section_ = Section::InKey;
  current_ = key;
  return nullptr;
}

void Parser::valueLine(std::string_view line) {
  unsigned startLine = lineNumber_;
  std::string name;
  Problem problem = nullptr;
  if (line.front() == '@') {
    line.remove_prefix(1);
  } else {
    problem = takeQuoted(line, name);
  }
  line = trimLeft(line);
  if (problem == nullptr && (line.empty() || line.front() != '=')) problem = "missing '='";
  if (problem == nullptr && name.size() > kMaxValueNameLength) problem = "value name too long";
  if (problem != nullptr) return report(startLine, problem);
  std::string_view data = trimLeft(line.substr(1));

  Value value;
  bool remove = false;
  if (!data.empty() && data.front() == '"') {
    value.type = REG_SZ;
    problem = takeQuoted(data, scratch_);
    if (problem == nullptr && !restIsEmpty(data)) problem = "text after the closing quote";
    value.data.assign(scratch_.begin(), scratch_.end());
    value.data.push_back(0);
  } else if (startsWithFolded(data, "dword:")) {
    data.remove_prefix(6);
    std::optional<DWORD> number = takeHex(data, 8);
    if (!number || !restIsEmpty(data)) problem = "a dword needs 1 to 8 hex digits";
    DWORD n = number.value_or(0);
    value.type = REG_DWORD;
    value.data = {static_cast<BYTE>(n), static_cast<BYTE>(n >> 8), static_cast<BYTE>(n >> 16),
                  static_cast<BYTE>(n >> 24)};
  } else if (startsWithFolded(data, "hex")) {
    problem = hexData(data, value);
  } else if (!data.empty() && data.front() == '-' && restIsEmpty(data.substr(1))) {
    remove = true;
  } else {
    problem = "unknown kind of value data";
  }
  if (problem != nullptr) return report(startLine, problem);
  if (section_ == Section::BeforeFirstKey) return report(startLine, "value before the first key");
  if (section_ == Section::Skipped) return;  // belongs to a deleted or refused key
  if (remove) {
    current_->values.erase(name);
  } else {
    current_->values.insert_or_assign(std::move(name), std::move(value));
  }
}

// Entry: `data` starts with "hex". Consumes continuation lines (a trailing
// backslash) so the whole list is read, even when it turns out malformed.
Problem Parser::hexData(std::string_view data, Value& value) {
  data.remove_prefix(3);
  value.type = REG_BINARY;
  Problem problem = nullptr;
  if (!data.empty() && data.front() == '(') {
    data.remove_prefix(1);
    std::optional<DWORD> type = takeHex(data, 8);
    if (!type || data.empty() || data.front() != ')') problem = "bad type in hex(N)";
    if (problem == nullptr) data.remove_prefix(1);
    value.type = type.value_or(REG_NONE);
  }
  if (problem == nullptr && (data.empty() || data.front() != ':')) {
    problem = "missing ':' after hex";
  }
  if (problem == nullptr) data.remove_prefix(1);

  std::string joined(trimRight(data));
  while (!joined.empty() && joined.back() == '\\') {
    joined.pop_back();
    std::string_view next;
    if (!nextLine(next)) return "hex list continued past the end of the file";
    joined.append(trimRight(trimLeft(next)));
  }
  if (problem != nullptr) return problem;
  return takeHexBytes(joined, value.data);
}

}  // namespace

ParseResult parseRegFile(std::string_view text) {
  ParseResult result;
  result.tree = std::make_shared<Tree>();
  Parser(text, result).run();
  result.tree->finish();
  return result;
}

}  // namespace winport::reg
