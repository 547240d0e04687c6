#include "ferrox_fixture.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "fixture_platform.h"

namespace scantest {

namespace {

// A .reg string: backslashes and quotes escaped.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

void ResetDriver(fake::DriverState& state) {
  std::memset(&state, 0, sizeof(state));
  state.device.highestDataType = DATATYPE_COLOUR16;
  state.device.bitCodeMask = 0xFF;
  state.device.settingCount = 1;
  state.limits.highestResolution = 2400;
  state.limits.nativeHorizontal = 600;
  state.limits.nativeVertical = 600;
  state.limits.widthLimit = 2550;
  state.limits.heightLimit = 3508;
  state.mapInfo = MapInfo{255, 3, 1, 256, 4};
  state.reply[DRV_LOCK] = 0x51234;  // the lock handle is the low half
}

std::vector<uint8_t> PatternedSet(size_t bytes, uint8_t salt) {
  std::vector<uint8_t> set(bytes);
  for (size_t i = 0; i < bytes; ++i) set[i] = static_cast<uint8_t>(i % 256 + 7 * (i / 256) + salt);
  return set;
}

Installation::Installation() {
  folder_ = platform::MakeFolder();
  const std::string folder = folder_ + "lib";
  std::filesystem::create_directory(folder);
  std::filesystem::copy_file(platform::BinPath("FERROX.DLL"), folder + "/FERROX.DLL");
  libraryFolder_ = platform::ShortFolder(folder);
  platform::BeginInstallation(folder_);
  driverModule_ = LoadLibraryA(platform::TestModulePath("fakescan.dll").c_str());
  auto stateFn = reinterpret_cast<fake::DriverStateFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(driverModule_, "FakeDriverState")));
  if (stateFn == nullptr) throw std::runtime_error("scripted driver missing");
  driverState_ = stateFn();
  ResetDriver(*driverState_);
  writeDefaultRegistry();
}

Installation::~Installation() {
  unload();
  if (driverModule_ != 0) FreeLibrary(driverModule_);
  platform::EndInstallation();
  platform::RemoveFolder(folder_);
}

void Installation::installMusic() {
  std::filesystem::copy_file(platform::TestModulePath("Music.dll"), libraryFolder_ + "Music.dll");
}

void Installation::writeFile(const std::string& name, const std::vector<uint8_t>& bytes) const {
  std::ofstream out(libraryFolder_ + name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void Installation::writeRegistry(const std::vector<ScannerKey>& keys) const {
  std::string text = "REGEDIT4\n\n";
  for (const ScannerKey& key : keys) {
    const std::string path = "HKEY_LOCAL_MACHINE\\" + key.parent + "\\" + key.name;
    const std::string directory = key.systemDirectory.empty() ? libraryFolder_ : key.systemDirectory;
    const std::string driver =
        key.driverPath.empty() ? platform::TestModulePath("fakescan.dll") : key.driverPath;
    text += "[" + path + "]\n";
    text += "\"System Directory\"=" + Quoted(directory) + "\n";
    text += "\"Driver Pathname\"=" + Quoted(driver) + "\n";
    text += "\"Product Name\"=" + Quoted(key.productName) + "\n" + key.extraValues + "\n";
    if (key.music) text += "[" + path + "\\Music]\n" + key.musicValues + "\n";
  }
  platform::ApplyRegistry(text);
}

fake::MusicState* Installation::music() {
  if (musicModule_ == 0) {
    musicModule_ = LoadLibraryA((libraryFolder_ + "Music.dll").c_str());
    if (musicModule_ == 0) return nullptr;
  }
  auto stateFn = reinterpret_cast<fake::MusicStateFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(musicModule_, "FakeMusicState")));
  return stateFn != nullptr ? stateFn() : nullptr;
}

bool Installation::load() {
  module_ = LoadLibraryA(libraryPath().c_str());
  if (module_ == 0) return false;
  commander_ = reinterpret_cast<ScannerCommanderFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(module_, kScannerCommanderName)));
  return commander_ != nullptr;
}

void Installation::unload() {
  if (musicModule_ != 0) FreeLibrary(musicModule_);
  musicModule_ = 0;
  if (module_ != 0) FreeLibrary(module_);
  module_ = 0;
  commander_ = nullptr;
}

ScannerCommand Installation::send(uint16_t code, void* data, uint32_t value) {
  ScannerCommand command{};
  command.code = code;
  command.data = data;
  command.value = value;
  command.lockHandle = session_.lockHandle;
  send(command);
  return command;
}

void Installation::send(ScannerCommand& command) {
  command.status = 12345;  // proves the call writes it
  commander_(&command);
}

void Installation::openAndLock() {
  session_.code = CMD_OPEN;
  send(session_);
  if (session_.status != SCAN_OK) throw std::runtime_error("open failed");
  session_.code = CMD_LOCK;
  send(session_);
  if (session_.status != SCAN_OK) throw std::runtime_error("lock failed");
}

std::vector<uint16_t> Installation::operations() const {
  std::vector<uint16_t> result;
  for (uint32_t i = 0; i < driverState_->logCount; ++i) result.push_back(driverState_->log[i].operation);
  return result;
}

void Installation::clearDriverLog() {
  driverState_->logCount = 0;
  std::memset(driverState_->calls, 0, sizeof(driverState_->calls));
}

}  // namespace scantest
