// The registry calls: a table of open keys over the tree read from the .reg file.
//
// An opened key holds the tree it was opened on, so it keeps answering from
// that content after the file has been read again; only the predefined keys
// follow the file (each use of one checks whether the file changed).
// Handles run from 1 up to 0x7FFFFFFF, wrapping, so they are never 0 and never
// a predefined value, and a closed handle stays invalid until the counter has
// gone all the way round.
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <unordered_map>

#include "registry_tree.h"

namespace winport::reg {

namespace {

constexpr HKEY kLastHandle = 0x7FFFFFFFu;

struct OpenKey {
  std::shared_ptr<const Tree> tree;
  const Key* key = nullptr;
};

struct HandleTable {
  std::mutex mutex;
  std::unordered_map<HKEY, OpenKey> open;
  HKEY next = 1;
};

// Never destroyed: modules may close keys from their own finalisers at exit.
HandleTable& handles() {
  static HandleTable* table = new HandleTable;
  return *table;
}

bool isPredefined(HKEY key) {
  return key >= HKEY_CLASSES_ROOT && key - HKEY_CLASSES_ROOT < kRootCount;
}

std::optional<OpenKey> resolve(HKEY key) {
  if (isPredefined(key)) {
    std::shared_ptr<const Tree> tree = currentTree();
    const Key* root = tree->root(key);
    return OpenKey{std::move(tree), root};
  }
  HandleTable& table = handles();
  std::lock_guard<std::mutex> guard(table.mutex);
  auto found = table.open.find(key);
  if (found == table.open.end()) return std::nullopt;
  return found->second;
}

HKEY addHandle(OpenKey key) {
  HandleTable& table = handles();
  std::lock_guard<std::mutex> guard(table.mutex);
  if (table.open.size() >= kLastHandle) throw std::bad_alloc();
  for (;;) {  // ends: fewer handles are in use than there are values
    HKEY handle = table.next;
    table.next = table.next == kLastHandle ? 1 : table.next + 1;
    if (table.open.emplace(handle, key).second) return handle;
  }
}

// Walks "a\b\c" down from `key`; names compare without regard to case. A
// trailing backslash is tolerated, an empty name elsewhere finds nothing.
const Key* descend(const Key* key, std::string_view path) {
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  while (!path.empty()) {
    size_t slash = path.find('\\');
    std::string_view name = path.substr(0, slash);
    if (name.empty()) return nullptr;
    auto found = key->subkeys.find(name);
    if (found == key->subkeys.end()) return nullptr;
    key = found->second;
    path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
  }
  return key;
}

// No exception leaves an export.
template <typename Body>
LONG guarded(Body&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    return ERROR_BADDB;
  }
}

LONG openKey(HKEY parent, const char* subKey, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = 0;
  std::optional<OpenKey> base = resolve(parent);
  if (!base) return ERROR_INVALID_HANDLE;
  const Key* key = descend(base->key, subKey != nullptr ? subKey : "");
  if (key == nullptr) return ERROR_FILE_NOT_FOUND;
  *result = addHandle({std::move(base->tree), key});
  return ERROR_SUCCESS;
}

// Entry: data non-null requires size non-null. The stored size is reported in
// every successful case and with ERROR_MORE_DATA; a short buffer is left as it was.
LONG queryValue(HKEY handle, const char* valueName, DWORD* type, BYTE* data, DWORD* size) {
  std::optional<OpenKey> key = resolve(handle);
  if (!key) return ERROR_INVALID_HANDLE;
  auto found = key->key->values.find(std::string_view(valueName != nullptr ? valueName : ""));
  if (found == key->key->values.end()) return ERROR_FILE_NOT_FOUND;
  const Value& value = found->second;
  auto stored = static_cast<DWORD>(value.data.size());  // bounded by the file size cap
  if (type != nullptr) *type = value.type;
  if (data == nullptr) {
    if (size != nullptr) *size = stored;
    return ERROR_SUCCESS;
  }
  if (*size < stored) {
    *size = stored;
    return ERROR_MORE_DATA;
  }
  if (stored > 0) std::memcpy(data, value.data.data(), stored);
  *size = stored;
  return ERROR_SUCCESS;
}

// The registry here keeps no class names: a class buffer gets an empty text.
void emptyClass(char* className, DWORD* classLength) {
  if (className != nullptr && *classLength > 0) className[0] = '\0';
  if (classLength != nullptr) *classLength = 0;
}

template <typename T>
void put(T* target, T value) {
  if (target != nullptr) *target = value;
}

}  // namespace

}  // namespace winport::reg

using namespace winport::reg;

WINPORT_API LONG RegOpenKeyExA(HKEY parent, const char* subKey, DWORD /*options*/,
                               REGSAM /*access: every right is granted*/, HKEY* result) {
  return guarded([&] { return openKey(parent, subKey, result); });
}

WINPORT_API LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type,
                                  BYTE* data, DWORD* size) {
  if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
  return guarded([&] { return queryValue(key, valueName, type, data, size); });
}

WINPORT_API LONG RegQueryInfoKeyA(HKEY key, char* className, DWORD* classLength, DWORD* reserved,
                                  DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* maxClassLength,
                                  DWORD* values, DWORD* maxValueNameLength,
                                  DWORD* maxValueLength, DWORD* securityDescriptor,
                                  FILETIME* lastWrite) {
  if (reserved != nullptr || (className != nullptr && classLength == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  return guarded([&] {
    std::optional<OpenKey> open = resolve(key);
    if (!open) return ERROR_INVALID_HANDLE;
    const Key& k = *open->key;
    emptyClass(className, classLength);
    put(subKeys, static_cast<DWORD>(k.order.size()));
    put(maxSubKeyLength, k.maxSubKeyLength);
    put(maxClassLength, DWORD{0});
    put(values, static_cast<DWORD>(k.values.size()));
    put(maxValueNameLength, k.maxValueNameLength);
    put(maxValueLength, k.maxValueLength);
    put(securityDescriptor, DWORD{0});
    put(lastWrite, open->tree->lastWrite);
    return ERROR_SUCCESS;
  });
}

// A name buffer must hold the name and its NUL; when it cannot, ERROR_MORE_DATA
// leaves both the buffer and *nameLength as they were.
WINPORT_API LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameLength,
                               DWORD* reserved, char* className, DWORD* classLength,
                               FILETIME* lastWrite) {
  if (name == nullptr || nameLength == nullptr || reserved != nullptr ||
      (className != nullptr && classLength == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  return guarded([&] {
    std::optional<OpenKey> open = resolve(key);
    if (!open) return ERROR_INVALID_HANDLE;
    if (index >= open->key->order.size()) return ERROR_NO_MORE_ITEMS;
    const std::string& child = open->key->order[index]->name;
    if (*nameLength <= child.size()) return ERROR_MORE_DATA;
    std::memcpy(name, child.c_str(), child.size() + 1);
    *nameLength = static_cast<DWORD>(child.size());
    emptyClass(className, classLength);
    put(lastWrite, open->tree->lastWrite);
    return ERROR_SUCCESS;
  });
}

WINPORT_API LONG RegCloseKey(HKEY key) {
  if (isPredefined(key)) return ERROR_SUCCESS;
  return guarded([&] {
    HandleTable& table = handles();
    std::lock_guard<std::mutex> guard(table.mutex);
    return table.open.erase(key) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  });
}
