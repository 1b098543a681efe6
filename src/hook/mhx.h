#pragma once

// libmhx: reports every pointer move on the X11 desktop to one window of the program.
// Each move writes the pointer's screen position at offsets 4 and 8 of the shared block the
// program names (see mouseblock.h) and sends a ClientMessage of type "WM_QVNOTIFY" to the
// window. The first four bytes of the block are a flag: the library sets it with each notification
// and sends no other until the program has read the point and cleared it, so a fast mouse cannot
// flood the program. A flag left standing longer than a moment (a notification lost on the way)
// no longer holds the reports back: the next move overwrites the point and notifies again.

#ifdef __cplusplus
extern "C" {
#endif

/// Starts watching the pointer for the X window `window`, writing each point into the block file
/// at `blockPath` (made by the program, which must be this user's alone). Clears the block's
/// flag. Nonzero on success. Installing again replaces the earlier watch.
__attribute__((visibility("default"))) int InstallHook(unsigned long window, const char* blockPath);

/// Stops watching; harmless when nothing is installed. No notification follows its return.
__attribute__((visibility("default"))) void RemoveHook(void);

#ifdef __cplusplus
}
#endif
