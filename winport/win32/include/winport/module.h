// Modules on Windows. A module keeps the same export and string tables as on
// Linux, but the system's loader serves them: the build turns the tables into a
// module-definition file (names with ordinals) and a resource script (the
// string table). WINPORT_MODULE places both texts, generated at compile time
// from the tables, in sections of the module's object file (WINPORT_MODULE_VERSION
// adds the version text for a VERSIONINFO resource) that the build
// extracts before linking (the linker drops them from the DLL), and defines
// the DllMain that forwards to the module's attach routine.
#pragma once

#include "winport/types.h"

// Resource types as the tables name them (numbers, as on Linux; the system's
// macros are addresses, which no constant table can hold).
#undef RT_BITMAP
#undef RT_DIALOG
#undef RT_STRING
inline constexpr WORD RT_BITMAP = 2;
inline constexpr WORD RT_DIALOG = 5;
inline constexpr WORD RT_STRING = 6;

struct WinportExport {
  const char* name;
  WORD ordinal;
};

// One string of the module's table (on Windows only string resources come
// from tables; other resources come from resource scripts).
struct WinportResource {
  WORD type;
  WORD id;
  const char* data;
  DWORD size;
};

using WinportDllMain = BOOL (*)(HINSTANCE instance, DWORD reason, void* reserved);

namespace winport_detail {

template <size_t N>
struct Text {
  char chars[N];
};

// Appends to `out` (when not null) and counts; the same walk sizes and fills.
struct TextSink {
  char* out;
  size_t length;
  constexpr void Put(char c) {
    if (out) out[length] = c;
    ++length;
  }
  constexpr void Put(const char* text) {
    while (*text) Put(*text++);
  }
  constexpr void PutDecimal(unsigned value) {
    char digits[10] = {};
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (count > 0) Put(digits[--count]);
  }
};

// "EXPORTS\n" and one "  name @ordinal\n" line per export.
constexpr size_t WriteDefText(TextSink sink, const WinportExport* exports, DWORD count) {
  sink.Put("EXPORTS\n");
  for (DWORD i = 0; i < count; ++i) {
    sink.Put("  ");
    sink.Put(exports[i].name);
    sink.Put(" @");
    sink.PutDecimal(exports[i].ordinal);
    sink.Put('\n');
  }
  return sink.length;
}

// A resource script string: quotes doubled, backslashes and control
// characters as octal escapes.
constexpr void PutRcString(TextSink& sink, const char* text, DWORD size) {
  sink.Put('"');
  for (DWORD i = 0; i < size; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"') {
      sink.Put("\"\"");
    } else if (c == '\\' || c < 0x20 || c >= 0x7F) {
      sink.Put('\\');
      sink.Put(static_cast<char>('0' + (c >> 6)));
      sink.Put(static_cast<char>('0' + ((c >> 3) & 7)));
      sink.Put(static_cast<char>('0' + (c & 7)));
    } else {
      sink.Put(static_cast<char>(c));
    }
  }
  sink.Put('"');
}

// A STRINGTABLE with one "  id, "text"\n" line per string (empty: no table).
constexpr size_t WriteRcText(TextSink sink, const WinportResource* resources, DWORD count) {
  if (count == 0) return sink.length;
  sink.Put("STRINGTABLE\nBEGIN\n");
  for (DWORD i = 0; i < count; ++i) {
    sink.Put("  ");
    sink.PutDecimal(resources[i].id);
    sink.Put(", ");
    PutRcString(sink, resources[i].data, resources[i].size);
    sink.Put('\n');
  }
  sink.Put("END\n");
  return sink.length;
}

template <size_t N>
constexpr Text<N> DefText(const WinportExport* exports, DWORD count) {
  Text<N> text{};
  WriteDefText(TextSink{text.chars, 0}, exports, count);
  return text;
}

template <size_t N>
constexpr Text<N> RcText(const WinportResource* resources, DWORD count) {
  Text<N> text{};
  WriteRcText(TextSink{text.chars, 0}, resources, count);
  return text;
}

template <size_t N>
constexpr Text<N> CopyText(const char (&text)[N]) {
  Text<N> copy{};
  for (size_t i = 0; i < N; ++i) copy.chars[i] = text[i];
  return copy;
}

}  // namespace winport_detail

// Names the module's version text (the one its version export returns): the
// build makes the module's VERSIONINFO resource from it (cmake/ModuleTexts.cmake).
// Use once, in the same source file as WINPORT_MODULE.
#define WINPORT_MODULE_VERSION(text)                                                    \
  namespace {                                                                           \
  [[gnu::section(".winport_ver"), gnu::used]] constexpr auto winport_module_version_text = \
      winport_detail::CopyText(text);                                                   \
  }                                                                                     \
  static_assert(true)

// Defines the module's DllMain and the texts of its generated .def and .rc.
// Arrays may be empty (pass nullptr, 0). Use once per module.
#define WINPORT_MODULE(exportsPtr, exportCount, resourcesPtr, resourceCount, dllMainFn)          \
  namespace {                                                                                  \
  constexpr const WinportExport* winport_module_exports = exportsPtr;                          \
  constexpr DWORD winport_module_export_count = static_cast<DWORD>(exportCount);              \
  constexpr const WinportResource* winport_module_resources = resourcesPtr;                    \
  constexpr DWORD winport_module_resource_count = static_cast<DWORD>(resourceCount);          \
  [[gnu::section(".winport_def"), gnu::used]] constexpr auto winport_module_def_text =         \
      winport_detail::DefText<winport_detail::WriteDefText({nullptr, 0},                       \
                                                           winport_module_exports,             \
                                                           winport_module_export_count) + 1>(  \
          winport_module_exports, winport_module_export_count);                               \
  [[gnu::section(".winport_rc"), gnu::used]] constexpr auto winport_module_rc_text =           \
      winport_detail::RcText<winport_detail::WriteRcText({nullptr, 0},                         \
                                                         winport_module_resources,             \
                                                         winport_module_resource_count) + 1>(  \
          winport_module_resources, winport_module_resource_count);                           \
  constexpr WinportDllMain winport_module_attach = dllMainFn;                                  \
  }                                                                                            \
  extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {           \
    if constexpr (winport_module_attach == nullptr) {                                          \
      (void)instance, (void)reason, (void)reserved;                                            \
      return TRUE;                                                                             \
    } else {                                                                                   \
      return winport_module_attach(instance, reason, reserved);                                \
    }                                                                                          \
  }
