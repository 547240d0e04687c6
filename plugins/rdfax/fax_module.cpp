// rdfax.DIL: the fax reader on the reader frame.
#include "fax_format.h"

namespace reader {

// OVDLget_ver, and the module's version resource.
constexpr char kVersionText[] = "FAX File Reader V1.0";

const ReaderFormat gReaderFormat = {
    .traceName = "rdfax",
    .versionText = kVersionText,
    .cancellable = true,
    .processWideError = false,
    .printResult = kReaderNoPrinting,
    .printErrorId = rdfax::kStrPrintRefused,
    .renderResult = 0,
    .escapeResult = kReaderUnsupported,
    .noSuchPageErrorId = rdfax::kStrNoSuchPage,
    .recognise = rdfax::Recognise,
    .init = rdfax::Init,
    .describe = rdfax::Describe,
    .fillPalette = rdfax::FillPalette,
    .beginRows = nullptr,
    .decodeRow = rdfax::DecodeRow,
    .deliverRow = nullptr,
    .rewind = rdfax::Rewind,
    .setPage = rdfax::SetPage,
    .release = rdfax::Release,
};

}  // namespace reader

namespace {
constexpr WinportExport kFaxOwnExports[] = {
    {"GetRawStripData", rdfax::kOrdGetRawStripData},
    {"GetTiffHeader", rdfax::kOrdGetTiffHeader},
};
constexpr auto kFaxExports =
    reader::JoinExports(reader::kCoreExports, reader::kPageExports, kFaxOwnExports);
}  // namespace

READER_MODULE(kFaxExports, RDFAX_STRINGS, ::reader::kVersionText)
