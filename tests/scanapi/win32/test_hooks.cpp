#include "test_hooks.h"

extern "C" {
void winport_test_fail_allocation(uint32_t) {}
void winport_test_freeze_tick(DWORD) {}
void winport_test_advance_tick(DWORD) {}
void winport_test_thaw_tick() {}
}
