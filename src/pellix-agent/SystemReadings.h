#pragma once

#include "Report.h"

namespace pellix {

// The load averages and the number of online CPUs.
LoadReading readLoad();

// The used and available space of the file system mounted at `mount` (statvfs).
DiskReading readDisk(const QString &mount);

// MemTotal and MemAvailable from the text of /proc/meminfo.
MemoryReading parseMemInfo(const QByteArray &text);

// parseMemInfo() of /proc/meminfo.
MemoryReading readMemory();

} // namespace pellix
