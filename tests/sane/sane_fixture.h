// Running SANE's scanimage (and saned) on the backend in build/sane against
// the virtual scanner, and loading the backend into the test process through
// its sane_* entry points. Each test has the scanapp fixture's own registry
// file, shared section, driver trace and temporary folder.
#pragma once

#include <sane/sane.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "ferrox/scanner_command.h"
#include "scanapp_fixture.h"

namespace sanetest {

class SaneTest : public scanapptest::ScanappTest {
 protected:
  SaneTest();

  // scanimage with `args` on the backend's folder; stdout to `stdoutFile` when given.
  hosttest::ToolRun scanimage(const std::vector<std::string>& args,
                              const std::string& stdoutFile = "");
  // The command line that starts `program` with the backend's folder in its environment.
  std::vector<std::string> command(const std::string& program,
                                   const std::vector<std::string>& args) const;
  // Starts `argv` without waiting, stdin from /dev/null, stdout and stderr to
  // files (the same file when they are one name); in a process group of its
  // own when `ownGroup`. -1 when it cannot be started.
  static pid_t spawn(const std::vector<std::string>& argv, const std::string& out,
                     const std::string& err, bool ownGroup = false);
  // An image file of any format as RGB pixels, read by ImageMagick.
  hosttest::Pixels imagePixels(const std::string& path) const;
  // Holds the scanner's lock from this process (a second application).
  class LockHolder {
   public:
    LockHolder();
    ~LockHolder();
    bool held() const { return held_; }

   private:
    testsupport::LoadedModule library_;
    ScannerCommand record_{};
    bool held_ = false;
  };
  // True when the scanner can be locked now (and gives the lock back).
  static bool scannerFree();
};

// True when scanimage is installed; the scanimage cases skip without it.
bool HaveScanimage();

// The backend loaded into this process, with its entry points.
struct Backend {
  Backend();
  ~Backend();
  explicit operator bool() const { return library != nullptr; }

  void* library = nullptr;
  SANE_Status (*init)(SANE_Int*, SANE_Auth_Callback) = nullptr;
  void (*exit)() = nullptr;
  SANE_Status (*getDevices)(const SANE_Device***, SANE_Bool) = nullptr;
  SANE_Status (*open)(SANE_String_Const, SANE_Handle*) = nullptr;
  void (*close)(SANE_Handle) = nullptr;
  const SANE_Option_Descriptor* (*descriptor)(SANE_Handle, SANE_Int) = nullptr;
  SANE_Status (*control)(SANE_Handle, SANE_Int, SANE_Action, void*, SANE_Int*) = nullptr;
  SANE_Status (*parameters)(SANE_Handle, SANE_Parameters*) = nullptr;
  SANE_Status (*start)(SANE_Handle) = nullptr;
  SANE_Status (*read)(SANE_Handle, SANE_Byte*, SANE_Int, SANE_Int*) = nullptr;
  void (*cancel)(SANE_Handle) = nullptr;

  // The option index of `name`; -1 when there is none.
  SANE_Int find(SANE_Handle handle, const std::string& name) const;
  SANE_Status setWord(SANE_Handle handle, const std::string& name, SANE_Word value,
                      SANE_Int* info = nullptr);
  SANE_Status setString(SANE_Handle handle, const std::string& name, const std::string& value,
                        SANE_Int* info = nullptr);
  // Reads to the end of the frame; the status that ended it.
  SANE_Status readAll(SANE_Handle handle, std::vector<uint8_t>& bytes, SANE_Int chunk);
};

}  // namespace sanetest
