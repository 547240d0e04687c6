// What the scanner installations of the tests do differently per platform:
// posix/fixture_platform.cpp (a registry file of the platform layer and a
// shared-section namespace per installation) and win32/fixture_platform.cpp
// (the system's registry; each installation's own copy of the library file
// has a shared section of its own).
#pragma once

#include <string>

namespace scantest::platform {

// A fresh empty folder, with its trailing separator.
std::string MakeFolder();
void RemoveFolder(const std::string& folder);
// A built deliverable, and a module built only for the tests.
std::string BinPath(const std::string& fileName);
std::string TestModulePath(const std::string& fileName);
// `folder` as the library sees its own folder: short form, trailing separator.
std::string ShortFolder(const std::string& folder);

// Makes `folder` (with its trailing separator) the temporary folder the
// library is given from now on; "" gives the usual one back.
void UseTemporaryFolder(const std::string& folder);
// Whether a file this process opened is still open. Where the system deletes
// a file when it is closed, it keeps its name till then (Windows), or else it
// loses it at once (the platform layer: so it goes with its process).
bool HeldOpen(const std::string& path);
extern const bool kOpenSpoolKeepsItsName;

// Around one installation, whose files lie in `folder`.
void BeginInstallation(const std::string& folder);
void EndInstallation();
// Makes the scanner keys of a REGEDIT4 text the ones the library reads,
// replacing those of the previous call.
void ApplyRegistry(const std::string& text);

}  // namespace scantest::platform
