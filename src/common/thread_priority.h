#pragma once

namespace common {

// Raises the calling thread to the highest priority the platform grants this
// program. Returns false when nothing above normal could be had.
bool raiseCurrentThreadPriority();

}  // namespace common
