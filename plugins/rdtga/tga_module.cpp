// rdtga.DIL: the Targa reader on the reader frame. Its last error is one
// process-wide value, not a per-thread slot.
#include "tga_format.h"

namespace reader {

// OVDLget_ver, and the module's version resource.
constexpr char kVersionText[] = "Targa File Reader V1.1";

const ReaderFormat gReaderFormat = {
    .traceName = "rdtga",
    .versionText = kVersionText,
    .cancellable = false,  // the progress callback's answer is not used
    .processWideError = true,
    .printResult = kReaderNoPrinting,
    .printErrorId = rdtga::kStrPrintRefused,
    .renderResult = 0,
    .escapeResult = kReaderUnsupported,
    .noSuchPageErrorId = 0,
    .recognise = rdtga::Recognise,
    .init = rdtga::Init,
    .describe = rdtga::Describe,
    .fillPalette = rdtga::FillPalette,
    .beginRows = rdtga::BeginRows,
    .decodeRow = rdtga::DecodeRow,
    .deliverRow = nullptr,
    .rewind = rdtga::Rewind,
    .setPage = nullptr,
    .release = nullptr,
};

}  // namespace reader

namespace {
constexpr auto kTgaExports = reader::JoinExports(reader::kCoreExports);
}  // namespace

READER_MODULE(kTgaExports, RDTGA_STRINGS, ::reader::kVersionText)
