#include "ScriptedDesktopWindows.h"

void ScriptedDesktopWindows::EnumWindows(const std::function<bool(TWindowHandle)>& visit) {
    // Handles first: a visitor may change the script, as windows come and go meanwhile.
    std::vector<TWindowHandle> handles;
    handles.reserve(Windows.size());
    for (const TWindow& w : Windows)
        handles.push_back(w.Handle);
    for (TWindowHandle h : handles)
        if (!visit(h))
            return;
}

std::wstring ScriptedDesktopWindows::WindowText(TWindowHandle window, std::size_t bufferChars) {
    const TWindow* w = Find(window);
    if (!w || bufferChars == 0)
        return {};
    return w->Title.substr(0, bufferChars - 1);
}

bool ScriptedDesktopWindows::IsWindowVisible(TWindowHandle window) {
    const TWindow* w = Find(window);
    return w && w->Visible;
}

TWindowHandle ScriptedDesktopWindows::FindWindowByTitle(const std::wstring& title) {
    for (const TWindow& w : Windows)
        if (w.Title == title)
            return w.Handle;
    return 0;
}

void ScriptedDesktopWindows::SendKeyDown(TWindowHandle window, unsigned virtualKey) {
    KeyDowns.push_back({window, virtualKey});
    if (OnKeyDown)
        OnKeyDown(KeyDowns.back());
}

const ScriptedDesktopWindows::TWindow* ScriptedDesktopWindows::Find(TWindowHandle window) const {
    for (const TWindow& w : Windows)
        if (w.Handle == window)
            return &w;
    return nullptr;
}
