// A minimal in-memory HostFileTable for the fuzz harnesses: one file (the
// fuzz input), any number of handles on it, and a count of open handles.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugin/contract.h"

namespace fuzzfiles {

// Makes `data` the file every open returns (the bytes must outlive the run).
void Reset(const uint8_t* data, size_t size);
const HostFileTable* Table();
// Opens the file as the host does before OVDLinit_image; 0 on failure.
uint32_t Open();
int OpenHandles();

// The file designation handed to readers.
inline constexpr const char* kFileName = "fuzz-input";

}  // namespace fuzzfiles
