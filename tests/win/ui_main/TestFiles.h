// Folders and files made for a test, removed afterwards.
#pragma once

#include "TempFolder.h"
#include "framework/String.h"

#include <windows.h>

// A TempFolder that speaks CString, as the program's code does.
class TestFolder {
public:
    explicit TestFolder(const char* tag) : m_folder(tag), m_path(m_folder.Path().c_str()) {}

    // Creates name inside the folder with `size` bytes (sparse past "TiVo"); returns its path.
    CString AddFile(const char* name, ULONGLONG size) {
        CString path = m_path + "\\" + name;
        HANDLE file =
            ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        ::WriteFile(file, "TiVo", size < 4 ? static_cast<DWORD>(size) : 4, &written, nullptr);
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(size);
        ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
        ::SetEndOfFile(file);
        ::CloseHandle(file);
        return path;
    }
    const CString& Path() const { return m_path; }

private:
    TempFolder m_folder;
    CString m_path;
};
