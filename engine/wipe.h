// Overwrites key material so that the compiler cannot drop the stores as dead.
#pragma once

#include <stddef.h>

namespace engine {

void WipeBytes(void* bytes, size_t count);

}  // namespace engine
