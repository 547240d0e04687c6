// scanapp: scans with the scanner library beside it (FERROX.DLL) and writes
// the image through the writer plug-ins beside it, chosen by the output's
// extension.
//
// Exit status: 0 success; 1 failure (message on stderr, no output left);
// 2 usage error; 130 interrupted.
#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "arguments.h"
#include "progress.h"
#include "scan_job.h"
#include "winport/module.h"

namespace {

// The folder of the running program (canonical), where the library and plug-ins lie.
std::string ProgramFolder() {
  char path[4096] = {};
  const DWORD length = GetModuleFileNameA(0, path, sizeof path);
  const std::string text(path, length < sizeof path ? length : 0);
  const size_t slash = text.find_last_of("/\\");
  return slash == std::string::npos ? "." : text.substr(0, slash);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace scanapp;
  try {
    const Arguments arguments = ParseArguments(argc, argv);
    if (arguments.help) {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (arguments.version) {
      std::puts("scanapp " SCANAPP_VERSION);
      return kExitOk;
    }
    imagehost::InstallInterruptHandlers();
    if (arguments.command == "info")
      return arguments.listOptions ? RunCapabilities(ProgramFolder()) : RunInfo(ProgramFolder());
    return RunScan(arguments, ProgramFolder());
  } catch (const UsageError& error) {
    std::fprintf(stderr, "scanapp: %s\n%s", error.message.c_str(), kShortUsage);
    return kExitUsage;
  } catch (const std::bad_alloc&) {
    return Fail("not enough memory");
  } catch (const std::exception& error) {
    return Fail(error.what());
  }
}
