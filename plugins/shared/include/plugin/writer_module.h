// What makes a writer a module: its export table, its string table and its
// attach routine. A writer ends its glue file with
//     WRITER_PLUGIN_MODULE(WRITER_COMMON_STRINGS)
// (or a list that adds WRITER_MEMORY_STRINGS) at global scope.
#pragma once

#include <iterator>

#include "plugin/contract.h"
#include "winport/module.h"

// The writers' messages, by id: X(constant, id, text). One list feeds both the
// id constants below and the RT_STRING table of each module.
#define WRITER_COMMON_STRINGS(X)                                      \
  X(kStringOpenFailed, 1, "Unable to open file.")                     \
  X(kStringHeaderWriteFailed, 2, "Error writing export file header.") \
  X(kStringWriteFailed, 3, "Error writing export file.")
// Only writers that allocate work buffers after begin (JPEG) carry this one.
#define WRITER_MEMORY_STRINGS(X) X(kStringNoMemory, 4, "Error allocating Memory.")

namespace writer {

#define WRITER_STRING_ID(name, id, text) name = id,
enum StringId : int32_t {
  WRITER_COMMON_STRINGS(WRITER_STRING_ID) WRITER_MEMORY_STRINGS(WRITER_STRING_ID)
};
#undef WRITER_STRING_ID
static_assert(kStringOpenFailed == kWriterErrorOpen);
static_assert(kStringHeaderWriteFailed == kWriterErrorHeader);
static_assert(kStringWriteFailed == kWriterErrorWrite);
static_assert(kStringNoMemory == kWriterErrorMemory);

// Every writer's version text (OVXDLget_ver, and its version resource).
inline constexpr char kWriterVersionText[] = "1.00";

// Ordinal of the library's exit routine (the same in readers and writers).
inline constexpr WORD kOrdWriterWEP = kOrdWEP;

// Every writer's exports, by name and ordinal.
inline constexpr WinportExport kWriterExports[] = {
    {"OVXDLget_ext", kOrdOVXDLget_ext},     {"OVXDLbegin_write", kOrdOVXDLbegin_write},
    {"OVXDLwrite_block", kOrdOVXDLwrite_block}, {"OVXDLend_write", kOrdOVXDLend_write},
    {"OVXDLget_ver", kOrdOVXDLget_ver},     {"WEP", kOrdWriterWEP},
};

// Process attach: records the module instance and takes a thread-local slot
// (the load fails without one) set to null; thread attach sets it to null;
// process detach frees it. Also runs the format's attach hook.
BOOL WriterDllMain(HINSTANCE instance, DWORD reason, void* reserved);

}  // namespace writer

#define WRITER_STRING_RESOURCE(name, id, text) \
  WinportResource{RT_STRING, id, text, static_cast<DWORD>(sizeof(text) - 1)},

#define WRITER_PLUGIN_MODULE(STRING_LIST)                                                   \
  namespace {                                                                               \
  constexpr WinportResource kWriterStringTable[] = {STRING_LIST(WRITER_STRING_RESOURCE)};   \
  }                                                                                         \
  WINPORT_MODULE_VERSION(::writer::kWriterVersionText);                                     \
  WINPORT_MODULE(::writer::kWriterExports, std::size(::writer::kWriterExports),             \
                 kWriterStringTable, std::size(kWriterStringTable), ::writer::WriterDllMain)
