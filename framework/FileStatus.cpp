#include "framework/FileStatus.h"

#include <cstring>

BOOL GetFileStatus(const char* path, CFileStatus& status) {
    if (!path || !*path || std::strpbrk(path, "?*")) return FALSE;
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA(path, &data);
    if (find == INVALID_HANDLE_VALUE) return FALSE;
    ::FindClose(find);
    status.m_size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    status.m_attribute = data.dwFileAttributes;
    status.m_mtime = data.ftLastWriteTime;
    return TRUE;
}
