// Opening a document and changing pages: the steps the TIFF and fax readers
// share, each reader adding its own check of a page's directory.
#include "plugin/reader_frame.h"
#include "plugin/tiff_info.h"

namespace tiff {
namespace {

int32_t ReadCheckedPage(const ImageBlockHead& file, const TiffHeader& header, uint32_t ifd,
                        const ParseRules& rules, PageCheck check, TiffInfo& info) {
  int32_t result = ParseDirectory(file, header, ifd, rules, info);
  if (result != kReaderOk) return result;
  result = check(info);
  if (result != kReaderOk) FreeArrays(info);
  return result;
}

}  // namespace

int32_t OpenFirstPage(const ImageBlockHead& file, const ParseRules& rules, PageCheck check,
                      TiffHeader& header, TiffInfo& info, uint32_t& pages) {
  int32_t result = ReadHeader(file, rules, header);
  if (result != kReaderOk) return result;
  if (header.firstIfd == 0) {
    reader::StoreError(kIdBadHeader);
    return kReaderBadHeader;
  }
  result = ReadCheckedPage(file, header, header.firstIfd, rules, check, info);
  if (result != kReaderOk) return result;
  result = CountPages(file, header, pages);
  if (result != kReaderOk) FreeArrays(info);
  return result;
}

int32_t ReadPageAt(const ImageBlockHead& file, const ParseRules& rules, PageCheck check,
                   uint32_t page, TiffHeader& header, TiffInfo& info) {
  int32_t result = ReadHeader(file, rules, header);
  uint32_t ifd = 0;
  if (result == kReaderOk) result = FindDirectory(file, header, page, ifd);
  if (result == kReaderOk) result = ReadCheckedPage(file, header, ifd, rules, check, info);
  return result;
}

}  // namespace tiff
