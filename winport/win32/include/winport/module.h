// Modules on Windows. A module keeps the same export and resource tables as
// on Linux, but the system's loader serves them: the build turns the tables
// into a module-definition file (names with ordinals) and a resource script
// (the string table, bitmaps as BITMAP resources, dialog templates as DIALOG
// resources). WINPORT_MODULE places both texts, generated at compile time
// from the tables, in sections of the module's object file (WINPORT_MODULE_VERSION
// adds the version text for a VERSIONINFO resource) that the build
// extracts before linking (the linker drops them from the DLL), and defines
// the DllMain that forwards to the module's attach routine.
#pragma once

#include "winport/dialog.h"
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

// One resource of the module's table, written as on Linux: a string (`data`
// its text, `size` its length), a bitmap (a packed DIB of `size` bytes) or a
// dialog (a DialogTemplate). The constructors keep the pointer's own type, so
// that the resource script can be written from the table at compile time.
struct WinportResource {
  WORD type;
  WORD id;
  const char* data = nullptr;
  DWORD size = 0;
  const BYTE* bytes = nullptr;
  const DialogTemplate* dialog = nullptr;

  constexpr WinportResource(WORD t, WORD i, const char* text, DWORD n)
      : type(t), id(i), data(text), size(n) {}
  constexpr WinportResource(WORD t, WORD i, const BYTE* raw, DWORD n)
      : type(t), id(i), size(n), bytes(raw) {}
  constexpr WinportResource(WORD t, WORD i, const DialogTemplate* d, DWORD n)
      : type(t), id(i), size(n), dialog(d) {}
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

constexpr void PutOctal(TextSink& sink, unsigned char c) {
  sink.Put('\\');
  sink.Put(static_cast<char>('0' + (c >> 6)));
  sink.Put(static_cast<char>('0' + ((c >> 3) & 7)));
  sink.Put(static_cast<char>('0' + (c & 7)));
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
      PutOctal(sink, c);
    } else {
      sink.Put(static_cast<char>(c));
    }
  }
  sink.Put('"');
}

constexpr DWORD TextLength(const char* text) {
  DWORD length = 0;
  while (text != nullptr && text[length] != '\0') ++length;
  return length;
}

constexpr void PutSigned(TextSink& sink, long value) {
  if (value < 0) sink.Put('-');
  sink.PutDecimal(static_cast<unsigned>(value < 0 ? -value : value));
}

// A bitmap as a resource of type 2 with raw data: its bytes as octal escapes,
// 32 to a string (the strings of a raw block are joined without terminators).
constexpr void WriteRcBitmap(TextSink& sink, const WinportResource& bitmap) {
  sink.PutDecimal(bitmap.id);
  sink.Put(" 2\nBEGIN\n");
  for (DWORD at = 0; at < bitmap.size; at += 32) {
    sink.Put(at == 0 ? "  \"" : ",\n  \"");
    for (DWORD i = at; i < bitmap.size && i < at + 32; ++i) PutOctal(sink, bitmap.bytes[i]);
    sink.Put('"');
  }
  sink.Put("\nEND\n");
}

// Dialog units for the dialog font (8 point "MS Shell Dlg", whose base units
// are 6 x 13 pixels at 96 dpi): a unit is a quarter of the average character
// width across and an eighth of its height down, so the tables' pixel layout
// keeps its size on a standard screen.
constexpr long AcrossUnits(long pixels) { return (pixels * 2 + (pixels < 0 ? -1 : 1)) / 3; }
constexpr long DownUnits(long pixels) { return (pixels * 8 + (pixels < 0 ? -6 : 6)) / 13; }

constexpr void PutBox(TextSink& sink, long x, long y, long width, long height) {
  PutSigned(sink, AcrossUnits(x));
  sink.Put(", ");
  PutSigned(sink, DownUnits(y));
  sink.Put(", ");
  PutSigned(sink, AcrossUnits(width));
  sink.Put(", ");
  PutSigned(sink, DownUnits(height));
}

// Window styles, as numbers (the script is compiled without the system's
// headers): a visible modal frame with caption and system menu in the dialog
// font; visible child controls; static text, an owner-drawn (empty) static
// for a picture area, a push button that takes the focus by tabbing.
// The dialog itself is WS_VISIBLE so that a modal run shows it right after
// WM_INITDIALOG, as the platform layer does: without it the system shows a
// dialog only once its queue is first empty, and one that works by posting
// itself commands would do its work (and may end) before it is ever seen.
inline constexpr const char* kDialogStyle = "0x90C800C0";
inline constexpr const char* kTextStyle = "0x50000000";
inline constexpr const char* kPictureStyle = "0x5000000D";
inline constexpr const char* kButtonStyle = "0x50010000";

constexpr void WriteRcControl(TextSink& sink, const DialogItemTemplate& item) {
  const bool button = item.kind == DIALOG_CONTROL_BUTTON;
  sink.Put("  CONTROL ");
  PutRcString(sink, item.text, TextLength(item.text));
  sink.Put(", ");
  sink.PutDecimal(item.id);
  sink.Put(button ? ", \"Button\", " : ", \"Static\", ");
  sink.Put(button                                ? kButtonStyle
           : item.kind == DIALOG_CONTROL_PICTURE ? kPictureStyle
                                                 : kTextStyle);
  sink.Put(", ");
  PutBox(sink, item.x, item.y, item.width, item.height);
  sink.Put('\n');
}

// A DIALOG statement whose client area has the template's size.
constexpr void WriteRcDialog(TextSink& sink, WORD id, const DialogTemplate& dialog) {
  sink.PutDecimal(id);
  sink.Put(" DIALOG ");
  PutBox(sink, dialog.x, dialog.y, dialog.width, dialog.height);
  sink.Put("\nSTYLE ");
  sink.Put(kDialogStyle);
  sink.Put("\nCAPTION ");
  PutRcString(sink, dialog.title, TextLength(dialog.title));
  sink.Put("\nFONT 8, \"MS Shell Dlg\"\nBEGIN\n");
  for (WORD i = 0; i < dialog.itemCount; ++i) WriteRcControl(sink, dialog.items[i]);
  sink.Put("END\n");
}

// A STRINGTABLE with one "  id, "text"\n" line per string (none: no table),
// then the bitmaps and the dialogs.
constexpr size_t WriteRcText(TextSink sink, const WinportResource* resources, DWORD count) {
  bool strings = false;
  for (DWORD i = 0; i < count; ++i) {
    if (resources[i].type != RT_STRING) continue;
    if (!strings) sink.Put("STRINGTABLE\nBEGIN\n");
    strings = true;
    sink.Put("  ");
    sink.PutDecimal(resources[i].id);
    sink.Put(", ");
    PutRcString(sink, resources[i].data, resources[i].size);
    sink.Put('\n');
  }
  if (strings) sink.Put("END\n");
  for (DWORD i = 0; i < count; ++i) {
    if (resources[i].type == RT_BITMAP && resources[i].bytes != nullptr)
      WriteRcBitmap(sink, resources[i]);
    else if (resources[i].type == RT_DIALOG && resources[i].dialog != nullptr)
      WriteRcDialog(sink, resources[i].id, *resources[i].dialog);
  }
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
