// The optional music library: binding at attach, and the open, close and
// tune operations the scan commands trigger. Music never changes a status.
#pragma once

#include <cstdint>

#include "winport/types.h"

namespace ferrox {

// Loads "Music.dll" from the scanner key's "System Directory", takes its
// function table, opens the "Music" subkey and reads the play flags.
void BindMusic(HKEY scannerKey);
void UnbindMusic();

void MusicOpen();              // every CMD_OPEN
void MusicClose();             // every CMD_CLOSE
void MusicRefresh(uint32_t scanFlags);  // a successful CMD_SET_PARAMETERS
void MusicStartScanTune();     // the end of a successful CMD_START_SCAN
void MusicEndScanTune();       // CMD_END_SCAN

}  // namespace ferrox
