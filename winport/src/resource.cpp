// Resources of a module, looked up in its descriptor by type and id.
#include "winport/resource.h"

#include <cstring>

#include "module_table.h"

const WinportResource* winport_find_resource(HMODULE module, WORD type, WORD id) {
  const WinportModuleInfo* info = nullptr;
  if (!winport::moduleDescriptor(module, &info)) return nullptr;
  if (info != nullptr) {
    for (DWORD i = 0; i < info->resourceCount; ++i) {
      const WinportResource& resource = info->resources[i];
      if (resource.type == type && resource.id == id) return &resource;
    }
  }
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return nullptr;
}

int LoadStringA(HINSTANCE module, UINT id, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  buffer[0] = '\0';
  if (id > 0xFFFFu) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  const WinportResource* resource = winport_find_resource(module, RT_STRING, static_cast<WORD>(id));
  if (resource == nullptr || resource->data == nullptr) return 0;
  // The recorded length, but never past a terminator inside it.
  size_t length = strnlen(static_cast<const char*>(resource->data), resource->size);
  size_t copied = length < static_cast<size_t>(size - 1) ? length : static_cast<size_t>(size - 1);
  std::memcpy(buffer, resource->data, copied);
  buffer[copied] = '\0';
  return static_cast<int>(copied);
}
