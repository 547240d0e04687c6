// rdtiff.DIL: the TIFF reader on the reader frame.
#include "tiff_format.h"

namespace reader {

// OVDLget_ver, and the module's version resource.
constexpr char kVersionText[] = "TIFF File Reader V1.2";

const ReaderFormat gReaderFormat = {
    .traceName = "rdtiff",
    .versionText = kVersionText,
    .cancellable = true,
    .processWideError = false,
    .printResult = kReaderNoPrinting,
    .printErrorId = rdtiff::kStrPrintRefused,
    .renderResult = 0,
    .escapeResult = kReaderUnsupported,
    .noSuchPageErrorId = rdtiff::kStrNoSuchPage,
    .recognise = rdtiff::Recognise,
    .init = rdtiff::Init,
    .describe = rdtiff::Describe,
    .fillPalette = rdtiff::FillPalette,
    .beginRows = nullptr,
    .decodeRow = rdtiff::DecodeRow,
    .deliverRow = nullptr,
    .rewind = rdtiff::Rewind,
    .setPage = rdtiff::SetPage,
    .release = rdtiff::Release,
};

}  // namespace reader

namespace {
constexpr auto kTiffExports = reader::JoinExports(reader::kCoreExports, reader::kPageExports);
}  // namespace

READER_MODULE(kTiffExports, RDTIFF_STRINGS, ::reader::kVersionText)
