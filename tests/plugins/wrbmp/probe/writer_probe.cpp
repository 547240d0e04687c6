// A second writer on the frame, for what the BMP writer does not use: the
// host's option getter, an open hook that appends to an existing file, a
// block with GMEM_DDESHARE and a work buffer, withheld flags, cancellation.
//
// File content: at begin "PROBE=<value>;" or "PROBE absent;"; then each row's
// first byte, rows taken top first. An option value "FAIL" makes begin fail
// with error 4 and without reporting flags.
#include <string>
#include <string_view>

#include "plugin/writer_frame.h"
#include "plugin/writer_module.h"

namespace {

struct ProbeBlock {
  ExportBlockHead head;
  HGLOBAL workBuffer;  // freed by the release hook
};

bool OpenOrAppend(writer::BeginCall& call, uint32_t* handle) {
  uint32_t ignored = 0;
  const bool exists = call.files->open(call.file, kOpenExist, &ignored) == 1;
  call.openMode = exists ? kOpenReadWrite : kOpenCreate;
  return call.files->open(call.file, call.openMode, handle) == 1;
}

bool Begin(ExportBlockHead& head, writer::BeginCall& call) {
  ProbeBlock& block = writer::BlockOf<ProbeBlock>(head);
  block.workBuffer = GlobalAlloc(GHND, 64);
  if (call.openMode == kOpenReadWrite) writer::Seek(head, 0, 2);
  writer::OptionValue value;
  const bool found = writer::LookupOption(call.options, "PROBE", value);
  if (found && std::string_view(value.data()) == "FAIL") {
    writer::ReportError(kWriterErrorMemory, head.fileName);
    call.reportFlags = false;
    return false;
  }
  const std::string text = found ? "PROBE=" + std::string(value.data()) + ";" : "PROBE absent;";
  writer::WriteAll(head, text.data(), static_cast<uint32_t>(text.size()));
  return true;
}

int32_t WriteRows(ExportBlockHead& head, const writer::RowBlock& rows, ExportProgress* progress) {
  for (uint32_t i = 0; i < rows.count; ++i) {
    if (!writer::AdvanceProgress(progress, rows.stride)) return kWriterCancelled;
    writer::WriteAll(head, rows.rowFromTop(i), 1);
  }
  return kWriterOk;
}

int32_t Finish(ExportBlockHead&, ExportProgress*) {
  return kWriterOk;
}

void Release(ExportBlockHead& head) {
  ProbeBlock& block = writer::BlockOf<ProbeBlock>(head);
  if (block.workBuffer != 0) GlobalFree(block.workBuffer);
  block.workBuffer = 0;
}

}  // namespace

namespace writer {
constinit const FormatDescriptor kWriterFormat{
    .extensionText = "PRB;Frame probe (*.prb)",
    .moduleName = "writer_probe.DLL",
    .hostInfoFlags = 252,
    .beginFlags = 96,
    .usesOptionGetter = true,
    .blockAllocFlags = GHND | GMEM_DDESHARE,
    .blockSize = sizeof(ProbeBlock),
    .attach = nullptr,
    .acceptsImage = nullptr,
    .refusedErrorId = kWriterErrorHeader,
    .openFile = OpenOrAppend,
    .begin = Begin,
    .writeRows = WriteRows,
    .finish = Finish,
    .release = Release,
};
}  // namespace writer

#define PROBE_STRINGS(X) WRITER_COMMON_STRINGS(X) WRITER_MEMORY_STRINGS(X)
WRITER_PLUGIN_MODULE(PROBE_STRINGS)
