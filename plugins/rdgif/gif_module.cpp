// rdgif.DIL: the GIF reader on the reader frame.
#include "gif_format.h"

namespace reader {

// OVDLget_ver, and the module's version resource.
constexpr char kVersionText[] = "GIF File Reader V1.0";

const ReaderFormat gReaderFormat = {
    .traceName = "rdgif",
    .versionText = kVersionText,
    .cancellable = true,
    .processWideError = false,
    .printResult = kReaderNoPrinting,
    .printErrorId = rdgif::kStrPrintRefused,
    .renderResult = 0,
    .escapeResult = kReaderUnsupported,
    .noSuchPageErrorId = 0,
    .recognise = rdgif::Recognise,
    .init = rdgif::Init,
    .describe = rdgif::Describe,
    .fillPalette = rdgif::FillPalette,
    .beginRows = nullptr,
    .decodeRow = rdgif::DecodeRow,
    .deliverRow = rdgif::DeliverRow,
    .rewind = rdgif::Rewind,
    .setPage = nullptr,
    .release = rdgif::Release,
};

}  // namespace reader

namespace {
constexpr auto kGifExports = reader::JoinExports(reader::kCoreExports);
}  // namespace

READER_MODULE(kGifExports, RDGIF_STRINGS, ::reader::kVersionText)
