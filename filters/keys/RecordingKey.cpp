#include "RecordingKey.h"

#include "KeyDialog.h"
#include "KeyStore.h"
#include "media/TivoMetadata.h"

namespace korvane::filters {
namespace {

bool Fits(media::ByteSource& source, const media::TivoFile& tivo, const std::string& digits,
          media::TivoKeys* keys) {
    media::TivoKeys derived;
    if (!media::DeriveTivoKeys(digits, tivo, &derived)) return false;
    if (media::CheckKey(source, tivo, derived).fit != media::KeyFit::Fits) return false;
    *keys = derived;
    return true;
}

std::wstring BaseName(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

struct OwnerSearch {
    HWND enabled = nullptr;  // the topmost shown and enabled window
    HWND shown = nullptr;    // the topmost shown one, enabled or not
};

BOOL CALLBACK CollectOwnerCandidate(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<OwnerSearch*>(context);
    if (!IsWindowVisible(window) || (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW)) return TRUE;
    if (!search->shown) search->shown = window;
    if (IsWindowEnabled(window)) {
        search->enabled = window;
        return FALSE;
    }
    return TRUE;
}

// The window to ask over: the calling thread's shown, enabled top-level window, topmost first
// (while the program converts, its progress window). Failing that, a shown one that is
// disabled: the program loads its first file while the progress window is still being made,
// under the main window it has already disabled. The active window is not enough: it is null
// whenever another program is in front, which is exactly when someone has started a batch
// and gone to read their mail. A thread without a shown window (a player's streaming thread,
// a service) has nobody to ask.
HWND FindOwnerWindow() {
    OwnerSearch search;
    EnumThreadWindows(GetCurrentThreadId(), CollectOwnerCandidate, reinterpret_cast<LPARAM>(&search));
    return search.enabled ? search.enabled : search.shown;
}

bool ProgramIsInFront() {
    DWORD process = 0;
    HWND foreground = GetForegroundWindow();
    return foreground && GetWindowThreadProcessId(foreground, &process) && process == GetCurrentProcessId();
}

// Makes the question visible: the owner restored if it was minimised (a minimised owner hides
// the dialog with it), and, when another program is in front, the taskbar button flashing
// until the user comes back. Windows does not let a background program take the foreground.
void CallAttention(HWND owner) {
    HWND root = GetAncestor(owner, GA_ROOTOWNER);
    if (!root) root = owner;
    if (IsIconic(root)) ShowWindow(root, SW_SHOWNOACTIVATE);
    if (ProgramIsInFront()) return;
    FLASHWINFO flash{};
    flash.cbSize = sizeof flash;
    flash.hwnd = root;
    flash.dwFlags = FLASHW_ALL | FLASHW_TIMERNOFG;
    FlashWindowEx(&flash);
}

bool FindKeys(media::ByteSource& source, const media::TivoFile& tivo, const std::wstring& fileName,
              media::TivoKeys* keys) {
    for (const std::string& digits : StoredKeys())
        if (Fits(source, tivo, digits, keys)) return true;
    HWND owner = FindOwnerWindow();
    if (!owner) return false;
    CallAttention(owner);
    std::string accepted;
    auto fits = [&](const std::string& digits) { return Fits(source, tivo, digits, keys); };
    return AskForMediaAccessKey(owner, BaseName(fileName), fits, &accepted);
}

}  // namespace

bool FindRecordingKeys(media::ByteSource& source, const media::TivoFile& tivo, const std::wstring& fileName,
                       media::TivoKeys* keys) {
    try {
        return FindKeys(source, tivo, fileName, keys);
    } catch (...) {
        return false;  // out of memory: the file stays encrypted, as without a key
    }
}

}  // namespace korvane::filters
