// Folders and files made for a test, removed afterwards.
#pragma once

#include "TempFolder.h"

#include <windows.h>

#include <string>

class TestFolder : public TempFolder {
public:
    using TempFolder::TempFolder;

    // Creates name inside the folder with `size` bytes (sparse past "TiVo"); returns its path.
    std::string AddFile(const std::string& name, ULONGLONG size) const {
        HANDLE file = ::CreateFileA(Path(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        ::WriteFile(file, "TiVo", size < 4 ? static_cast<DWORD>(size) : 4, &written, nullptr);
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(size);
        ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
        ::SetEndOfFile(file);
        ::CloseHandle(file);
        return Path(name);
    }
};
