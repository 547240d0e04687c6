// Fax rows: every row is one T.4 one-dimensional row, decoded strip by strip.
//
// Policies for what the format leaves open:
//   - whatever the Compression tag says (1 and 32773 included) the rows are
//     T.4 data, so a reposition always decodes forward from the strip start;
//     skipping by a seek of whole uncompressed rows would land inside codes;
//   - the decoder sees only 0 bits after the end of the data: rows past it
//     come out white instead of repeating stale buffer contents;
//   - a host read error (−1) while rows are decoded fails the read with id 2,
//     result 3, rather than delivering white rows as success.
#include "fax_format.h"

namespace rdfax {
namespace {

int32_t ReadHost(void* context, uint8_t* buffer, uint32_t count) {
  return reader::HostRead(*static_cast<const ImageBlockHead*>(context), buffer, count);
}

bool StripStart(const tiff::TiffInfo& info, uint32_t row) {
  return info.stripCount > 1 && info.rowsPerStrip > 0 && row > 0 && row % info.rowsPerStrip == 0;
}

uint32_t FirstRowOfStrip(const tiff::TiffInfo& info, uint32_t strip) {
  const uint64_t row = info.stripCount > 1 ? static_cast<uint64_t>(strip) * info.rowsPerStrip : 0;
  return row > UINT32_MAX ? kNoRow : static_cast<uint32_t>(row);
}

}  // namespace

int32_t StartStrip(reader::ImageBlockBase& image, uint32_t strip) {
  FaxState& state = StateOf(image);
  ccitt::ResetDecoder(state.decoder);
  state.stripReadyRow = FirstRowOfStrip(state.info, strip);
  if (reader::HostSeekImage(image.head, tiff::StripOffset(state.info, strip))) return kReaderOk;
  state.stripReadyRow = kNoRow;
  return Fail(kStrReadFailed, kReaderReadFailed);
}

int32_t DecodeRow(reader::ImageBlockBase& image, uint32_t row, std::span<uint8_t> out,
                  uint32_t& /*copies*/) {
  FaxState& state = StateOf(image);
  tiff::TiffInfo& info = state.info;
  if (StripStart(info, row) && state.stripReadyRow != row) {
    const int32_t result = StartStrip(image, tiff::StripIndex(info, row));
    if (result != kReaderOk) return result;
  }
  state.stripReadyRow = kNoRow;
  // The coding fixes which runs are white: PhotometricInterpretation 1 reads as 0.
  if (info.photometric == 1) info.photometric = 0;
  const ccitt::Ink ink = info.photometric == 0 ? ccitt::Ink::kBlack : ccitt::Ink::kWhite;
  state.decoder.reverseBits = info.fillOrder == 2 ? 1 : 0;
  ccitt::DecoderView view{state.decoder, state.input, {}, ccitt::ByteSource{ReadHost, &image.head}};
  ccitt::RunDecoder(view, out, info.imageWidth, ink);
  // A failing read is reported; the end of the file is normal after the last row.
  if (state.decoder.inputEnded == ccitt::kInputFailed) return Fail(kStrReadFailed, kReaderReadFailed);
  return kReaderOk;
}

// Back to the start of the wanted row's strip; the frame decodes forward.
int32_t Rewind(reader::ImageBlockBase& image, uint32_t wanted, uint32_t& reached) {
  FaxState& state = StateOf(image);
  const int32_t result = StartStrip(image, tiff::StripIndex(state.info, wanted));
  if (result != kReaderOk) return result;
  if (state.stripReadyRow == kNoRow) return Fail(kStrReadFailed, kReaderReadFailed);
  reached = state.stripReadyRow;
  return kReaderOk;
}

}  // namespace rdfax
