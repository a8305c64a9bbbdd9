#include "win/ui/ActionList.h"

#include <algorithm>

namespace corvane::win {

Action& ActionList::Add(Action action) {
    actions_.push_back(std::move(action));
    return actions_.back();
}

Action* ActionList::Find(UINT id) {
    for (auto& action : actions_)
        if (action.Id == id) return &action;
    return nullptr;
}

void ActionList::UpdateAll(const std::vector<HMENU>& menus) {
    for (auto& action : actions_) {
        if (action.Update) action.Update(action);
        for (HMENU menu : menus) {
            if (menu)
                EnableMenuItem(menu, action.Id, MF_BYCOMMAND | (action.Enabled ? MF_ENABLED : MF_GRAYED));
        }
    }
}

bool ActionList::Dispatch(UINT id) {
    Action* action = Find(id);
    if (!action) return false;
    if (action->Update) action->Update(*action);
    if (action->Enabled && action->Execute) action->Execute();
    return true;
}

UniqueAccel ActionList::CreateAccelerators() const {
    std::vector<ACCEL> table;
    for (const auto& action : actions_) {
        // A key shared by two actions (Delete: disconnect or close a file,
        // by the list that has the focus) belongs to the first in the
        // table; the window routes it to the other itself.
        const BYTE flags = FVIRTKEY | ((action.ShortcutKey & kCtrlKey) ? FCONTROL : 0);
        const auto key = static_cast<WORD>(action.ShortcutKey & 0xFFFF);
        const bool taken = std::any_of(table.begin(), table.end(),
                                       [&](const ACCEL& a) { return a.key == key && a.fVirt == flags; });
        if (action.ShortcutKey && !taken) table.push_back({flags, key, static_cast<WORD>(action.Id)});
    }
    if (table.empty()) return UniqueAccel();
    return UniqueAccel(CreateAcceleratorTableW(table.data(), static_cast<int>(table.size())));
}

std::wstring ActionList::MenuText(const Action& action) const {
    std::wstring text = action.Caption;
    if (action.ShortcutKey == VK_DELETE) {
        text += L"\tDel";
    } else if (action.ShortcutKey >= VK_F1 && action.ShortcutKey <= VK_F24) {
        text += L"\tF" + std::to_wstring(action.ShortcutKey - VK_F1 + 1);
    } else if ((action.ShortcutKey & kCtrlKey) && (action.ShortcutKey & 0xFFFF) >= 'A' &&
               (action.ShortcutKey & 0xFFFF) <= 'Z') {
        text += L"\tCtrl+";
        text += static_cast<wchar_t>(action.ShortcutKey & 0xFFFF);
    }
    return text;
}

}  // namespace corvane::win
