#pragma once
// Commands shared by menus and keys: caption, image, shortcut, an execute
// handler and an update handler that enables or disables them.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "win/ui/UniqueResource.h"

namespace corvane::win {

// A shortcut with Ctrl held: kCtrlKey | 'S'.
inline constexpr UINT kCtrlKey = 0x10000;

struct Action {
    UINT Id = 0;
    std::wstring Caption;
    int ImageIndex = -1;
    UINT ShortcutKey = 0;  // virtual-key code, with kCtrlKey for Ctrl; 0 for none
    std::function<void()> Execute;
    std::function<void(Action&)> Update;  // empty: always enabled
    bool Enabled = true;
};

class ActionList {
public:
    Action& Add(Action action);
    Action* Find(UINT id);
    // Runs every update handler and mirrors the result onto the menus.
    void UpdateAll(const std::vector<HMENU>& menus);
    // Runs the action's execute handler when it is enabled; false when the
    // id is not an action.
    bool Dispatch(UINT id);
    // Accelerator table of the actions' shortcuts; a key two actions share
    // goes to the first of them.
    UniqueAccel CreateAccelerators() const;
    // Menu text: caption, and the shortcut's name after a tab.
    std::wstring MenuText(const Action& action) const;

private:
    std::vector<Action> actions_;
};

}  // namespace corvane::win
