// A fresh folder under the temporary folder, removed with everything in it at the end: the
// one scratch place of the tests under Wine.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

class TempFolder {
public:
    // `tag` makes the name readable; the process id and a counter make it unique.
    explicit TempFolder(const std::string& tag = "test") {
        static long counter = 0;
        std::error_code ignored;
        m_path = (std::filesystem::temp_directory_path(ignored) / ("korvane-" + tag + "-")).string() +
                 std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);
        RemoveTree(m_path);  // left over by a run that crashed
        ::CreateDirectoryA(m_path.c_str(), nullptr);
    }
    ~TempFolder() { RemoveTree(m_path); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return m_path; }
    std::string Path(const std::string& name) const { return m_path + "\\" + name; }

    // Whatever names the files inside have: the removal goes by the system's wide names.
    static void RemoveTree(const std::string& path) {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }

private:
    std::string m_path;
};
