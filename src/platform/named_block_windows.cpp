// Windows named file mappings through kernel32: exactly OpenFileMappingA, MapViewOfFile and
// CloseHandle. The view is never unmapped; it ends with the process.
#include <windows.h>

#include "named_block.h"

bool openNamedBlock(const char* name, NamedBlockHandle* handle, OpenFailure* why) {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
  if (mapping == nullptr) {
    if (why != nullptr) {
      const DWORD error = GetLastError();
      *why = error == ERROR_FILE_NOT_FOUND  ? OpenFailure::missing
             : error == ERROR_ACCESS_DENIED ? OpenFailure::notTrusted
                                            : OpenFailure::other;
    }
    return false;
  }
  handle->value = reinterpret_cast<std::intptr_t>(mapping);
  handle->size = -1;  // not known, nor needed: MapViewOfFile checks
  return true;
}

const volatile std::uint8_t* mapNamedBlock(NamedBlockHandle handle, std::size_t size) {
  // Fails by itself when the view would reach past the section. A section backed by a file is
  // as large as the file, but one backed by memory is rounded up to a whole page, so a small
  // memory-backed block maps (as seen under Wine).
  void* view = MapViewOfFile(reinterpret_cast<HANDLE>(handle.value), FILE_MAP_READ, 0, 0, size);
  return static_cast<const volatile std::uint8_t*>(view);
}

void closeNamedBlock(NamedBlockHandle handle) {
  CloseHandle(reinterpret_cast<HANDLE>(handle.value));
}

// Nothing is arranged. Windows documents that a file cannot be shrunk while a view of it is
// mapped, and that a memory-backed section's pages are committed when it is created, unless its
// creator asked for SEC_RESERVE; reading a reserved page that was never committed faults there,
// while under Wine it reads as zeros. A monitor that reserves its block without committing it
// could not write its own readings either; no test here has shown a fault on Windows.
void endProcessOnViewFault(NamedBlockHandle, const char*, int) {}

// Nothing can fault here, for the reasons above.
bool copyNamedBlock(const volatile std::uint8_t* view, std::size_t size, std::uint8_t* copy) {
  for (std::size_t i = 0; i < size; ++i) copy[i] = view[i];
  return true;
}
