#pragma once

// What /proc tells of a process: memory (VmHWM, VmRSS) and CPU time used.

#include <QtGlobal>

namespace fis::bench {

// The value of a "Key: 123 kB" line of /proc/PID/status (pid 0: this process); -1 when the
// process or the key is not there.
qint64 statusKb(qint64 pid, const char *key);
// The peak resident memory so far (VmHWM), in kB.
inline qint64 peakKb(qint64 pid = 0)
{
    return statusKb(pid, "VmHWM");
}
// The resident memory now (VmRSS), in kB.
inline qint64 residentKb(qint64 pid = 0)
{
    return statusKb(pid, "VmRSS");
}
// The user and system CPU ticks the process has used so far; -1 when it is not there.
qint64 cpuTicks(qint64 pid);

} // namespace fis::bench
