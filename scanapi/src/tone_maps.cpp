#include "tone_maps.h"

#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <strings.h>

#include "driver_call.h"
#include "ferrox_state.h"
#include "tone_curves.h"
#include "winport/file.h"
#include "winport/memory.h"
#include "winport/system.h"

namespace ferrox {

namespace {

constexpr uint32_t kEntries16Bit = 65536;

// The map sets present in the map-set buffer, in their order.
struct SetLayout {
  bool film;
  bool adf;
  uint32_t count() const { return 1 + (film ? 2 : 0) + (adf ? 1 : 0); }
};

SetLayout Layout() {
  const uint8_t capabilities = Shared().device.capabilities;
  return SetLayout{(capabilities & DEVCAP_FILM) != 0, (capabilities & DEVCAP_ADF) != 0};
}

uint64_t OneMapSize() {
  const MapFormat& format = Shared().mapFormat;
  return uint64_t{format.bytesPerEntry} * format.entryCount;
}
uint64_t MapSetSize() { return uint64_t{Shared().mapFormat.channelCount} * OneMapSize(); }

// Index of `set` in the map-set buffer, or -1 when the device has no such set.
int SetIndex(uint16_t set) {
  const SetLayout layout = Layout();
  switch (set) {
    case TONESET_NORMAL: return 0;
    case TONESET_POSITIVE: return layout.film ? 1 : -1;
    case TONESET_NEGATIVE: return layout.film ? 2 : -1;
    case TONESET_ADF: return layout.adf ? (layout.film ? 3 : 1) : -1;
    default: return -1;
  }
}

ToneMapView MapView(uint8_t* bytes) {
  const MapFormat& format = Shared().mapFormat;
  return ToneMapView{bytes, format.entryCount, format.bytesPerEntry};
}

uint8_t* SetStart(int index) { return Process().mapSets + index * MapSetSize(); }

// Every map of the set becomes the identity.
void MakeIdentitySet(uint8_t* set) {
  for (uint32_t channel = 0; channel < Shared().mapFormat.channelCount; ++channel)
    MakeIdentity(MapView(set + channel * OneMapSize()));
}

// Finds `name` in `directory` without regard to case (the exact spelling
// first, else the smallest matching name, so the choice is repeatable) and
// writes the full path.
bool FindFileIgnoringCase(const char* directory, const char* name, char* path, size_t size) {
  std::string found;
  const std::string exact = std::string(directory) + name;
  const DWORD attributes = GetFileAttributesA(exact.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    found = exact;
  } else {
    std::error_code error;
    std::string best;
    for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
      const std::string candidate = it->path().filename().string();
      if (strcasecmp(candidate.c_str(), name) == 0 && (best.empty() || candidate < best))
        best = candidate;
    }
    if (best.empty()) return false;
    found = std::string(directory) + best;
  }
  if (found.size() >= size) return false;
  std::memcpy(path, found.c_str(), found.size() + 1);
  return true;
}

// Reads one MAP file into `set`; identities unless it holds exactly one set.
void ReadSetFile(const char* name, uint8_t* set) {
  char path[kPathBufferSize];
  const uint64_t setSize = MapSetSize();
  HANDLE file = INVALID_HANDLE_VALUE;
  if (FindFileIgnoringCase(Process().moduleDirectory, name, path, sizeof(path)))
    file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, 0);
  bool loaded = false;
  if (file != INVALID_HANDLE_VALUE) {
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    const uint64_t fileSize = (uint64_t{high} << 32) | low;
    DWORD done = 0;
    loaded = !(low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) && fileSize == setSize &&
             ReadFile(file, set, static_cast<DWORD>(setSize), &done, nullptr) && done == setSize;
    CloseHandle(file);
  }
  if (!loaded) MakeIdentitySet(set);
}

void ReadSetFiles() {
  const unsigned model = Shared().device.modelByte & 0x0Fu;
  char numbered[32];
  char probe[kPathBufferSize];
  wsprintfA(numbered, "%u-Nml.MAP", model);
  const bool useNumbered = FindFileIgnoringCase(Process().moduleDirectory, numbered, probe, sizeof(probe));
  struct Names { int set; const char* numbered; const char* plain; };
  const Names names[] = {{TONESET_NORMAL, "%u-Nml.MAP", "NORMAL.MAP"},
                         {TONESET_POSITIVE, "%u-Pos.MAP", "POSITIVE.MAP"},
                         {TONESET_NEGATIVE, "%u-Neg.MAP", "NEGATIVE.MAP"},
                         {TONESET_ADF, "%u-Adf.MAP", "ADF.MAP"}};
  for (const Names& entry : names) {
    const int index = SetIndex(static_cast<uint16_t>(entry.set));
    if (index < 0) continue;
    char name[32];
    if (useNumbered) {
      wsprintfA(name, entry.numbered, model);
    } else {
      std::strcpy(name, entry.plain);
    }
    ReadSetFile(name, SetStart(index));
  }
}

}  // namespace

bool DeriveMapFormat() {
  SharedState& shared = Shared();
  const MapInfo& info = shared.mapInfo;
  MapFormat format{info.largestValue, info.channelCount, info.bytesPerEntry, info.entryCount,
                   info.greyChannel};
  if (shared.mapsAre16Bit) {
    format.entryCount = kEntries16Bit;
    format.largestValue = 0xFFFF;
  }
  const bool usable = (format.channelCount == 1 || format.channelCount == 3) &&
                      (format.bytesPerEntry == 1 || format.bytesPerEntry == 2) &&
                      format.entryCount >= 2 && format.entryCount <= kEntries16Bit &&
                      (format.bytesPerEntry == 2 || format.entryCount <= 256) &&
                      (format.channelCount == 1 || (format.greyChannel >= 3 && format.greyChannel <= 5));
  shared.mapFormat = usable ? format : MapFormat{};
  return usable;
}

bool LoadToneMaps() {
  ProcessState& process = Process();
  SharedState& shared = Shared();
  FreeToneMaps();
  MapInfo info{};
  if (CallDriverData(DRV_GET_MAP_INFO, process.request.param, &info) != DRV_STATUS_OK) return false;
  shared.mapInfo = info;
  if (!DeriveMapFormat()) return false;
  const uint64_t setsBytes = Layout().count() * MapSetSize();
  const uint64_t workingBytes = MapSetSize();
  process.mapSets = static_cast<uint8_t*>(LocalAlloc(LPTR, setsBytes));
  process.workingMaps = static_cast<uint8_t*>(LocalAlloc(LPTR, workingBytes));
  if (process.mapSets == nullptr || process.workingMaps == nullptr) {
    FreeToneMaps();
    return false;
  }
  process.mapSetsBytes = setsBytes;
  process.workingBytes = workingBytes;
  ReadSetFiles();
  return true;
}

void FreeToneMaps() {
  ProcessState& process = Process();
  if (process.mapSets != nullptr) LocalFree(process.mapSets);
  if (process.workingMaps != nullptr) LocalFree(process.workingMaps);
  process.mapSets = nullptr;
  process.workingMaps = nullptr;
  process.mapSetsBytes = 0;
  process.workingBytes = 0;
}

int16_t EnsureToneMaps() {
  const ProcessState& process = Process();
  // Buffers made for another device description (re-initialised by another
  // process) are made again.
  if (process.mapSets != nullptr && Shared().mapFormat.entryCount != 0 &&
      process.mapSetsBytes == Layout().count() * MapSetSize())
    return SCAN_OK;
  if (Shared().deviceKnown == 0) return SCAN_ERR_STATE;
  if (!DriverBound()) return SCAN_ERR_NO_DRIVER;
  return LoadToneMaps() ? SCAN_OK : SCAN_ERR_RESOURCE;
}

void GetToneMap(ScannerCommand& command) {
  if (command.data == nullptr) {
    command.status = SCAN_ERR_PARAM;
    return;
  }
  const int16_t ready = EnsureToneMaps();
  if (ready != SCAN_OK) {
    command.status = ready;
    return;
  }
  const MapFormat& format = Shared().mapFormat;
  const uint16_t kind = ValueLow(command);
  const int index = SetIndex(ValueHigh(command));
  const bool threeChannels = format.channelCount == 3;
  // A set the device has no maps for would lie past the buffer: refused.
  if (index < 0 || kind == 2 || kind > TONEMAP_CHANNEL_3 ||
      (kind != TONEMAP_GREY && !threeChannels)) {
    command.status = SCAN_ERR_PARAM;
    return;
  }
  const uint8_t* set = SetStart(index);
  if (kind == TONEMAP_WHOLE_SET) {
    std::memcpy(command.data, set, MapSetSize());
    return;
  }
  const uint32_t channel = kind == TONEMAP_GREY ? (threeChannels ? format.greyChannel - 3u : 0u)
                                                : kind - 3u;
  std::memcpy(command.data, set + channel * OneMapSize(), OneMapSize());
}

void AdjustToneMap(ScannerCommand& command) {
  if (command.data == nullptr) {
    command.status = SCAN_ERR_PARAM;
    return;
  }
  ToneMapAdjustment request;
  std::memcpy(&request, command.data, sizeof(request));
  if (request.map == nullptr || request.brightness < -kCurveLimit || request.brightness > kCurveLimit ||
      request.contrast < -kCurveLimit || request.contrast > kCurveLimit) {
    command.status = SCAN_ERR_PARAM;
    return;
  }
  if (Shared().mapFormat.entryCount == 0) {
    const int16_t ready = EnsureToneMaps();
    if (ready != SCAN_OK) {
      command.status = ready;
      return;
    }
  }
  ferrox::AdjustToneMap(MapView(static_cast<uint8_t*>(request.map)), request.brightness,
                        request.contrast);
}

void GetMapFormat(ScannerCommand& command) {
  if (Shared().mapsAre16Bit == 0) {
    command.status = SCAN_ERR_COMMAND;
    return;
  }
  if (command.data == nullptr) {
    command.status = SCAN_ERR_PARAM;
    return;
  }
  if (Shared().mapFormat.entryCount == 0) {
    const int16_t ready = EnsureToneMaps();
    if (ready != SCAN_OK) {
      command.status = ready;
      return;
    }
  }
  std::memcpy(command.data, &Shared().mapFormat, sizeof(MapFormat));
}

namespace {

// The built-in set a scan uses: positive film wins over negative film, which
// wins over the feeder. -1 when the device has no maps for that set.
int ScanSetIndex(uint32_t flags) {
  if (flags & SCANFLAG_POSITIVE) return SetIndex(TONESET_POSITIVE);
  if (flags & SCANFLAG_NEGATIVE) return SetIndex(TONESET_NEGATIVE);
  if (flags & SCANFLAG_ADF) return SetIndex(TONESET_ADF);
  return SetIndex(TONESET_NORMAL);
}

bool NegativeFilm(uint32_t flags) {
  return (flags & SCANFLAG_NEGATIVE) != 0 && (flags & SCANFLAG_POSITIVE) == 0;
}

uint8_t* WorkingMap(uint32_t channel) { return Process().workingMaps + channel * OneMapSize(); }

// Copies `count` maps from `source` into the working buffer, adjusting each
// when `adjust` is set.
void CopyToWorking(const uint8_t* source, uint32_t count, bool adjust, const ScanParameters& params) {
  for (uint32_t channel = 0; channel < count; ++channel) {
    std::memcpy(WorkingMap(channel), source + channel * OneMapSize(), OneMapSize());
    if (adjust) ferrox::AdjustToneMap(MapView(WorkingMap(channel)), params.brightness, params.contrast);
  }
}

int16_t PrepareGrey(ScanParameters& params) {
  const MapFormat& format = Shared().mapFormat;
  if (params.frame.flags & SCANFLAG_IDENTITY_MAPS) {
    MakeIdentity(MapView(WorkingMap(0)));
    params.mapAddress = WorkingMap(0);
  } else if (params.mapMode == MAP_MODE_BUILT_IN) {
    const int index = ScanSetIndex(params.frame.flags);
    if (index < 0) return SCAN_ERR_PARAM;
    const uint32_t channel = format.channelCount == 3 ? format.greyChannel - 3u : 0u;
    uint8_t* source = SetStart(index) + channel * OneMapSize();
    params.mapAddress = source;
    CopyToWorking(source, 1, true, params);
  } else if (params.mapMode == MAP_MODE_ONE && params.mapAddress != nullptr) {
    CopyToWorking(static_cast<const uint8_t*>(params.mapAddress), 1, false, params);
  } else {
    return SCAN_ERR_PARAM;
  }
  params.mapMode = MAP_MODE_ONE;
  return SCAN_OK;
}

int16_t PrepareColour(ScanParameters& params) {
  const uint32_t channels = Shared().mapFormat.channelCount;
  if (params.frame.flags & SCANFLAG_IDENTITY_MAPS) {
    for (uint32_t channel = 0; channel < channels; ++channel) MakeIdentity(MapView(WorkingMap(channel)));
    params.mapAddress = WorkingMap(0);
  } else if (params.mapMode == MAP_MODE_BUILT_IN) {
    const int index = ScanSetIndex(params.frame.flags);
    if (index < 0) return SCAN_ERR_PARAM;
    params.mapAddress = SetStart(index);
    CopyToWorking(SetStart(index), channels, true, params);
  } else if (params.mapAddress != nullptr &&
             ((params.mapMode == MAP_MODE_ONE && channels == 1) ||
              (params.mapMode == MAP_MODE_THREE && channels == 3))) {
    CopyToWorking(static_cast<const uint8_t*>(params.mapAddress), channels, false, params);
  } else {
    return SCAN_ERR_PARAM;
  }
  params.mapMode = channels == 3 ? MAP_MODE_THREE : MAP_MODE_ONE;
  return SCAN_OK;
}

}  // namespace

int16_t PrepareWorkingMaps(ScanParameters& params) {
  const int16_t ready = EnsureToneMaps();
  if (ready != SCAN_OK) return ready;
  int16_t status = SCAN_OK;
  switch (params.frame.dataType) {
    case DATATYPE_LINEART:
      MakeIdentity(MapView(WorkingMap(0)));
      params.mapMode = MAP_MODE_ONE;
      break;
    case DATATYPE_HALFTONE:
    case DATATYPE_GREY:
      status = PrepareGrey(params);
      break;
    case DATATYPE_COLOUR:
    case DATATYPE_COLOUR16:
      status = PrepareColour(params);
      break;
    default:
      return SCAN_OK;  // other data types keep the working maps as they are
  }
  if (status != SCAN_OK) return status;
  // Negative film is reversed here, once: the download sends these maps as they are.
  if (NegativeFilm(params.frame.flags)) {
    const uint32_t prepared = params.mapMode == MAP_MODE_THREE ? 3 : 1;
    for (uint32_t channel = 0; channel < prepared; ++channel) ReverseToneMap(MapView(WorkingMap(channel)));
  }
  return SCAN_OK;
}

int16_t DownloadWorkingMaps(uint16_t mapMode) {
  return CallDriverData(DRV_DOWNLOAD_MAPS, mapMode, Process().workingMaps);
}

}  // namespace ferrox
