// Overwrites key material so that the compiler cannot drop the stores as dead.
#include "engine/wipe.h"

#ifdef _WIN32
#include <windows.h>  // SecureZeroMemory: MinGW's C library has no explicit_bzero
#else
#include <string.h>
#endif

namespace engine {

void WipeBytes(void* bytes, size_t count) {
#ifdef _WIN32
  SecureZeroMemory(bytes, count);
#else
  explicit_bzero(bytes, count);
#endif
}

}  // namespace engine
