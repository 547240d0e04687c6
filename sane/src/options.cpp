#include "options.h"

#include <sane/saneopts.h>
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "debug.h"

namespace ferroxsane {

namespace {

struct OptionRow {
  SANE_Int index;
  const char* name;
  const char* title;
  const char* desc;
  SANE_Value_Type type;
  SANE_Unit unit;
  SANE_Int cap;
};

constexpr SANE_Int kSettable = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;

// Every option once. Constraints and sizes that the device decides are
// filled in by the constructor.
constexpr OptionRow kTable[] = {
    {kOptNumOptions, "", SANE_TITLE_NUM_OPTIONS, SANE_DESC_NUM_OPTIONS, SANE_TYPE_INT,
     SANE_UNIT_NONE, SANE_CAP_SOFT_DETECT},
    {kGroupMode, "", "Scan Mode", "", SANE_TYPE_GROUP, SANE_UNIT_NONE, 0},
    {kOptMode, SANE_NAME_SCAN_MODE, SANE_TITLE_SCAN_MODE, SANE_DESC_SCAN_MODE, SANE_TYPE_STRING,
     SANE_UNIT_NONE, kSettable},
    {kOptDepth, SANE_NAME_BIT_DEPTH, SANE_TITLE_BIT_DEPTH,
     "Bits per colour sample of a colour scan.", SANE_TYPE_INT, SANE_UNIT_BIT, kSettable},
    {kOptSource, SANE_NAME_SCAN_SOURCE, SANE_TITLE_SCAN_SOURCE, SANE_DESC_SCAN_SOURCE,
     SANE_TYPE_STRING, SANE_UNIT_NONE, kSettable},
    {kOptResolution, SANE_NAME_SCAN_RESOLUTION, SANE_TITLE_SCAN_RESOLUTION,
     "Resolution in both directions; above the native resolution the scanner library "
     "interpolates.",
     SANE_TYPE_INT, SANE_UNIT_DPI, kSettable},
    {kOptXResolution, SANE_NAME_SCAN_X_RESOLUTION, SANE_TITLE_SCAN_X_RESOLUTION,
     SANE_DESC_SCAN_X_RESOLUTION, SANE_TYPE_INT, SANE_UNIT_DPI, kSettable | SANE_CAP_ADVANCED},
    {kOptYResolution, SANE_NAME_SCAN_Y_RESOLUTION, SANE_TITLE_SCAN_Y_RESOLUTION,
     SANE_DESC_SCAN_Y_RESOLUTION, SANE_TYPE_INT, SANE_UNIT_DPI, kSettable | SANE_CAP_ADVANCED},
    {kOptPreview, SANE_NAME_PREVIEW, SANE_TITLE_PREVIEW, SANE_DESC_PREVIEW, SANE_TYPE_BOOL,
     SANE_UNIT_NONE, kSettable},
    {kGroupGeometry, "", "Geometry", "", SANE_TYPE_GROUP, SANE_UNIT_NONE, 0},
    {kOptTlX, SANE_NAME_SCAN_TL_X, SANE_TITLE_SCAN_TL_X, SANE_DESC_SCAN_TL_X, SANE_TYPE_FIXED,
     SANE_UNIT_MM, kSettable},
    {kOptTlY, SANE_NAME_SCAN_TL_Y, SANE_TITLE_SCAN_TL_Y, SANE_DESC_SCAN_TL_Y, SANE_TYPE_FIXED,
     SANE_UNIT_MM, kSettable},
    {kOptBrX, SANE_NAME_SCAN_BR_X, SANE_TITLE_SCAN_BR_X, SANE_DESC_SCAN_BR_X, SANE_TYPE_FIXED,
     SANE_UNIT_MM, kSettable},
    {kOptBrY, SANE_NAME_SCAN_BR_Y, SANE_TITLE_SCAN_BR_Y, SANE_DESC_SCAN_BR_Y, SANE_TYPE_FIXED,
     SANE_UNIT_MM, kSettable},
    {kGroupEnhancement, "", "Enhancement", "", SANE_TYPE_GROUP, SANE_UNIT_NONE, 0},
    {kOptBrightness, SANE_NAME_BRIGHTNESS, SANE_TITLE_BRIGHTNESS, SANE_DESC_BRIGHTNESS,
     SANE_TYPE_INT, SANE_UNIT_NONE, kSettable},
    {kOptContrast, SANE_NAME_CONTRAST, SANE_TITLE_CONTRAST, SANE_DESC_CONTRAST, SANE_TYPE_INT,
     SANE_UNIT_NONE, kSettable},
    {kOptHalftone, SANE_NAME_HALFTONE_PATTERN, SANE_TITLE_HALFTONE_PATTERN,
     SANE_DESC_HALFTONE_PATTERN, SANE_TYPE_STRING, SANE_UNIT_NONE, kSettable},
    {kGroupMaintenance, "", "Maintenance", "", SANE_TYPE_GROUP, SANE_UNIT_NONE, SANE_CAP_ADVANCED},
    {kOptCalibrate, "calibrate", "Calibrate",
     "Calibrate the scanner now (takes the scanner for the time it needs).", SANE_TYPE_BUTTON,
     SANE_UNIT_NONE, kSettable | SANE_CAP_ADVANCED},
    {kOptClean, "clean", "Clean",
     "Run the scanner's cleaning cycle now (takes the scanner for the time it needs).",
     SANE_TYPE_BUTTON, SANE_UNIT_NONE, kSettable | SANE_CAP_ADVANCED},
};
static_assert(std::size(kTable) == kOptionCount);

// The mode names, in data-type order (line art 0 .. colour 3).
constexpr SANE_String_Const kModeNames[] = {SANE_VALUE_SCAN_MODE_LINEART,
                                            SANE_VALUE_SCAN_MODE_HALFTONE,
                                            SANE_VALUE_SCAN_MODE_GRAY, SANE_VALUE_SCAN_MODE_COLOR};

SANE_Word MillimetresOf(uint32_t units) { return SANE_FIX(units * 25.4 / 300.0); }

SANE_Int LongestName(const std::vector<SANE_String_Const>& list) {
  size_t longest = 0;
  for (SANE_String_Const name : list)
    if (name != nullptr) longest = std::max(longest, std::strlen(name));
  return static_cast<SANE_Int>(longest + 1);
}

void SetActive(SANE_Option_Descriptor& d, bool active) {
  if (active)
    d.cap &= ~SANE_CAP_INACTIVE;
  else
    d.cap |= SANE_CAP_INACTIVE;
}

}  // namespace

Options::Options(const DeviceFacts& facts) : facts_(facts) {
  const uint16_t highest = std::min<uint16_t>(facts.device.highestDataType, DATATYPE_COLOUR);
  for (uint16_t type = 0; type <= highest; ++type) modes_.push_back(kModeNames[type]);
  modes_.push_back(nullptr);
  for (const ScanSource& source : facts.sources) sources_.push_back(source.name);
  sources_.push_back(nullptr);
  for (uint16_t n = 0; n < facts.halftoneCount; ++n)
    halftoneNames_.push_back("Pattern " + std::to_string(n + 1));
  for (const std::string& name : halftoneNames_) halftones_.push_back(name.c_str());
  if (halftones_.empty()) halftones_.push_back("None");
  halftones_.push_back(nullptr);
  depths_ = {1, 8};
  if (facts.sixteenBit()) depths_ = {2, 8, 16};
  toneRange_ = {-127, 127, 1};

  for (const OptionRow& row : kTable) {
    SANE_Option_Descriptor& d = descriptors_[row.index];
    d.name = row.name;
    d.title = row.title;
    d.desc = row.desc;
    d.type = row.type;
    d.unit = row.unit;
    d.cap = row.cap;
    d.size = row.type == SANE_TYPE_GROUP || row.type == SANE_TYPE_BUTTON ? 0 : sizeof(SANE_Word);
    d.constraint_type = SANE_CONSTRAINT_NONE;
  }
  auto list = [this](SANE_Int index, const std::vector<SANE_String_Const>& names) {
    descriptors_[index].constraint_type = SANE_CONSTRAINT_STRING_LIST;
    descriptors_[index].constraint.string_list = names.data();
    descriptors_[index].size = LongestName(names);
  };
  list(kOptMode, modes_);
  list(kOptSource, sources_);
  list(kOptHalftone, halftones_);
  descriptors_[kOptDepth].constraint_type = SANE_CONSTRAINT_WORD_LIST;
  descriptors_[kOptDepth].constraint.word_list = depths_.data();
  for (SANE_Int index : {kOptResolution, kOptXResolution, kOptYResolution}) {
    descriptors_[index].constraint_type = SANE_CONSTRAINT_RANGE;
    descriptors_[index].constraint.range = &resolutionRange_;
  }
  for (SANE_Int index : {kOptTlX, kOptBrX, kOptTlY, kOptBrY}) {
    descriptors_[index].constraint_type = SANE_CONSTRAINT_RANGE;
    descriptors_[index].constraint.range =
        index == kOptTlX || index == kOptBrX ? &widthRange_ : &heightRange_;
  }
  for (SANE_Int index : {kOptBrightness, kOptContrast}) {
    descriptors_[index].constraint_type = SANE_CONSTRAINT_RANGE;
    descriptors_[index].constraint.range = &toneRange_;
  }
  setDefaults();
}

void Options::setDefaults() {
  values_.fill(0);
  values_[kOptNumOptions] = kOptionCount;
  values_[kOptMode] = static_cast<SANE_Word>(modes_.size() - 2);  // the richest mode
  values_[kOptDepth] = 8;
  chooseSource(0);
  updateActivity();
}

// The ranges of the source's bed and resolutions. The area and resolutions
// are kept, within the new ranges (a frontend may set the source after the
// area, as scanimage does when its options come in that order); the first
// source chosen starts with its whole bed.
void Options::chooseSource(SANE_Word index) {
  const bool first = widthRange_.max == 0;
  values_[kOptSource] = index;
  const LimitsRecord& limits = facts_.sources[static_cast<size_t>(index)].limits;
  const SANE_Int highest = std::max<SANE_Int>(limits.highestResolution, kMinDpi);
  resolutionRange_ = {kMinDpi, highest, 1};
  widthRange_ = {0, MillimetresOf(limits.widthLimit), 0};
  heightRange_ = {0, MillimetresOf(limits.heightLimit), 0};
  if (first) {
    values_[kOptBrX] = widthRange_.max;
    values_[kOptBrY] = heightRange_.max;
  }
  for (SANE_Int option : {kOptTlX, kOptBrX})
    values_[option] = std::clamp(values_[option], 0, widthRange_.max);
  for (SANE_Int option : {kOptTlY, kOptBrY})
    values_[option] = std::clamp(values_[option], 0, heightRange_.max);
  for (SANE_Int option : {kOptResolution, kOptXResolution, kOptYResolution}) {
    const SANE_Word dpi = values_[option] == 0 ? kDefaultDpi : values_[option];
    values_[option] = std::clamp(dpi, resolutionRange_.min, resolutionRange_.max);
  }
}

void Options::updateActivity() {
  const SANE_Word mode = values_[kOptMode];
  SetActive(descriptors_[kOptDepth], mode == DATATYPE_COLOUR);
  SetActive(descriptors_[kOptHalftone], mode == DATATYPE_HALFTONE && facts_.halftoneCount > 0);
}

const SANE_Option_Descriptor* Options::descriptor(SANE_Int index) const {
  if (index < 0 || index >= kOptionCount) return nullptr;
  return &descriptors_[static_cast<size_t>(index)];
}

// Checks a value handed to SET_VALUE and turns it into the stored word.
SANE_Status Options::constrain(SANE_Int index, void* value, SANE_Word& word, SANE_Int& info) const {
  const SANE_Option_Descriptor& d = descriptors_[static_cast<size_t>(index)];
  if (d.type == SANE_TYPE_STRING) {
    const char* text = static_cast<const char*>(value);
    const SANE_String_Const* names = d.constraint.string_list;
    SANE_Word match = -1;
    for (SANE_Word i = 0; names[i] != nullptr; ++i) {
      if (std::strcmp(names[i], text) == 0) {
        word = i;
        return SANE_STATUS_GOOD;
      }
      if (strcasecmp(names[i], text) == 0) match = i;
    }
    if (match < 0) return SANE_STATUS_INVAL;
    word = match;
    info |= SANE_INFO_INEXACT;
    return SANE_STATUS_GOOD;
  }
  word = *static_cast<const SANE_Word*>(value);
  if (d.type == SANE_TYPE_BOOL)
    return word == SANE_TRUE || word == SANE_FALSE ? SANE_STATUS_GOOD : SANE_STATUS_INVAL;
  if (d.constraint_type == SANE_CONSTRAINT_RANGE) {
    const SANE_Range& range = *d.constraint.range;
    SANE_Word clamped = std::clamp(word, range.min, range.max);
    if (range.quant > 1)
      clamped = range.min + (clamped - range.min + range.quant / 2) / range.quant * range.quant;
    if (clamped != word) info |= SANE_INFO_INEXACT;
    word = clamped;
  } else if (d.constraint_type == SANE_CONSTRAINT_WORD_LIST) {
    const SANE_Word* list = d.constraint.word_list;
    SANE_Word best = list[1];
    for (SANE_Word i = 1; i <= list[0]; ++i)
      if (std::abs(list[i] - word) < std::abs(best - word)) best = list[i];
    if (best != word) info |= SANE_INFO_INEXACT;
    word = best;
  }
  return SANE_STATUS_GOOD;
}

// Stores a checked value with its effects on other options; the info bits.
SANE_Int Options::apply(SANE_Int index, SANE_Word word) {
  const SANE_Word before = values_[static_cast<size_t>(index)];
  values_[static_cast<size_t>(index)] = word;
  switch (index) {
    case kOptMode:
      updateActivity();
      return before == word ? 0 : SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS;
    case kOptSource:
      chooseSource(word);
      return SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS;
    case kOptResolution:
      values_[kOptXResolution] = word;
      values_[kOptYResolution] = word;
      return SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS;
    case kOptXResolution:
      values_[kOptResolution] = word;
      return SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS;
    case kOptYResolution:
    case kOptDepth:
    case kOptPreview:
    case kOptTlX:
    case kOptTlY:
    case kOptBrX:
    case kOptBrY:
      return SANE_INFO_RELOAD_PARAMS;
    default:
      return 0;
  }
}

SANE_Status Options::control(SANE_Int index, SANE_Action action, void* value, SANE_Int* info,
                             Button& pressed) {
  pressed = Button::kNone;
  if (info != nullptr) *info = 0;
  if (index < 0 || index >= kOptionCount) return SANE_STATUS_INVAL;
  const SANE_Option_Descriptor& d = descriptors_[static_cast<size_t>(index)];
  if (d.type == SANE_TYPE_GROUP || !SANE_OPTION_IS_ACTIVE(d.cap)) return SANE_STATUS_INVAL;
  if (action == SANE_ACTION_GET_VALUE) {
    if (d.type == SANE_TYPE_BUTTON || value == nullptr) return SANE_STATUS_INVAL;
    const SANE_Word word = values_[static_cast<size_t>(index)];
    if (d.type == SANE_TYPE_STRING)
      std::strcpy(static_cast<char*>(value), d.constraint.string_list[word]);
    else
      *static_cast<SANE_Word*>(value) = word;
    return SANE_STATUS_GOOD;
  }
  if (action != SANE_ACTION_SET_VALUE || !SANE_OPTION_IS_SETTABLE(d.cap)) return SANE_STATUS_INVAL;
  if (d.type == SANE_TYPE_BUTTON) {
    pressed = index == kOptCalibrate ? Button::kCalibrate : Button::kClean;
    return SANE_STATUS_GOOD;
  }
  if (value == nullptr) return SANE_STATUS_INVAL;
  SANE_Int effects = 0;
  SANE_Word word = 0;
  if (SANE_Status checked = constrain(index, value, word, effects); checked != SANE_STATUS_GOOD) {
    Debug(kDebugTrace, "option %s: value refused", d.name);
    return checked;
  }
  effects |= apply(index, word);
  // A value the backend adjusted goes back to the caller.
  if ((effects & SANE_INFO_INEXACT) != 0 && d.type != SANE_TYPE_STRING)
    *static_cast<SANE_Word*>(value) = word;
  Debug(kDebugTrace, "option %s set to %d", d.name, word);
  if (info != nullptr) *info = effects;
  return SANE_STATUS_GOOD;
}

// The frame units of a position option, within `limit`.
uint16_t Options::units(SANE_Int index, uint16_t limit) const {
  const double mm = SANE_UNFIX(values_[static_cast<size_t>(index)]);
  const long rounded = std::lround(mm * 300.0 / 25.4);
  return static_cast<uint16_t>(std::clamp<long>(rounded, 0, limit));
}

ScanSettings Options::settings() const {
  ScanSettings s;
  s.source = &facts_.sources[static_cast<size_t>(values_[kOptSource])];
  const LimitsRecord& limits = s.source->limits;
  const SANE_Word mode = values_[kOptMode];
  s.dataType = static_cast<uint16_t>(mode);
  if (mode == DATATYPE_COLOUR && values_[kOptDepth] == 16) s.dataType = DATATYPE_COLOUR16;
  SANE_Word x = values_[kOptXResolution], y = values_[kOptYResolution];
  if (values_[kOptPreview] == SANE_TRUE) {
    x = std::min(x, std::max(kPreviewDpi, resolutionRange_.min));
    y = std::min(y, std::max(kPreviewDpi, resolutionRange_.min));
  }
  s.xDpi = static_cast<uint16_t>(x);
  s.yDpi = static_cast<uint16_t>(y);
  // Corners given the wrong way round describe the same area.
  uint16_t left = units(kOptTlX, limits.widthLimit), right = units(kOptBrX, limits.widthLimit);
  uint16_t top = units(kOptTlY, limits.heightLimit), bottom = units(kOptBrY, limits.heightLimit);
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
  s.left = left;
  s.top = top;
  s.width = static_cast<uint16_t>(right - left);
  s.height = static_cast<uint16_t>(bottom - top);
  s.brightness = static_cast<int16_t>(values_[kOptBrightness]);
  s.contrast = static_cast<int16_t>(values_[kOptContrast]);
  s.halftone = static_cast<uint16_t>(values_[kOptHalftone]);
  return s;
}

}  // namespace ferroxsane
