#include "ScriptedDesktopWindows.h"

#include <algorithm>
#include <thread>

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

TKeyDownResult ScriptedDesktopWindows::SendKeyDown(TWindowHandle window, unsigned virtualKey,
                                                   std::chrono::milliseconds /*limit*/,
                                                   std::function<void()> answeredLate) {
    const TWindow* w = Find(window);
    if (!w)
        return {TKeyDownOutcome::Failed, 1400};  // ERROR_INVALID_WINDOW_HANDLE
    if (w->SendError == KeyDownRefused)
        return {TKeyDownOutcome::Refused, w->SendError};
    if (w->SendError != 0)
        return {TKeyDownOutcome::Failed, w->SendError};
    KeyDowns.push_back({window, virtualKey});
    if (w->Hung) {
        FLate.push_back(std::move(answeredLate));
        return {TKeyDownOutcome::NotAnswered, 1460};  // ERROR_TIMEOUT
    }
    if (OnKeyDown)
        OnKeyDown(KeyDowns.back());
    return {};
}

const ScriptedDesktopWindows::TWindow* ScriptedDesktopWindows::Find(TWindowHandle window) const {
    for (const TWindow& w : Windows)
        if (w.Handle == window)
            return &w;
    return nullptr;
}

void ScriptedDesktopWindows::AwaitAnswers(std::chrono::milliseconds max) {
    std::this_thread::sleep_for(std::min(max, std::chrono::milliseconds(1)));
}

void ScriptedDesktopWindows::AnswerLate() {
    std::vector<std::function<void()>> late;
    late.swap(FLate);
    for (auto& answered : late)
        if (answered) answered();
}
