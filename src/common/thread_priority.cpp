#include "common/thread_priority.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace common {

bool raiseCurrentThreadPriority() {
#ifdef _WIN32
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) != 0;
#else
    // Real-time scheduling needs a privilege most users lack; a lower nice value is the fallback.
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_RR);
    if (pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0) return true;
#ifdef __linux__
    const auto thread = static_cast<id_t>(syscall(SYS_gettid));
    for (int nice = -20; nice < 0; nice += 5) {
        if (setpriority(PRIO_PROCESS, thread, nice) == 0) return true;
    }
#endif
    return false;
#endif
}

}  // namespace common
