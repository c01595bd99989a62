#pragma once

#include "Report.h"

#include <QByteArray>

#include <vector>

namespace pellix {

// The load averages and the number of online CPUs.
LoadReading readLoad();

// The used and available space of the file system mounted at `mount` (statvfs); an error
// when `mount` is not a mount point, so that an unmounted disk does not pass for the
// file system underneath. May block as long as the file system does.
DiskReading readDisk(const QString &mount);

// The mount points named in the text of /proc/self/mountinfo, with their octal escapes
// ("\040" for a blank) undone.
std::vector<QByteArray> parseMountInfo(const QByteArray &text);

// MemTotal and MemAvailable from the text of /proc/meminfo.
MemoryReading parseMemInfo(const QByteArray &text);

// parseMemInfo() of /proc/meminfo.
MemoryReading readMemory();

} // namespace pellix
