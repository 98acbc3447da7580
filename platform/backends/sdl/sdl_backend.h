// The real backend, over SDL2 (see sdl_backend.cpp for what it covers).
#pragma once

#include "platform/services/backend.h"

namespace platform {

// The SDL backend object (made on first use, never destroyed). SDL itself
// starts lazily: audio on the first audio call.
Backend& SdlBackend();

}  // namespace platform
