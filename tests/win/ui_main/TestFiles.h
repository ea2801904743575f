// Folders and files made for a test, removed afterwards.
#pragma once

#include "TempFolder.h"
#include "framework/String.h"

#include <windows.h>

// A TempFolder that speaks CString, as the program's code does.
class TestFolder {
public:
    explicit TestFolder(const char* tag) : m_folder(tag), m_path(m_folder.Path().c_str()) {}

    // Creates name inside the folder with `size` bytes (sparse past the first bytes); returns its path.
    CString AddFile(const char* name, ULONGLONG size);
    const CString& Path() const { return m_path; }

private:
    TempFolder m_folder;
    CString m_path;
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
