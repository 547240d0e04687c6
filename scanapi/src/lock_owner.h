// Who holds the scanner's lock: a process identity that stays true for the
// life of one process and is never mistaken for a later process that happens
// to get the same process id.
#pragma once

#include <cstdint>

namespace ferrox {

// The identity of the calling process: its id in the high half, its creation
// time (in 10 ms units, the low 32 bits) in the low half. Never 0. Asked
// afresh every time, so a forked child is not its parent.
uint64_t OwnIdentity();
// Whether the process `identity` names still runs. An owner that cannot be
// examined counts as running: a live owner's lock is never taken.
bool IdentityAlive(uint64_t identity);

}  // namespace ferrox
