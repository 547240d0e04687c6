#include "export_errors.h"

namespace imagehost {

namespace {
thread_local ExportErrorLog* t_log = nullptr;
}  // namespace

ExportErrorScope::ExportErrorScope(ExportErrorLog& log) : previous_(t_log) { t_log = &log; }

ExportErrorScope::~ExportErrorScope() { t_log = previous_; }

void CALLBACK OnExportError(HINSTANCE writer, int32_t errorId, const char*, const char*) {
  if (t_log == nullptr) return;
  if (t_log->count < t_log->kept.size()) t_log->kept[t_log->count] = {writer, errorId};
  if (t_log->count < UINT32_MAX) ++t_log->count;
}

}  // namespace imagehost
