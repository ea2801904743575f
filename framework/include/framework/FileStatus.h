// File status by path, from the find-first-file information (no file is opened).
#pragma once

#include <windows.h>

struct CFileStatus {
    ULONGLONG m_size = 0;  // bytes, 64-bit
    DWORD m_attribute = 0;
    FILETIME m_mtime{};
};

// FALSE when the path names nothing (or contains wildcards).
BOOL GetFileStatus(const char* path, CFileStatus& status);
