#include "ui/batch/FitPathToLabel.h"

#include "ui/batch/PathFitting.h"

void FitPathToLabel(CWnd* label, const CString& path) {
    ScopedWindowDC dc(label->GetSafeHwnd());
    if (!dc) {
        // Without a device context nothing can be measured; the label clips the whole path.
        label->SetWindowText(path);
        return;
    }
    ScopedSelect font(dc, reinterpret_cast<HGDIOBJ>(label->SendMessage(WM_GETFONT)));
    RECT client{};
    label->GetClientRect(&client);

    const MeasureText measure = [&dc](const std::string& text) {
        SIZE size{};
        ::GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
        return static_cast<int>(size.cx);
    };
    label->SetWindowText(FitPathText(path.str(), client.right, measure).c_str());
}
