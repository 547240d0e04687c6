// Prints the short form of a path as the system gives it (GetShortPathNameA);
// the registry import of the tests puts it into "System Directory".
#include <cstdio>

#include "winport/windows.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  char buffer[MAX_PATH] = {};
  const DWORD length = GetShortPathNameA(argv[1], buffer, sizeof(buffer));
  if (length == 0 || length >= sizeof(buffer)) return 1;
  std::printf("%s\n", buffer);
  return 0;
}
