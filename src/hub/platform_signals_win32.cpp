// Signals on Windows: a failed write to a closed pipe is only an error there, never the end of
// the process.
#include "platform.h"

void platform_ignore_broken_pipe() {}
