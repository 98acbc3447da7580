// The one compile-time switch between the two programs built from this tree.
// ZELVARO_POCKET is 1 for zelvaro-pocket (handheld: full screen, 5-6-5 pixels,
// hardware keys, FFTW) and 0 for zelvaro-desk (a window on the desktop). Each
// module picks its per-build constants from kPocket beside the code using them.
#pragma once

#ifndef ZELVARO_POCKET
#error "ZELVARO_POCKET must be defined to 0 (desk) or 1 (pocket) by the build"
#endif

inline constexpr bool kPocket = ZELVARO_POCKET != 0;
