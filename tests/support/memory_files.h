// An in-memory HostFileTable for driving plug-ins through their exports,
// with fault injection (failing opens, failing or short reads, a full disk).
//
// The file designation / FileReference handed to the plug-ins is the file's
// name as a NUL-terminated text (pass name.c_str() of a string that outlives
// the image). One file system per process; tests call reset() first.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "plugin/contract.h"

namespace testsupport {

class MemoryFiles {
 public:
  static MemoryFiles& instance();

  void reset();
  void put(const std::string& name, std::vector<uint8_t> bytes);
  bool exists(const std::string& name) const;
  // The file's bytes; empty if the file does not exist.
  std::vector<uint8_t> bytes(const std::string& name) const;

  // The table to hand to plug-ins.
  static const HostFileTable* table();

  // Opens a file directly (as the host does before OVDLinit_image); 0 on failure.
  uint32_t openForRead(const std::string& name);

  // Faults.
  bool failOpen = false;
  int64_t readFailsAfterBytes = -1;  // reads return −1 once this many bytes were read in total
  int64_t readsAtMost = -1;          // a read returns at most this many bytes (short reads)
  int64_t diskCapacity = -1;         // a file never grows past this many bytes; writes come up short

  // Bookkeeping.
  int openHandles() const { return static_cast<int>(open_.size()); }
  int opens = 0;
  int closes = 0;

 private:
  struct OpenFile {
    std::string name;
    int64_t position = 0;
  };
  friend struct MemoryFilesCallbacks;
  std::map<std::string, std::vector<uint8_t>> files_;
  std::map<uint32_t, OpenFile> open_;
  uint32_t nextHandle_ = 100;
  int64_t bytesRead_ = 0;
};

}  // namespace testsupport
