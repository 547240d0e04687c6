#include "backend.h"

#include <cstdlib>
#include <cstring>

#include "debug.h"

namespace ferroxsane {

Backend& TheBackend() {
  static Backend backend;  // ends with the library; sane_exit has emptied it by then
  return backend;
}

SANE_Status Backend::init() {
  DebugInit();
  config_ = ReadConfig();
  const std::string registry = UseRegistry(config_);
  Debug(kDebugInfo, "registry file %s", registry.c_str());
  initialised_ = true;
  return SANE_STATUS_GOOD;
}

void Backend::exit() {
  session_.reset();
  scanner_.reset();  // unloads the scanner library
  initialised_ = false;
}

bool Backend::loadLibrary() {
  if (scanner_) return true;
  std::string error;
  if (!scanclient::Scanner::load(config_.suiteFolder, scanner_, error)) {
    Debug(kDebugError, "%s", error.c_str());
    return false;
  }
  return true;
}

// The device entry from the product record; false when no scanner is configured.
bool Backend::describeDevice() {
  if (!loadLibrary()) return false;
  ProductRecord product{};
  scanner_->send(CMD_GET_PRODUCT_INFO, &product);
  if (product.found != 1) {
    const char* registry = std::getenv("WINPORT_REGISTRY");
    Debug(kDebugError, "the registry holds no scanner key (%s)",
          registry != nullptr ? registry : "the platform layer's default registry file");
    return false;
  }
  product.productName[sizeof product.productName - 1] = '\0';
  SplitProductName(product.productName, vendor_, model_);
  device_.name = kDeviceName;
  device_.vendor = vendor_.c_str();
  device_.model = model_.c_str();
  device_.type = "flatbed scanner";
  return true;
}

SANE_Status Backend::devices(const SANE_Device*** list) {
  if (!initialised_) return SANE_STATUS_INVAL;
  list_[0] = describeDevice() ? &device_ : nullptr;
  list_[1] = nullptr;
  *list = list_;
  return SANE_STATUS_GOOD;
}

SANE_Status Backend::open(SANE_String_Const name, SANE_Handle* handle) {
  if (!initialised_ || handle == nullptr) return SANE_STATUS_INVAL;
  if (name != nullptr && name[0] != '\0' && std::strcmp(name, kDeviceName) != 0) {
    Debug(kDebugError, "no device \"%s\" (the one device is \"%s\")", name, kDeviceName);
    return SANE_STATUS_INVAL;
  }
  if (session_) return SANE_STATUS_DEVICE_BUSY;
  if (!loadLibrary()) return SANE_STATUS_IO_ERROR;
  if (SANE_Status opened = ScanSession::Open(*scanner_, session_); opened != SANE_STATUS_GOOD)
    return opened;
  *handle = session_.get();
  return SANE_STATUS_GOOD;
}

void Backend::close(SANE_Handle handle) {
  if (handle != nullptr && handle == session_.get()) session_.reset();
}

ScanSession* Backend::session(SANE_Handle handle) const {
  return handle != nullptr && handle == session_.get() ? session_.get() : nullptr;
}

}  // namespace ferroxsane
