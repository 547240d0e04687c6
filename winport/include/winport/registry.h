// The registry, read from a text file in the .reg format ("REGEDIT4" or
// "Windows Registry Editor Version 5.00").
//
// Which file: the one WINPORT_REGISTRY names; else "registry.reg" in the
// running program's own folder; else, when the layer itself lies in an
// installation (<prefix>/lib/ferrox), that installation's file
// (<prefix>/etc/ferrox/registry.reg; <root>/etc/ferrox/registry.reg for a
// prefix <root>/usr, so /etc/ferrox/registry.reg for /usr); else
// /etc/winport/registry.reg. The file is
// read again when it changes. A file that users other than its owner (or root)
// can write is refused, since it names libraries that get loaded. A malformed
// file is reported once on stderr with its path and line.
//
// Key and value names compare without regard to case; subkeys enumerate in
// case-insensitive name order. String values are stored with their terminator:
// RegQueryValueExA reports that size and fails with ERROR_MORE_DATA when the
// buffer is smaller. The registry is read-only here: opening with write access
// is granted (nothing is ever written back).
#pragma once

#include "winport/types.h"

inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr HKEY HKEY_USERS = 0x80000003u;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

WINPORT_API LONG RegOpenKeyExA(HKEY parent, const char* subKey, DWORD options, REGSAM access,
                               HKEY* result);
WINPORT_API LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type,
                                  BYTE* data, DWORD* size);
WINPORT_API LONG RegQueryInfoKeyA(HKEY key, char* className, DWORD* classLength, DWORD* reserved,
                                  DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* maxClassLength,
                                  DWORD* values, DWORD* maxValueNameLength,
                                  DWORD* maxValueLength, DWORD* securityDescriptor,
                                  FILETIME* lastWrite);
WINPORT_API LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameLength,
                               DWORD* reserved, char* className, DWORD* classLength,
                               FILETIME* lastWrite);
WINPORT_API LONG RegCloseKey(HKEY key);

// The registry file the layer reads at this moment, chosen in the order above
// (whether or not it exists). Returns the path's length when it fits in
// `size` bytes with its NUL, else the size needed (buffer untouched).
WINPORT_API DWORD winport_registry_file(char* buffer, DWORD size);
