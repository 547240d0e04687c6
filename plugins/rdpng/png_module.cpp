// rdpng.DIL: the PNG reader on the reader frame.
#include "png_format.h"

namespace reader {

// OVDLget_ver, and the module's version resource.
constexpr char kVersionText[] = "PNG File Reader V1.0";

const ReaderFormat gReaderFormat = {
    .traceName = "rdpng",
    .versionText = kVersionText,
    .cancellable = true,
    .processWideError = false,
    .printResult = kReaderNoPrinting,
    .printErrorId = 0,  // refused without a text
    .renderResult = 0,
    .escapeResult = kReaderUnsupported,
    .noSuchPageErrorId = 0,
    .recognise = rdpng::Recognise,
    .init = rdpng::Init,
    .describe = rdpng::Describe,
    .fillPalette = rdpng::FillPalette,
    .beginRows = rdpng::BeginRows,
    .decodeRow = rdpng::DecodeRow,
    .deliverRow = nullptr,
    .rewind = rdpng::Rewind,
    .setPage = nullptr,
    .release = rdpng::Release,
};

}  // namespace reader

namespace {
constexpr auto kPngExports = reader::JoinExports(reader::kCoreExports);
}  // namespace

READER_MODULE(kPngExports, RDPNG_STRINGS, ::reader::kVersionText)
