// Windows named file mappings through kernel32: exactly OpenFileMappingA, MapViewOfFile and
// CloseHandle. The view is never unmapped; it ends with the process.
#include <windows.h>

#include "platform/named_block.h"

bool openNamedBlock(const char* name, NamedBlockHandle* handle) {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
  if (mapping == nullptr) return false;
  handle->value = reinterpret_cast<std::intptr_t>(mapping);
  return true;
}

const volatile std::uint8_t* mapNamedBlock(NamedBlockHandle handle, std::size_t size) {
  // Fails by itself when the object is smaller than `size`.
  void* view = MapViewOfFile(reinterpret_cast<HANDLE>(handle.value), FILE_MAP_READ, 0, 0, size);
  return static_cast<const volatile std::uint8_t*>(view);
}

void closeNamedBlock(NamedBlockHandle handle) {
  CloseHandle(reinterpret_cast<HANDLE>(handle.value));
}

// A write to a closed pipe fails with an error on Windows; nothing can kill the process.
void prepareStandardStreams() {}
