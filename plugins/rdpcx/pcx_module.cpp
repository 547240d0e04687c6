// rdpcx.DIL: the PCX/DCX reader on the reader frame.
#include "pcx_format.h"

namespace reader {

// OVDLget_ver, and the module's version resource.
constexpr char kVersionText[] = "PCX/DCX File Reader V2.0";

const ReaderFormat gReaderFormat = {
    .traceName = "rdpcx",
    .versionText = kVersionText,
    .cancellable = false,  // the progress callback's answer is not used
    .processWideError = false,
    .printResult = kReaderNoPrinting,
    .printErrorId = rdpcx::kStrPrintRefused,
    .renderResult = 0,
    .escapeResult = kReaderUnsupported,
    .noSuchPageErrorId = 0,  // the string table has no text for a missing page
    .recognise = rdpcx::Recognise,
    .init = rdpcx::Init,
    .describe = rdpcx::Describe,
    .fillPalette = rdpcx::FillPalette,
    .beginRows = nullptr,
    .decodeRow = rdpcx::DecodeRow,
    .deliverRow = rdpcx::DeliverRow,
    .rewind = rdpcx::Rewind,
    .setPage = rdpcx::SetPage,
    .release = rdpcx::Release,
};

}  // namespace reader

namespace {
constexpr auto kPcxExports = reader::JoinExports(reader::kCoreExports, reader::kPageExports);
}  // namespace

READER_MODULE(kPcxExports, RDPCX_STRINGS, ::reader::kVersionText)
