// quorel.dll: strings 1-9, the progress dialog 133, the prompt dialog 136 and
// the picture 135 that the calibration program shows.
#include <array>
#include <cstdint>
#include <iterator>

#include "winport/windows.h"

namespace quorel {

namespace {

// Dialog and control ids the calibration program relies on.
constexpr WORD kProgressDialog = 133;
constexpr WORD kPicture = 135;
constexpr WORD kPromptDialog = 136;
constexpr WORD kProgressFirstLine = 1079;
constexpr WORD kProgressSecondLine = 1080;
constexpr WORD kProgressPictureArea = 1082;
constexpr WORD kPromptPictureArea = 1083;
constexpr WORD kPromptText = 1084;
constexpr WORD kContinueButton = 1085;

constexpr char kCalibratingLine[] = "Calibrating the scanner. Please wait...";
constexpr char kCleaningLine[] = "Cleaning the scanner. Please wait...";
constexpr char kKeepClosedLine[] = "Do not open the scanner lid or switch the scanner off.";
constexpr char kCalibrationCaption[] = "Scanner Calibration";
constexpr char kCleaningCaption[] = "Scanner Cleaning";
constexpr char kCannotReinitialise[] =
    "The scanner does not respond. Check that it is switched on and connected, then press OK.";
constexpr char kCalibrationInstruction[] =
    "Remove any document from the scanner glass and close the lid, then press Continue.";
constexpr char kCannotOpen[] =
    "The scanner cannot be opened. It may be switched off, not connected, or in use by another "
    "program.";
constexpr char kCleaningInstruction[] =
    "Place the cleaning sheet on the scanner glass and close the lid, then press Continue.";

// The picture: 32 x 32 pixels, 24 bits, a grey scanner body with a blue glass
// strip on white, as a packed DIB (header, then bottom-up rows).
constexpr int32_t kSide = 32;
constexpr size_t kRowBytes = kSide * 3;  // already a multiple of 4
constexpr size_t kPictureBytes = 40 + kRowBytes * kSide;

constexpr std::array<uint8_t, kPictureBytes> makePicture() {
  std::array<uint8_t, kPictureBytes> dib{};
  const uint8_t header[16] = {40, 0, 0, 0, kSide, 0, 0, 0, kSide, 0, 0, 0, 1, 0, 24, 0};
  for (size_t i = 0; i < 16; ++i) dib[i] = header[i];
  for (int32_t row = 0; row < kSide; ++row) {      // row 0 is the bottom
    for (int32_t column = 0; column < kSide; ++column) {
      bool body = row >= 6 && row < 22 && column >= 3 && column < 29;
      bool glass = body && row >= 15 && row < 19 && column >= 6 && column < 26;
      uint8_t blue = glass ? 230 : body ? 140 : 255;
      uint8_t green = glass ? 150 : body ? 140 : 255;
      uint8_t red = glass ? 60 : body ? 140 : 255;
      size_t at = 40 + static_cast<size_t>(row) * kRowBytes + static_cast<size_t>(column) * 3;
      dib[at] = blue;
      dib[at + 1] = green;
      dib[at + 2] = red;
    }
  }
  return dib;
}

constexpr std::array<uint8_t, kPictureBytes> kPictureDib = makePicture();

constexpr DialogItemTemplate kProgressItems[] = {
    {DIALOG_CONTROL_PICTURE, kProgressPictureArea, 12, 12, 32, 32, nullptr},
    {DIALOG_CONTROL_TEXT, kProgressFirstLine, 56, 12, 290, 20, ""},
    {DIALOG_CONTROL_TEXT, kProgressSecondLine, 56, 36, 290, 40, ""},
};
constexpr DialogTemplate kProgress{"", 0, 0, 360, 88, kProgressItems, 3};

constexpr DialogItemTemplate kPromptItems[] = {
    {DIALOG_CONTROL_PICTURE, kPromptPictureArea, 12, 12, 32, 32, nullptr},
    {DIALOG_CONTROL_TEXT, kPromptText, 56, 12, 290, 60, ""},
    {DIALOG_CONTROL_BUTTON, kContinueButton, 80, 90, 90, 26, "Continue"},
    {DIALOG_CONTROL_BUTTON, IDCANCEL, 190, 90, 90, 26, "Cancel"},
};
constexpr DialogTemplate kPrompt{"", 0, 0, 360, 122, kPromptItems, 4};

#define QUOREL_STRING(id, text) {RT_STRING, id, text, sizeof text - 1}
constexpr WinportResource kResources[] = {
    QUOREL_STRING(1, kCalibratingLine),
    QUOREL_STRING(2, kCleaningLine),
    QUOREL_STRING(3, kKeepClosedLine),
    QUOREL_STRING(4, kCalibrationCaption),
    QUOREL_STRING(5, kCleaningCaption),
    QUOREL_STRING(6, kCannotReinitialise),
    QUOREL_STRING(7, kCalibrationInstruction),
    QUOREL_STRING(8, kCannotOpen),
    QUOREL_STRING(9, kCleaningInstruction),
    {RT_BITMAP, kPicture, kPictureDib.data(), static_cast<DWORD>(kPictureDib.size())},
    {RT_DIALOG, kProgressDialog, &kProgress, sizeof kProgress},
    {RT_DIALOG, kPromptDialog, &kPrompt, sizeof kPrompt},
};
#undef QUOREL_STRING

}  // namespace

}  // namespace quorel

WINPORT_MODULE(nullptr, 0, quorel::kResources, std::size(quorel::kResources), nullptr)
