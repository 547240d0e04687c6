// Path helpers: the running program's location, canonical paths, and file
// names that match without regard to case.
#pragma once

#include <string>

namespace winport {

// Canonical absolute path of the running program ("" if it cannot be read).
std::string programPath();
// Folder of the running program, without a trailing '/'.
std::string programDirectory();
// realpath(); "" when the path does not exist (errno tells why).
std::string canonicalPath(const std::string& path);
// Folder part of a path ("/" for a file in the root, "." for a bare name).
std::string directoryOf(const std::string& path);
// Last component of a path.
std::string baseNameOf(const std::string& path);
// `folder` + "/" + `name`, without doubling a '/'.
std::string joinPath(const std::string& folder, const std::string& name);
// An absolute spelling of `path` (joined to the current folder when relative;
// "." and ".." are not resolved).
std::string absolutePath(const std::string& path);

// The regular file in `folder` whose name equals `name` without regard to
// ASCII case: the exact spelling when it exists, else the first matching name
// in byte order (so the choice never depends on directory order). "" if none.
std::string findFileIgnoringCase(const std::string& folder, const std::string& name);

// ASCII case-insensitive equality.
bool equalsIgnoringCase(const std::string& a, const std::string& b);

}  // namespace winport
