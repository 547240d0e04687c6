// The plug-ins of one folder: readers (*.DIL) and writers (*.DEL), loaded
// with LoadLibraryA and bound by name.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "host/api.h"
#include "host/status.h"
#include "plugin/contract.h"

namespace imagehost {

// Module handle and identity common to readers and writers. Unloads on destruction.
class HOST_API LoadedPlugin {
 public:
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;
  ~LoadedPlugin();

  const std::string& fileName() const { return fileName_; }
  const std::string& path() const { return path_; }
  HMODULE module() const { return module_; }
  const std::string& version() const { return version_; }
  // The reader's file-type filter (string 1000) or the writer's extension text.
  const std::string& description() const { return description_; }
  // True when `extension` (without the dot) is one of the "*.ext" patterns of
  // the description; case does not matter.
  bool matchesPattern(const std::string& extension) const;

 protected:
  LoadedPlugin() = default;
  Status loadModule(const std::string& path);
  // Takes the "*.ext" patterns out of the description.
  void takePatterns();

  std::string fileName_;
  std::string path_;
  HMODULE module_ = 0;
  std::string version_;
  std::string description_;
  std::vector<std::string> patterns_;
};

struct ReaderExports {
  OVDLinit_image_fn initImage = nullptr;
  OVDLclose_image_fn closeImage = nullptr;
  OVDLread_rows_fn readRows = nullptr;
  OVDLset_row_fn setRow = nullptr;  // optional
  OVDLbuildDIBhead_fn buildDibHead = nullptr;
  OVDLerror_string_fn errorString = nullptr;
  OVDLget_ver_fn getVersion = nullptr;
  OVDLset_page_fn setPage = nullptr;  // multi-page readers only
  OVDLverify_img_fn verify = nullptr;
};

class HOST_API ReaderPlugin : public LoadedPlugin {
 public:
  // Loads the reader at `path`; fails when the file cannot be loaded or lacks an entry point.
  static Status load(const std::string& path, std::unique_ptr<ReaderPlugin>& out);

  const ReaderExports& exports() const { return exports_; }
  // OVDLverify_img on the file's first kVerifyBytes bytes: 1 or 2 recognised, 0 not.
  int32_t verify(std::span<const uint8_t, kVerifyBytes> firstBytes) const;
  // The text OVDLerror_string gives for the calling thread's last error ("" when none).
  std::string errorText() const;

 private:
  ReaderExports exports_;
};

struct WriterExports {
  OVXDLget_ext_fn getExtension = nullptr;
  OVXDLbegin_write_fn beginWrite = nullptr;
  OVXDLwrite_block_fn writeBlock = nullptr;
  OVXDLend_write_fn endWrite = nullptr;
  OVXDLget_ver_fn getVersion = nullptr;
};

// How the host reads the WriterFlags bits above bit 0, whose meaning the
// writer contract leaves to the host: bit 2 set says the writer has an append
// path, OVXDLbegin_write on an existing file adding a page to it (the TIFF
// writer reports 252); writers without one (248, 249) replace the file.
inline constexpr uint32_t kWriterAppendsPages = 4;
// Bit 8 set says the writer also takes 48-bit rows: three little-endian
// 16-bit samples per pixel, blue first, rows padded to 4 bytes like any DIB's.
inline constexpr uint32_t kWriterTakesWideColour = 256;

class HOST_API WriterPlugin : public LoadedPlugin {
 public:
  // Loads the writer at `path` and calls OVXDLget_ext once, handing it the
  // host's error callback and module.
  static Status load(const std::string& path, std::unique_ptr<WriterPlugin>& out);
  // A writer built into the host, named `name`, through its entry points.
  static Status builtIn(const std::string& name, const WriterExports& exports,
                        std::unique_ptr<WriterPlugin>& out);

  const WriterExports& exports() const { return exports_; }
  // WriterFlags from OVXDLget_ext.
  uint32_t flags() const { return flags_; }
  // The default extension before the ';' of the extension text ("BMP").
  const std::string& defaultExtension() const { return defaultExtension_; }
  // True when `extension` (without the dot) is the default extension or one of
  // the patterns; case does not matter.
  bool matchesExtension(const std::string& extension) const;
  // True when the writer adds a page to an existing target (kWriterAppendsPages).
  bool appendsPages() const { return (flags_ & kWriterAppendsPages) != 0; }
  // True when the writer keeps 16 bits per sample (kWriterTakesWideColour).
  bool takesWideColour() const { return (flags_ & kWriterTakesWideColour) != 0; }
  // True for a writer built into the host.
  bool isBuiltIn() const { return module_ == 0; }
  // The BMP writer takes its row order from the option "FORWARD".
  bool takesForwardOption() const;
  // The writer's message for an error id (LoadStringA on `instance`, else on the loaded module).
  std::string errorText(HINSTANCE instance, int32_t errorId) const;

 private:
  void connect();

  WriterExports exports_;
  uint32_t flags_ = 0;
  std::string defaultExtension_;
};

// The plug-ins of a folder, each loaded when first needed: a conversion loads
// the readers it probes (in file-name order, up to the one that recognises
// the file) and the writers it compares extensions with (up to the first that
// matches), so it never pays for plug-ins it does not use. What it finds is
// what loading every plug-in up front would find.
class HOST_API PluginSet {
 public:
  PluginSet();
  ~PluginSet();
  PluginSet(const PluginSet&) = delete;
  PluginSet& operator=(const PluginSet&) = delete;

  // Finds every *.DIL and *.DEL file of `folder` (names without regard to
  // case), in file-name order; loads none of them yet. Fails only when the
  // folder cannot be read.
  Status load(const std::string& folder);
  // The host's own writers (netpbm); chosen by extension after the plug-ins.
  const std::vector<std::unique_ptr<WriterPlugin>>& builtInWriters() const { return builtIn_; }

  const std::string& folder() const { return folder_; }
  // Every reader and writer that loads, in file-name order (loads them all).
  const std::vector<const ReaderPlugin*>& readers() const;
  const std::vector<const WriterPlugin*>& writers() const;
  // Why the files that would not load were skipped, in file-name order (loads them all).
  const std::vector<std::string>& problems() const;

  // The reader files of the folder, in file-name order, and the reader of one
  // of them, loaded on first use (null when it does not load).
  size_t readerFileCount() const { return readerSlots_.size(); }
  const ReaderPlugin* readerAt(size_t index) const;

  // A reader or writer named by its file name in the folder (without regard
  // to case) or by a path (a name holding '/'), which is then loaded.
  Status findReader(const std::string& nameOrPath, const ReaderPlugin*& out);
  Status findWriter(const std::string& nameOrPath, const WriterPlugin*& out);
  // The first writer whose extension text matches the extension of `path`; null if none.
  const WriterPlugin* writerForPath(const std::string& path) const;
  // The same for an extension without its dot. Aliases (tiff, jpeg) count as
  // the extension they stand for; the host's own writers come last.
  const WriterPlugin* writerForExtension(const std::string& extension) const;

 private:
  // One plug-in file and, once tried, what loading it gave.
  template <typename Plugin>
  struct Slot {
    std::string path;
    size_t order = 0;  // place among all the folder's plug-in files
    bool tried = false;
    std::unique_ptr<Plugin> plugin;
    std::string problem;
  };
  template <typename Plugin>
  static void AddSlot(std::vector<Slot<Plugin>>& slots, std::string path, size_t order);
  template <typename Plugin>
  static const Plugin* Loaded(Slot<Plugin>& slot);
  void loadAll() const;

  std::string folder_;
  mutable std::vector<Slot<ReaderPlugin>> readerSlots_;
  mutable std::vector<Slot<WriterPlugin>> writerSlots_;
  mutable bool complete_ = false;  // every slot tried and the lists below made
  mutable std::vector<const ReaderPlugin*> readers_;
  mutable std::vector<const WriterPlugin*> writers_;
  mutable std::vector<std::string> problems_;
  std::vector<std::unique_ptr<ReaderPlugin>> extraReaders_;
  std::vector<std::unique_ptr<WriterPlugin>> extraWriters_;
  std::vector<std::unique_ptr<WriterPlugin>> builtIn_;
};

// The extension of a path's file name without its dot ("" when none).
HOST_API std::string FileExtension(const std::string& path);
// The file name part of a path.
HOST_API std::string BaseName(const std::string& path);
// The extension an alias stands for ("tiff" -> "tif", "jpeg" -> "jpg"); any
// other extension as it is.
HOST_API std::string CanonicalExtension(const std::string& extension);

}  // namespace imagehost
