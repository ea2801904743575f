#include "framework/MessageMap.h"

namespace fw {

const MessageMapEntry* FindEntry(const MessageMap* map, UINT message, WPARAM wParam, LPARAM lParam) {
    for (; map; map = map->base ? map->base() : nullptr) {
        for (const MessageMapEntry* e = map->entries; e->message != 0; ++e) {
            if (e->message != message) continue;
            if (message == WM_COMMAND) {
                if (e->id == LOWORD(wParam) && e->code == HIWORD(wParam)) return e;
            } else if (message == WM_NOTIFY) {
                const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
                if (header && e->id == header->idFrom && e->code == header->code) return e;
            } else {
                return e;
            }
        }
    }
    return nullptr;
}

}  // namespace fw

const ::fw::MessageMap* CCmdTarget::GetThisMessageMap() {
    static const ::fw::MessageMapEntry entries[] = {{0, 0, 0, nullptr}};
    static const ::fw::MessageMap map = {nullptr, entries};
    return &map;
}

bool CCmdTarget::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    const ::fw::MessageMapEntry* entry = ::fw::FindEntry(GetMessageMap(), message, wParam, lParam);
    if (!entry) return false;
    LRESULT r = entry->thunk(this, message, wParam, lParam);
    if (result) *result = r;
    return true;
}

bool CCmdTarget::HandlesCommand(UINT id) const {
    return ::fw::FindEntry(GetMessageMap(), WM_COMMAND, MAKEWPARAM(id, 0), 0) != nullptr;
}
