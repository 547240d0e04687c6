// A second process for the lock tests on Windows: loads the library given on
// its command line and contends for the lock.
//   lock_contender <library> <tag> <index> race   wait for "<tag>-start", send
//       CMD_LOCK, signal "<tag>-answer-<index>", wait for "<tag>-release"
//   lock_contender <library> <tag> <index> hold   lock, signal "<tag>-ready-<index>",
//       then sleep until killed
//   lock_contender <library> <tag> <index> once   lock and end
//   lock_contender <library> <tag> <index> spool  open, lock, scan at twice the
//       native resolution of the virtual scanner (so the library spools the
//       device's lines), read once, signal "<tag>-ready-<index>", sleep until killed
// Exit code: 10 locked, 11 refused (-1), 20 another status, 30 a set-up failure.
#include <cstdlib>
#include <cstring>
#include <string>

#include "ferrox/driver.h"
#include "ferrox/scanner_command.h"
#include "winport/windows.h"

namespace {

HANDLE Event(const std::string& name) { return CreateEventA(nullptr, TRUE, FALSE, name.c_str()); }

int Code(int16_t status) { return status == SCAN_OK ? 10 : status == SCAN_ERR_LOCKED ? 11 : 20; }

// True once the first lines of an enhanced scan were read.
bool SpoolingScan(ScannerCommanderFn commander) {
  ScannerCommand command{};
  auto run = [&](uint16_t code, void* data = nullptr, uint32_t value = 0) {
    command.code = code;
    command.data = data;
    command.value = value;
    commander(&command);
    return command.status == SCAN_OK;
  };
  ScanParameters parameters{};
  parameters.frame = ScanFrame{0, 0, 0, 300, 300, 1200, 1200, DATATYPE_GREY, 0, 0};
  parameters.mapMode = MAP_MODE_BUILT_IN;
  static uint8_t lines[1200 * 4];
  return run(CMD_OPEN) && run(CMD_LOCK) && run(CMD_SET_PARAMETERS, &parameters) && run(CMD_START_SCAN) &&
         run(CMD_READ_LINES, lines, sizeof(lines)) && command.result > 0;
}

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
  if (mode == "spool") {
    if (!SpoolingScan(commander)) return 20;
    SetEvent(Event(tag + "-ready-" + index));
    Sleep(INFINITE);
  }
  commander(&command);
  if (mode == "hold") {
    if (command.status != SCAN_OK) return Code(command.status);
    SetEvent(Event(tag + "-ready-" + index));
    Sleep(INFINITE);
  }
  return Code(command.status);
}
