#include "host/plugins.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "export_errors.h"
#include "guard.h"
#include "host_module.h"
#include "pnm_writer.h"
#include "winport/module.h"
#include "winport/resource.h"

namespace imagehost {

namespace {

constexpr size_t kMaxPluginText = 512;  // longest version or extension text taken from a plug-in

// Extensions people use for a format beside the one its writer names.
constexpr std::pair<const char*, const char*> kExtensionAliases[] = {
    {"tiff", "tif"},
    {"jpeg", "jpg"},
};

// The messages of the host's own writers, by error id.
constexpr const char* kBuiltInMessages[] = {"", "Unable to open file.",
                                            "Error writing export file header.",
                                            "Error writing export file."};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return text;
}

// A text a plug-in returned, bounded in length; "" for null.
std::string PluginText(const char* text) {
  return text == nullptr ? std::string() : std::string(text, strnlen(text, kMaxPluginText));
}

template <typename F>
F Bind(HMODULE module, const char* name) {
  // Through the generic function type, whatever the platform declares FARPROC as.
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

std::string MissingExport(const std::string& fileName, const char* kind, const char* name) {
  return fileName + ": not a " + kind + " plug-in (no " + name + ")";
}

}  // namespace

std::string FileExtension(const std::string& path) {
  std::string name = BaseName(path);
  size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot + 1);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");  // either separator, as the system takes both
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string CanonicalExtension(const std::string& extension) {
  const std::string lower = Lower(extension);
  for (const auto& [alias, canonical] : kExtensionAliases)
    if (lower == alias) return canonical;
  return extension;
}

LoadedPlugin::~LoadedPlugin() {
  if (module_ != 0) FreeLibrary(module_);
}

Status LoadedPlugin::loadModule(const std::string& path) {
  path_ = path;
  fileName_ = BaseName(path);
  module_ = LoadLibraryA(path.c_str());
  if (module_ == 0)
    return Status::failure(fileName_ + ": cannot be loaded (error " +
                           std::to_string(GetLastError()) + ")");
  return {};
}

Status ReaderPlugin::load(const std::string& path, std::unique_ptr<ReaderPlugin>& out) {
  return Guarded([&]() -> Status {
    std::unique_ptr<ReaderPlugin> reader(new ReaderPlugin);
    if (Status loaded = reader->loadModule(path); !loaded) return loaded;
    HMODULE m = reader->module_;
    ReaderExports& x = reader->exports_;
    x.initImage = Bind<OVDLinit_image_fn>(m, "OVDLinit_image");
    x.closeImage = Bind<OVDLclose_image_fn>(m, "OVDLclose_image");
    x.readRows = Bind<OVDLread_rows_fn>(m, "OVDLread_rows");
    x.setRow = Bind<OVDLset_row_fn>(m, "OVDLset_row");
    x.buildDibHead = Bind<OVDLbuildDIBhead_fn>(m, "OVDLbuildDIBhead");
    x.errorString = Bind<OVDLerror_string_fn>(m, "OVDLerror_string");
    x.getVersion = Bind<OVDLget_ver_fn>(m, "OVDLget_ver");
    x.setPage = Bind<OVDLset_page_fn>(m, "OVDLset_page");
    x.verify = Bind<OVDLverify_img_fn>(m, "OVDLverify_img");
    const std::pair<const void*, const char*> required[] = {
        {reinterpret_cast<const void*>(x.initImage), "OVDLinit_image"},
        {reinterpret_cast<const void*>(x.closeImage), "OVDLclose_image"},
        {reinterpret_cast<const void*>(x.readRows), "OVDLread_rows"},
        {reinterpret_cast<const void*>(x.buildDibHead), "OVDLbuildDIBhead"},
        {reinterpret_cast<const void*>(x.errorString), "OVDLerror_string"},
        {reinterpret_cast<const void*>(x.getVersion), "OVDLget_ver"},
        {reinterpret_cast<const void*>(x.verify), "OVDLverify_img"},
    };
    for (const auto& [address, name] : required)
      if (address == nullptr)
        return Status::failure(MissingExport(reader->fileName_, "reader", name));
    reader->version_ = PluginText(x.getVersion());
    char filter[kMaxPluginText];
    LoadStringA(m, kReaderFilterStringId, filter, sizeof filter);
    reader->description_ = filter;
    reader->takePatterns();
    out = std::move(reader);
    return {};
  });
}

int32_t ReaderPlugin::verify(std::span<const uint8_t, kVerifyBytes> firstBytes) const {
  return exports_.verify(firstBytes.data(), 0, 0);
}

std::string ReaderPlugin::errorText() const {
  char text[512] = {};
  exports_.errorString(text, static_cast<int32_t>(sizeof text));
  text[sizeof text - 1] = '\0';
  return text;
}

Status WriterPlugin::load(const std::string& path, std::unique_ptr<WriterPlugin>& out) {
  return Guarded([&]() -> Status {
    std::unique_ptr<WriterPlugin> writer(new WriterPlugin);
    if (Status loaded = writer->loadModule(path); !loaded) return loaded;
    HMODULE m = writer->module_;
    WriterExports& x = writer->exports_;
    x.getExtension = Bind<OVXDLget_ext_fn>(m, "OVXDLget_ext");
    x.beginWrite = Bind<OVXDLbegin_write_fn>(m, "OVXDLbegin_write");
    x.writeBlock = Bind<OVXDLwrite_block_fn>(m, "OVXDLwrite_block");
    x.endWrite = Bind<OVXDLend_write_fn>(m, "OVXDLend_write");
    x.getVersion = Bind<OVXDLget_ver_fn>(m, "OVXDLget_ver");
    const std::pair<const void*, const char*> required[] = {
        {reinterpret_cast<const void*>(x.getExtension), "OVXDLget_ext"},
        {reinterpret_cast<const void*>(x.beginWrite), "OVXDLbegin_write"},
        {reinterpret_cast<const void*>(x.writeBlock), "OVXDLwrite_block"},
        {reinterpret_cast<const void*>(x.endWrite), "OVXDLend_write"},
        {reinterpret_cast<const void*>(x.getVersion), "OVXDLget_ver"},
    };
    for (const auto& [address, name] : required)
      if (address == nullptr)
        return Status::failure(MissingExport(writer->fileName_, "writer", name));

    writer->connect();
    out = std::move(writer);
    return {};
  });
}

Status WriterPlugin::builtIn(const std::string& name, const WriterExports& exports,
                             std::unique_ptr<WriterPlugin>& out) {
  return Guarded([&]() -> Status {
    std::unique_ptr<WriterPlugin> writer(new WriterPlugin);
    writer->fileName_ = name;
    writer->path_ = name;
    writer->exports_ = exports;
    writer->connect();
    out = std::move(writer);
    return {};
  });
}

// Once per load: the writer keeps the error callback and, if it reads
// options through the host, looks OvgXOptBlkGet up on the host's module.
void WriterPlugin::connect() {
  ExportHostInfo host{};
  host.errorCallback = OnExportError;
  host.hostInstance = HostInstance();
  description_ = PluginText(exports_.getExtension(&host));
  flags_ = host.flags;
  version_ = PluginText(exports_.getVersion());
  defaultExtension_ = description_.substr(0, description_.find(';'));
  takePatterns();
}

void LoadedPlugin::takePatterns() {
  const std::string& text = description_;
  for (size_t star = text.find("*."); star != std::string::npos;
       star = text.find("*.", star + 2)) {
    size_t end = text.find_first_of(";)~ ,", star + 2);
    patterns_.push_back(text.substr(star + 2, end == std::string::npos ? end : end - star - 2));
  }
}

bool LoadedPlugin::matchesPattern(const std::string& extension) const {
  if (extension.empty()) return false;
  std::string wanted = Lower(extension);
  return std::any_of(patterns_.begin(), patterns_.end(),
                     [&](const std::string& p) { return Lower(p) == wanted; });
}

bool WriterPlugin::matchesExtension(const std::string& extension) const {
  if (!extension.empty() && Lower(defaultExtension_) == Lower(extension)) return true;
  return matchesPattern(extension);
}

bool WriterPlugin::takesForwardOption() const { return Lower(defaultExtension_) == "bmp"; }

std::string WriterPlugin::errorText(HINSTANCE instance, int32_t errorId) const {
  char text[512] = {};
  if (isBuiltIn() && errorId > 0 && static_cast<size_t>(errorId) < std::size(kBuiltInMessages))
    return kBuiltInMessages[errorId];
  if (errorId > 0 && !isBuiltIn()) {
    UINT id = static_cast<UINT>(errorId);
    if (instance == 0 || LoadStringA(instance, id, text, sizeof text) == 0)
      LoadStringA(module_, id, text, sizeof text);
  }
  if (text[0] == '\0') return "error " + std::to_string(errorId);
  return text;
}

PluginSet::PluginSet() = default;
PluginSet::~PluginSet() = default;

template <typename Plugin>
void PluginSet::AddSlot(std::vector<Slot<Plugin>>& slots, std::string path, size_t order) {
  Slot<Plugin>& slot = slots.emplace_back();
  slot.path = std::move(path);
  slot.order = order;
}

template <typename Plugin>
const Plugin* PluginSet::Loaded(Slot<Plugin>& slot) {
  if (!slot.tried) {
    slot.tried = true;
    if (Status loaded = Plugin::load(slot.path, slot.plugin); !loaded) slot.problem = loaded.message();
  }
  return slot.plugin.get();
}

Status PluginSet::load(const std::string& folder) {
  return Guarded([&]() -> Status {
    folder_ = folder;
    std::vector<std::filesystem::path> files;
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error), end;
    if (error)
      return Status::failure("cannot read plug-in folder " + folder + ": " + error.message());
    for (; it != end; it.increment(error)) {
      if (error)
        return Status::failure("cannot read plug-in folder " + folder + ": " + error.message());
      std::string ext = Lower(it->path().extension().string());
      if ((ext == ".dil" || ext == ".del") && it->is_regular_file(error))
        files.push_back(it->path());
    }
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
      return Lower(a.filename().string()) < Lower(b.filename().string());
    });
    for (size_t i = 0; i < files.size(); ++i) {
      if (Lower(files[i].extension().string()) == ".dil")
        AddSlot(readerSlots_, files[i].string(), i);
      else
        AddSlot(writerSlots_, files[i].string(), i);
    }
    std::unique_ptr<WriterPlugin> pnmWriter;
    if (Status made = WriterPlugin::builtIn(pnm::kWriterName, pnm::Exports(), pnmWriter); !made)
      return made;
    builtIn_.push_back(std::move(pnmWriter));
    return {};
  });
}

// Tries every file still untried, in file-name order (the order a loader of
// the whole folder would take), and lists what loaded and what did not.
void PluginSet::loadAll() const {
  if (complete_) return;
  size_t r = 0, w = 0;
  while (r < readerSlots_.size() || w < writerSlots_.size()) {
    bool readerNext = w == writerSlots_.size() ||
                      (r < readerSlots_.size() && readerSlots_[r].order < writerSlots_[w].order);
    if (readerNext)
      Loaded(readerSlots_[r++]);
    else
      Loaded(writerSlots_[w++]);
  }
  std::vector<std::pair<size_t, std::string>> problems;
  for (const auto& slot : readerSlots_) {
    if (slot.plugin) readers_.push_back(slot.plugin.get());
    if (!slot.problem.empty()) problems.emplace_back(slot.order, slot.problem);
  }
  for (const auto& slot : writerSlots_) {
    if (slot.plugin) writers_.push_back(slot.plugin.get());
    if (!slot.problem.empty()) problems.emplace_back(slot.order, slot.problem);
  }
  std::sort(problems.begin(), problems.end());
  for (auto& problem : problems) problems_.push_back(std::move(problem.second));
  complete_ = true;
}

const std::vector<const ReaderPlugin*>& PluginSet::readers() const {
  loadAll();
  return readers_;
}

const std::vector<const WriterPlugin*>& PluginSet::writers() const {
  loadAll();
  return writers_;
}

const std::vector<std::string>& PluginSet::problems() const {
  loadAll();
  return problems_;
}

const ReaderPlugin* PluginSet::readerAt(size_t index) const {
  return index < readerSlots_.size() ? Loaded(readerSlots_[index]) : nullptr;
}

namespace {

template <typename Plugin, typename Slots, typename LoadSlot>
Status FindPlugin(const std::string& nameOrPath, const char* kind, Slots& slots,
                  LoadSlot loadSlot, std::vector<std::unique_ptr<Plugin>>& extra,
                  const Plugin*& out) {
  if (nameOrPath.find('/') == std::string::npos) {
    for (auto& slot : slots) {  // a file that does not load is not a plug-in of the folder
      if (Lower(BaseName(slot.path)) == Lower(nameOrPath) && loadSlot(slot) != nullptr) {
        out = slot.plugin.get();
        return {};
      }
    }
    return Status::failure("no " + std::string(kind) + " named " + nameOrPath +
                           " in the plug-in folder");
  }
  for (const auto& plugin : extra) {  // named by the same path before: loaded once
    if (plugin->path() == nameOrPath) {
      out = plugin.get();
      return {};
    }
  }
  std::unique_ptr<Plugin> plugin;
  if (Status status = Plugin::load(nameOrPath, plugin); !status) return status;
  out = plugin.get();
  extra.push_back(std::move(plugin));
  return {};
}

}  // namespace

Status PluginSet::findReader(const std::string& nameOrPath, const ReaderPlugin*& out) {
  return Guarded([&] {
    return FindPlugin(nameOrPath, "reader", readerSlots_,
                      [](Slot<ReaderPlugin>& slot) { return Loaded(slot); }, extraReaders_, out);
  });
}

Status PluginSet::findWriter(const std::string& nameOrPath, const WriterPlugin*& out) {
  for (const auto& writer : builtIn_) {
    if (Lower(writer->fileName()) == Lower(nameOrPath)) {
      out = writer.get();
      return {};
    }
  }
  return Guarded([&] {
    return FindPlugin(nameOrPath, "writer", writerSlots_,
                      [](Slot<WriterPlugin>& slot) { return Loaded(slot); }, extraWriters_, out);
  });
}

const WriterPlugin* PluginSet::writerForPath(const std::string& path) const {
  return writerForExtension(FileExtension(path));
}

const WriterPlugin* PluginSet::writerForExtension(const std::string& extension) const {
  const std::string wanted = CanonicalExtension(extension);
  for (auto& slot : writerSlots_)
    if (const WriterPlugin* writer = Loaded(slot); writer && writer->matchesExtension(wanted))
      return writer;
  for (const auto& writer : builtIn_)
    if (writer->matchesExtension(wanted)) return writer.get();
  return nullptr;
}

}  // namespace imagehost
