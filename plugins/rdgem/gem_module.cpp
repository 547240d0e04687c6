// rdgem.DIL: the GEM/Ventura IMG reader on the reader frame.
#include "gem_format.h"

namespace reader {

// OVDLget_ver, and the module's version resource.
constexpr char kVersionText[] = "IMG File Reader V1.0";

const ReaderFormat gReaderFormat = {
    .traceName = "rdgem",
    .versionText = kVersionText,
    .cancellable = false,  // the progress callback's answer is not used
    .processWideError = false,
    .printResult = 0,  // OVDLprint answers as OVDLrender does
    .printErrorId = 0,
    .renderResult = 0,
    .escapeResult = kReaderUnsupported,
    .noSuchPageErrorId = 0,
    .recognise = rdgem::Recognise,
    .init = rdgem::Init,
    .describe = rdgem::Describe,
    .fillPalette = rdgem::FillPalette,
    .beginRows = nullptr,
    .decodeRow = rdgem::DecodeRow,
    .deliverRow = nullptr,
    .rewind = rdgem::Rewind,
    .setPage = nullptr,
    .release = nullptr,
};

}  // namespace reader

namespace {
constexpr auto kGemExports = reader::JoinExports(reader::kCoreExports);
}  // namespace

READER_MODULE(kGemExports, RDGEM_STRINGS, ::reader::kVersionText)
