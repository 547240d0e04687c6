#include "host/writer_options.h"

#include <algorithm>
#include <cstdint>

#include "guard.h"

namespace imagehost {

namespace {

using Instead = std::optional<std::string>;

bool AllDigits(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The TIFF writer compares values exactly; "ON" turns compression on.
Instead CheckCompress(const std::string& value) {
  if (value == "ON" || value == "OFF") return std::nullopt;
  return std::string("only \"ON\" turns compression on: written uncompressed");
}

Instead CheckTiffCompress(const std::string& value) {
  if (value == "MODCCITT" || value == "PACKBITS" || value == "GROUP3" || value == "GROUP4")
    return std::nullopt;
  return std::string("not a compression the TIFF writer knows: PACKBITS is used");
}

Instead CheckByteFormat(const std::string& value) {
  if (value == "MOTOROLA" || value == "INTEL") return std::nullopt;
  return std::string("only \"MOTOROLA\" gives big-endian: written little-endian (INTEL)");
}

// Decimal options of the TIFF writer: digits only, else the key counts as absent.
Instead CheckRowsPerStrip(const std::string& value) {
  if (AllDigits(value) && value.find_first_not_of('0') != std::string::npos) return std::nullopt;
  return std::string("not a positive whole number: rows per strip are computed");
}

Instead CheckResolution(const std::string& value) {
  if (!AllDigits(value))
    return std::string("not a whole number: the image's own resolution is used");
  if (value.find_first_not_of('0') == std::string::npos) return std::string("300 dpi is written");
  return std::nullopt;
}

// The JPEG writer reads the decimal number at the start of the text (blanks
// and a sign allowed, a negative value wrapping to a large one) and holds
// the quality within 1..100.
Instead CheckQuality(const std::string& value) {
  size_t at = value.find_first_not_of(" \t");
  at = at == std::string::npos ? value.size() : at;
  const bool negative = at < value.size() && value[at] == '-';
  if (at < value.size() && (value[at] == '-' || value[at] == '+')) ++at;
  uint64_t number = 0;
  size_t digits = 0;
  for (; at + digits < value.size() && value[at + digits] >= '0' && value[at + digits] <= '9';
       ++digits)
    number = std::min<uint64_t>(number * 10 + static_cast<uint64_t>(value[at + digits] - '0'),
                                uint64_t{1} << 32);
  const uint64_t used = negative && number != 0 ? 100 : std::clamp<uint64_t>(number, 1, 100);
  const bool asWritten = AllDigits(value) && number >= 1 && number <= 100;
  if (asWritten) return std::nullopt;
  const std::string why = digits == 0 ? "not a number" : "not a quality from 1 to 100";
  return why + ": quality " + std::to_string(used) + " is used";
}

// The BMP writer compares "ON" without regard to case.
Instead CheckForward(const std::string& value) {
  std::string upper = value;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
  if (upper == "ON" || upper == "OFF") return std::nullopt;
  return std::string("only \"ON\" asks for the top row first: rows are taken bottom first");
}

const std::vector<WriterOptionTable>& Tables() {
  static const std::vector<WriterOptionTable> tables = {
      {"TIF",
       "TIFF writer",
       {
           {"COMPRESS", "ON, OFF", "OFF", "compression on or off", CheckCompress},
           {"TIFF_COMPRESS", "PACKBITS, MODCCITT, GROUP3, GROUP4", "PACKBITS",
            "compression of 1-bit images with COMPRESS=ON (others: PACKBITS)", CheckTiffCompress},
           {"TIFF_BYTEFORMAT", "INTEL, MOTOROLA", "INTEL",
            "byte order of a new file (an appended page keeps the file's)", CheckByteFormat},
           {"TIFF_ROWSPERSTRIP", "1..", "about 8 KB of rows per strip, at most 200 strips",
            "rows per strip", CheckRowsPerStrip},
           {"TIFF_FILLORDER", "any", "fill order 1",
            "given: 1-bit images get fill order 2 (bits reversed)", nullptr},
           {"TIFF_XRES", "dpi", "from the image", "horizontal resolution", CheckResolution},
           {"TIFF_YRES", "dpi", "from the image", "vertical resolution", CheckResolution},
           {"TIFF_ARTIST", "text", "no Artist tag", "Artist tag", nullptr},
           {"TIFF_COPYRIGHT", "text", "no Copyright tag", "Copyright tag", nullptr},
       }},
      {"JPG",
       "JPEG writer",
       {{"LOSSY_QUALITY", "1..100", "75", "quality of the quantisation tables", CheckQuality}}},
      {"BMP",
       "BMP writer",
       {{"FORWARD", "ON, OFF", "OFF", "ON: the host delivers the top row first", CheckForward}}},
      {"PCX", "PCX writer", {}},
  };
  return tables;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  return text;
}

const char* const kCompressNames[][2] = {
    {"none", ""}, {"packbits", "PACKBITS"}, {"mh", "MODCCITT"}, {"g3", "GROUP3"}, {"g4", "GROUP4"}};

}  // namespace

const WriterOptionTable* FindWriterOptions(const std::string& extension) {
  for (const WriterOptionTable& table : Tables())
    if (Lower(extension) == Lower(table.extension)) return &table;
  return nullptr;
}

const std::vector<WriterOptionTable>& AllWriterOptions() { return Tables(); }

Status CheckWriterOptions(const WriterPlugin& writer, const OptionList& options,
                          std::vector<std::string>& warnings) {
  return Guarded([&]() -> Status {
    const WriterOptionTable* table = FindWriterOptions(writer.defaultExtension());
    if (table == nullptr) return {};
    for (const auto& entry : options.entries()) {
      const std::string& key = entry.first;
      const std::string& value = entry.second;
      const auto known = std::find_if(table->keys.begin(), table->keys.end(),
                                      [&](const WriterOptionKey& k) { return key == k.key; });
      if (known == table->keys.end()) {
        std::string names;
        for (const WriterOptionKey& k : table->keys)
          names += (names.empty() ? "" : ", ") + std::string(k.key);
        return Status::failure(
            "-O " + key + ": the " + table->writer + " (" + writer.fileName() + ") has no option " +
            key + (names.empty() ? "; it takes no options" : "; its options: " + names));
      }
      if (known->check == nullptr) continue;
      if (Instead instead = known->check(value))
        warnings.push_back(key + "=" + value + ": " + *instead);
    }
    return {};
  });
}

Status CheckCompressShorthand(const std::string& value) {
  for (const auto& entry : kCompressNames)
    if (value == entry[0]) return {};
  return Status::failure("--compress needs none, packbits, mh, g3 or g4, not '" + value + "'");
}

Status CheckQualityShorthand(const std::string& value) {
  if (AllDigits(value) && value.size() <= 3 && std::stoi(value) >= 1 && std::stoi(value) <= 100)
    return {};
  return Status::failure("--quality needs a whole number from 1 to 100, not '" + value + "'");
}

Status ExpandShorthands(const WriterPlugin& writer, const OptionShorthands& shorthands,
                        OptionList& options) {
  return Guarded([&]() -> Status {
    const std::string extension = Lower(writer.defaultExtension());
    if (!shorthands.compress.empty()) {
      if (extension != "tif")
        return Status::failure("--compress applies to the TIFF writer, not to " +
                               writer.fileName());
      if (Status valid = CheckCompressShorthand(shorthands.compress); !valid) return valid;
      for (const auto& entry : kCompressNames) {
        if (shorthands.compress != entry[0]) continue;
        options.set("COMPRESS", *entry[1] == '\0' ? "OFF" : "ON");
        if (*entry[1] != '\0') options.set("TIFF_COMPRESS", entry[1]);
      }
    }
    if (!shorthands.quality.empty()) {
      if (extension != "jpg")
        return Status::failure("--quality applies to the JPEG writer, not to " + writer.fileName());
      if (Status valid = CheckQualityShorthand(shorthands.quality); !valid) return valid;
      options.set("LOSSY_QUALITY", shorthands.quality);
    }
    return {};
  });
}

}  // namespace imagehost
