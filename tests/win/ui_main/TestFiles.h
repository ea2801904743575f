// Folders and files made for a test, removed afterwards.
#pragma once

#include "framework/String.h"

#include <windows.h>

#include <vector>

class TestFolder {
public:
    // A new empty folder under the temporary folder; `tag` makes its name readable.
    explicit TestFolder(const char* tag);
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    // Creates name inside the folder with `size` bytes (sparse past the first bytes); returns its path.
    CString AddFile(const char* name, ULONGLONG size);
    const CString& Path() const { return m_path; }

private:
    CString m_path;
    std::vector<CString> m_files;
};

// A list-view control of the main window's kind (report, sorted), in a hidden window of its own.
class ScratchList {
public:
    ScratchList();
    ~ScratchList();
    ScratchList(const ScratchList&) = delete;
    ScratchList& operator=(const ScratchList&) = delete;
    HWND Handle() const { return m_list; }

private:
    HWND m_list = nullptr;
};

// Width of text in the list's font, as a column-fitting rule would measure it.
int TextWidthInList(HWND list, const char* text);
