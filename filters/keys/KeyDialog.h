// The Media Access Key dialog (template IDD_MEDIA_ACCESS_KEY in the DLL's own resources).
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace korvane::filters {

// Whether a key (10 ASCII digits) opens the recording being loaded.
using KeyFits = std::function<bool(const std::string& digits)>;

// Asks over owner for the key of fileName until a typed key fits or the user cancels. A key
// that fits is stored when "Remember this key" (checked at first) is left checked. False on
// Cancel or when the dialog cannot be shown.
bool AskForMediaAccessKey(HWND owner, const std::wstring& fileName, const KeyFits& fits, std::string* digits);

// The same dialog for adding and forgetting stored keys, until it is closed.
void ManageMediaAccessKeys(HWND owner);

}  // namespace korvane::filters
