// A second process for the lock tests on Windows: loads the library given on
// its command line and contends for the lock.
//   lock_contender <library> <tag> <index> race   wait for "<tag>-start", send
//       CMD_LOCK, signal "<tag>-answer-<index>", wait for "<tag>-release"
//   lock_contender <library> <tag> <index> hold   lock, signal "<tag>-ready-<index>",
//       then sleep until killed
//   lock_contender <library> <tag> <index> once   lock and end
// Exit code: 10 locked, 11 refused (-1), 20 another status, 30 a set-up failure.
#include <cstdlib>
#include <cstring>
#include <string>

#include "ferrox/scanner_command.h"
#include "winport/windows.h"

namespace {

HANDLE Event(const std::string& name) { return CreateEventA(nullptr, TRUE, FALSE, name.c_str()); }

int Code(int16_t status) { return status == SCAN_OK ? 10 : status == SCAN_ERR_LOCKED ? 11 : 20; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) return 30;
  HMODULE library = LoadLibraryA(argv[1]);
  if (library == 0) return 30;
  auto commander = reinterpret_cast<ScannerCommanderFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(library, kScannerCommanderName)));
  if (commander == nullptr) return 30;
  const std::string tag = argv[2];
  const std::string index = argv[3];
  const std::string mode = argv[4];
  ScannerCommand command{};
  command.code = CMD_LOCK;
  if (mode == "race") {
    HANDLE start = Event(tag + "-start"), release = Event(tag + "-release");
    if (WaitForSingleObject(start, 10000) != WAIT_OBJECT_0) return 30;
    commander(&command);
    SetEvent(Event(tag + "-answer-" + index));
    if (WaitForSingleObject(release, 10000) != WAIT_OBJECT_0) return 30;
    return Code(command.status);
  }
  commander(&command);
  if (mode == "hold") {
    if (command.status != SCAN_OK) return Code(command.status);
    SetEvent(Event(tag + "-ready-" + index));
    Sleep(INFINITE);
  }
  return Code(command.status);
}
