#include "framework/FileStatus.h"

#include "win32/Scoped.h"

#include <cstring>

BOOL GetFileStatus(const char* path, CFileStatus& status) {
    if (!path || !*path || std::strpbrk(path, "?*")) return FALSE;
    WIN32_FIND_DATAA data;
    if (!ScopedFind(::FindFirstFileA(path, &data))) return FALSE;
    status.m_size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    status.m_attribute = data.dwFileAttributes;
    status.m_mtime = data.ftLastWriteTime;
    return TRUE;
}
