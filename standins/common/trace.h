// The trace the stand-ins keep of every call made to them: one text line per
// call, appended to a file that tests read back.
#pragma once

#include <string>

namespace standins {

// Appends `line` and a newline to the file at `path`; nothing when `path` is
// empty. The file is opened for each line, so that lines from several
// processes and from a process that ends abruptly all reach it.
void appendTraceLine(const std::string& path, const std::string& line);

// The value of the environment variable `name`, or "" when unset.
std::string environmentText(const char* name);

}  // namespace standins
