// The error callback the host hands writers. A writer reports an error id;
// the host collects the reports made during its own calls into the writer,
// and later shows each as the writer's own string.
#pragma once

#include <array>
#include <cstdint>

#include "plugin/contract.h"

namespace imagehost {

struct ExportErrorReport {
  HINSTANCE instance = 0;  // the writer's module as it passed it
  int32_t id = 0;          // key into the writer's string table
};

// The reports of one export: every report is counted, the first few kept.
struct ExportErrorLog {
  std::array<ExportErrorReport, 8> kept{};
  uint32_t count = 0;
};

// While alive, reports made on this thread go into `log`. Scopes nest.
class ExportErrorScope {
 public:
  explicit ExportErrorScope(ExportErrorLog& log);
  ~ExportErrorScope();
  ExportErrorScope(const ExportErrorScope&) = delete;
  ExportErrorScope& operator=(const ExportErrorScope&) = delete;

 private:
  ExportErrorLog* previous_;
};

// The ExportErrorCallback in every ExportHostInfo the host fills.
void CALLBACK OnExportError(HINSTANCE writer, int32_t errorId, const char* moduleName,
                            const char* fileName);

}  // namespace imagehost
