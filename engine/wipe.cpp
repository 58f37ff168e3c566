// Overwrites key material so that the compiler cannot drop the stores as dead.
#include "engine/wipe.h"

#include <string.h>

namespace engine {

void WipeBytes(void* bytes, size_t count) {
  explicit_bzero(bytes, count);
}

}  // namespace engine
