#include "config.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../../common/trace.h"
#include "fault_names.h"
#include "virtscan/virtscan.h"
#include "winport/module.h"
#include "winport/registry.h"

namespace virtscan {

namespace {

constexpr const char* kParents[] = {"Software\\Duzizaziz\\Ridezodu\\Scanners",
                                    "Software\\Scanner Information"};

std::string canonicalPath(const std::string& path) {
  char buffer[MAX_PATH * 4];
  const DWORD length = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return "";
  return std::string(buffer, length);
}

bool readString(HKEY key, const char* name, std::string& out) {
  char buffer[MAX_PATH * 4];
  DWORD size = sizeof buffer;
  DWORD type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ || size == 0) {
    return false;
  }
  out.assign(buffer, strnlen(buffer, size));
  return true;
}

bool readDword(HKEY key, const char* name, uint32_t& out) {
  DWORD value = 0;
  DWORD size = sizeof value;
  DWORD type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD) {
    return false;
  }
  out = value;
  return true;
}

// The subkey of `parent` whose "Driver Pathname" is the file `ownPath`; the
// highest enumeration index wins. 0 when none.
HKEY findKeyUnder(const char* parentName, const std::string& ownPath) {
  HKEY parent = 0;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, parentName, 0, KEY_READ, &parent) != ERROR_SUCCESS)
    return 0;
  DWORD count = 0;
  DWORD longest = 0;
  HKEY found = 0;
  if (RegQueryInfoKeyA(parent, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
      longest < MAX_PATH) {
    for (DWORD index = count; index-- > 0 && found == 0;) {
      char name[MAX_PATH];
      DWORD nameLength = sizeof name;
      if (RegEnumKeyExA(parent, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        continue;
      }
      HKEY candidate = 0;
      if (RegOpenKeyExA(parent, name, 0, KEY_READ, &candidate) != ERROR_SUCCESS) continue;
      std::string driverPath;
      if (readString(candidate, "Driver Pathname", driverPath) &&
          strcasecmp(canonicalPath(driverPath).c_str(), ownPath.c_str()) == 0) {
        found = candidate;
      } else {
        RegCloseKey(candidate);
      }
    }
  }
  RegCloseKey(parent);
  return found;
}

HKEY findOwnKey(const std::string& ownPath) {
  const std::string named = standins::environmentText(kEnvKey);
  if (!named.empty()) {
    HKEY key = 0;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, named.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS
               ? key
               : 0;
  }
  const std::string canonical = canonicalPath(ownPath);
  if (canonical.empty()) return 0;
  for (const char* parent : kParents) {
    if (HKEY key = findKeyUnder(parent, canonical)) return key;
  }
  return 0;
}

uint16_t clampU16(uint32_t value, uint16_t low, uint16_t high) {
  return static_cast<uint16_t>(value < low ? low : value > high ? high : value);
}

void readDeviceValues(HKEY key, Config& c) {
  uint32_t v = 0;
  if (readDword(key, kValueCapabilities, v)) c.capabilities = static_cast<uint8_t>(v);
  if (readDword(key, kValueBitCodes, v)) c.bitCodes = v;
  if (readDword(key, kValueModel, v)) c.model = static_cast<uint8_t>(v & 0x0F);
  if (readDword(key, kValueSettings, v)) c.settingCount = clampU16(v, 1, 0xFFFE);
  if (readDword(key, kValueHighestType, v)) c.highestDataType = clampU16(v, 0, 4);
  if (readDword(key, kValueNoToneMaps, v)) c.noToneMaps = v == 1;
  if (readDword(key, kValueHighestDpi, v)) c.highestDpi = clampU16(v, 1, 0xFFFF);
  if (readDword(key, kValueNativeXDpi, v)) c.nativeXDpi = clampU16(v, 1, 0xFFFF);
  if (readDword(key, kValueNativeYDpi, v)) c.nativeYDpi = clampU16(v, 1, 0xFFFF);
  if (readDword(key, kValueWidthLimit, v)) c.widthLimit = clampU16(v, 1, 0xFFFF);
  if (readDword(key, kValueHeightLimit, v)) c.heightLimit = clampU16(v, 1, 0xFFFF);
  if (readDword(key, kValueMapChannels, v)) c.mapChannels = v == 1 ? 1 : 3;
  if (readDword(key, kValueGreyChannel, v)) c.greyChannel = clampU16(v, 3, 5);
  if (readDword(key, kValueAdfPages, v)) c.adfPages = v;
  std::string text;
  if (readString(key, kValueDocument, text)) c.document = text;
  if (readDword(key, kValueDocumentDpi, v)) c.documentDpi = v > 0xFFFF ? 0xFFFF : v;
}

void readFaultValues(HKEY key, Config& c) {
  uint32_t v = 0;
  std::string text;
  if (readString(key, kValueFaults, text)) parseFaultRules(text, c.faults);
  if (readDword(key, kValueNotReadyPolls, v)) c.notReadyPolls = v;
  if (readDword(key, kValueNotReadyMs, v)) c.notReadyMs = v;
  if (readDword(key, kValueWaitMs, v)) c.waitMs = v;
  if (readDword(key, kValueMaintenanceMs, v)) c.maintenanceMs = v;
  if (readDword(key, kValueStopAfterLines, v)) c.stopAfterLines = v;
  if (readString(key, kValueTraceFile, text)) c.traceFile = text;
}

bool environmentNumber(const char* name, uint32_t& out) {
  const std::string text = standins::environmentText(name);
  if (text.empty()) return false;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
  if (*end != '\0' || value > 0xFFFFFFFFull) {
    std::fprintf(stderr, "virtscan: %s=%s is not a number; ignored\n", name, text.c_str());
    return false;
  }
  out = static_cast<uint32_t>(value);
  return true;
}

void readEnvironment(Config& c) {
  const std::string faults = standins::environmentText(kEnvFaults);
  if (!faults.empty()) {
    c.faults.clear();
    if (!parseFaultRules(faults, c.faults)) {
      std::fprintf(stderr, "virtscan: malformed rules in %s=%s skipped (names: %s)\n",
                   kEnvFaults, faults.c_str(), faultNameList().c_str());
    }
  }
  environmentNumber(kEnvNotReadyPolls, c.notReadyPolls);
  environmentNumber(kEnvNotReadyMs, c.notReadyMs);
  environmentNumber(kEnvWaitMs, c.waitMs);
  environmentNumber(kEnvMaintenanceMs, c.maintenanceMs);
  environmentNumber(kEnvStopAfterLines, c.stopAfterLines);
  const std::string trace = standins::environmentText(kEnvTrace);
  if (!trace.empty()) c.traceFile = trace;
}

// "op:call:status": each of op and status a name (fault_names.h) or a number;
// call a number from 1 or "*".
bool parseRule(const std::string& text, FaultRule& rule) {
  const size_t first = text.find(':');
  const size_t second = first == std::string::npos ? first : text.find(':', first + 1);
  if (second == std::string::npos) return false;
  const std::string call = text.substr(first + 1, second - first - 1);
  long callNumber = 0;
  if (call != "*") {
    char* end = nullptr;
    callNumber = std::strtol(call.c_str(), &end, 10);
    if (call.empty() || *end != '\0' || callNumber < 1) return false;
  }
  if (!operationByName(text.substr(0, first), rule.operation) ||
      !statusByName(text.substr(second + 1), rule.status))
    return false;
  rule.call = static_cast<uint32_t>(callNumber);
  return true;
}

}  // namespace

bool parseFaultRules(const std::string& text, std::vector<FaultRule>& rules) {
  bool allGood = true;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    const std::string item = text.substr(start, comma - start);
    FaultRule rule;
    if (!item.empty()) {
      if (parseRule(item, rule)) {
        rules.push_back(rule);
      } else {
        allGood = false;
      }
    }
    start = comma + 1;
  }
  return allGood;
}

Config loadConfig(const std::string& ownPath) {
  Config config;
  if (HKEY key = findOwnKey(ownPath)) {
    readDeviceValues(key, config);
    readFaultValues(key, config);
    RegCloseKey(key);
  }
  readEnvironment(config);
  return config;
}

}  // namespace virtscan
