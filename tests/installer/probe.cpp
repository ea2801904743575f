// Reads what the installer left behind through the same Windows calls Explorer uses, one
// command per run:
//   installer_probe version FILE     prints the fixed file version and the version strings,
//                                     one "Name=value" a line
//   installer_probe shortcut LINK    prints the target path of a .lnk shortcut
// Exit code 0 on success, 1 when the file or its record cannot be read, 2 on bad usage.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "framework/ComPtr.h"

namespace {

int PrintVersion(const wchar_t* file) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file, &ignored);
    if (size == 0) {
        std::fprintf(stderr, "installer_probe: no version record in %ls (error %lu)\n", file, ::GetLastError());
        return 1;
    }
    std::vector<BYTE> record(size);
    if (!::GetFileVersionInfoW(file, 0, size, record.data())) return 1;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed) return 1;
    std::printf("Version=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    const wchar_t* names[] = {L"CompanyName", L"FileDescription", L"OriginalFilename", L"ProductName",
                              L"FileVersion", L"ProductVersion"};
    for (const wchar_t* name : names) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
        wchar_t* value = nullptr;
        if (::VerQueryValueW(record.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) && value)
            std::printf("%ls=%ls\n", name, value);
    }
    return 0;
}

// COM stays initialised for the whole (one-command) process.
int PrintShortcutTarget(const wchar_t* link) {
    if (FAILED(::CoInitialize(nullptr))) return 1;
    ComPtr<IShellLinkW> shellLink;
    ComPtr<IPersistFile> persist;
    wchar_t target[MAX_PATH] = L"";
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(shellLink.Out()))) ||
        FAILED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(persist.Out()))) ||
        FAILED(persist->Load(link, STGM_READ)) ||
        FAILED(shellLink->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH))) {
        std::fprintf(stderr, "installer_probe: cannot read the shortcut %ls\n", link);
        return 1;
    }
    std::printf("%ls\n", target);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    const std::wstring command = argv[1];
    if (command == L"version") return PrintVersion(argv[2]);
    if (command == L"shortcut") return PrintShortcutTarget(argv[2]);
    return 2;
}
