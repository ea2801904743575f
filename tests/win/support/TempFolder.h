// A fresh folder under the temporary folder, removed with everything in it at the end: the
// one scratch place of the tests under Wine.
#pragma once

#include <windows.h>

#include <string>

class TempFolder {
public:
    // `tag` makes the name readable; the process id and a counter make it unique.
    explicit TempFolder(const std::string& tag = "test") {
        char temp[MAX_PATH] = "";
        ::GetTempPathA(MAX_PATH, temp);
        static long counter = 0;
        m_path = std::string(temp) + "korvane-" + tag + "-" + std::to_string(::GetCurrentProcessId()) + "-" +
                 std::to_string(++counter);
        RemoveTree(m_path);  // left over by a run that crashed
        ::CreateDirectoryA(m_path.c_str(), nullptr);
    }
    ~TempFolder() { RemoveTree(m_path); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return m_path; }
    std::string Path(const std::string& name) const { return m_path + "\\" + name; }

    static void RemoveTree(const std::string& path) {
        WIN32_FIND_DATAA found;
        HANDLE search = ::FindFirstFileA((path + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = found.cFileName;
                if (name == "." || name == "..") continue;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveTree(path + "\\" + name);
                else
                    ::DeleteFileA((path + "\\" + name).c_str());
            } while (::FindNextFileA(search, &found));
            ::FindClose(search);
        }
        ::RemoveDirectoryA(path.c_str());
    }

private:
    std::string m_path;
};
