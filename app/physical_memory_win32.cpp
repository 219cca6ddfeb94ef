// Physical memory on Windows: the total that GlobalMemoryStatusEx reports.
#include "app/physical_memory.h"

#include <windows.h>

std::uint64_t physicalMemoryBytes()
{
    MEMORYSTATUSEX status;
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) {
        return 0;
    }
    return status.ullTotalPhys;
}
