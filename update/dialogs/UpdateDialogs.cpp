#include "UpdateDialogs.h"

#include <algorithm>
#include <cwctype>

#include "IniFile.h"
#include "TextUtils.h"

TDocumentKind ClassifyDocument(const std::wstring& text) {
    const std::wstring upper = AsciiUpper(text);
    if (upper.rfind(L"{\\RTF", 0) == 0) return TDocumentKind::Rtf;
    if (upper.find(L"</") != std::wstring::npos) return TDocumentKind::Html;
    return TDocumentKind::PlainText;
}

std::wstring DocumentText(const std::vector<std::uint8_t>& bytes) {
    return DecodeTextBytes(bytes.data(), bytes.size());
}

namespace {

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\f'; }

// The tag's name in upper case, without "/" and attributes.
std::wstring TagName(const std::wstring& tag) {
    std::size_t i = 0;
    while (i < tag.size() && (tag[i] == L'/' || IsSpace(tag[i]))) ++i;
    std::size_t end = i;
    while (end < tag.size() && !IsSpace(tag[end]) && tag[end] != L'/' && tag[end] != L'>') ++end;
    return AsciiUpper(tag.substr(i, end - i));
}

wchar_t EntityChar(const std::wstring& name, bool& known) {
    known = true;
    const std::wstring n = name;
    if (n == L"amp") return L'&';
    if (n == L"lt") return L'<';
    if (n == L"gt") return L'>';
    if (n == L"quot") return L'"';
    if (n == L"apos") return L'\'';
    if (n == L"nbsp") return 0xA0;
    if (n == L"eacute") return 0xE9;
    if (n == L"egrave") return 0xE8;
    if (n == L"agrave") return 0xE0;
    if (n == L"ccedil") return 0xE7;
    if (n == L"copy") return 0xA9;
    if (!n.empty() && n[0] == L'#') {
        unsigned long value = 0;
        bool hex = n.size() > 1 && (n[1] == L'x' || n[1] == L'X');
        std::size_t i = hex ? 2 : 1;
        if (i >= n.size()) {
            known = false;
            return 0;
        }
        for (; i < n.size(); ++i) {
            const wchar_t c = n[i];
            int digit;
            if (c >= L'0' && c <= L'9')
                digit = c - L'0';
            else if (hex && c >= L'a' && c <= L'f')
                digit = c - L'a' + 10;
            else if (hex && c >= L'A' && c <= L'F')
                digit = c - L'A' + 10;
            else {
                known = false;
                return 0;
            }
            value = value * (hex ? 16 : 10) + static_cast<unsigned long>(digit);
            if (value > 0xFFFF) {
                known = false;
                return 0;
            }
        }
        if (value == 0) {
            known = false;
            return 0;
        }
        return static_cast<wchar_t>(value);
    }
    known = false;
    return 0;
}

}  // namespace

std::wstring HtmlToText(const std::wstring& html) {
    std::wstring out;
    out.reserve(html.size());
    bool pendingSpace = false;
    std::wstring skipUntil;  // inside <script> or <style>: the closing tag's name
    auto newLine = [&](int count) {
        pendingSpace = false;
        while (!out.empty() && out.back() == L' ') out.pop_back();
        if (out.empty()) return;
        // Only the last `count` line ends matter: counting every one would make a long run
        // of breaks cost the square of its length.
        int have = 0;
        for (std::size_t i = out.size(); have < count && i >= 2 && out[i - 1] == L'\n' && out[i - 2] == L'\r'; i -= 2)
            ++have;
        for (; have < count; ++have) out += L"\r\n";
    };
    auto put = [&](wchar_t c) {
        if (pendingSpace && !out.empty() && out.back() != L'\n') out.push_back(L' ');
        pendingSpace = false;
        out.push_back(c);
    };

    std::size_t i = 0;
    while (i < html.size()) {
        const wchar_t c = html[i];
        if (c == L'<') {
            const std::size_t close = html.find(L'>', i + 1);
            if (close == std::wstring::npos) break;  // a cut tag shows nothing more
            const std::wstring tag = html.substr(i + 1, close - i - 1);
            i = close + 1;
            if (tag.rfind(L"!--", 0) == 0) {
                const std::size_t end = html.find(L"-->", close - tag.size() + 3);
                i = end == std::wstring::npos ? html.size() : end + 3;
                continue;
            }
            const std::wstring name = TagName(tag);
            const bool closing = !tag.empty() && tag[0] == L'/';
            if (!skipUntil.empty()) {
                if (closing && name == skipUntil) skipUntil.clear();
                continue;
            }
            if (!closing && (name == L"SCRIPT" || name == L"STYLE" || name == L"HEAD" || name == L"TITLE")) {
                skipUntil = name;
                continue;
            }
            if (name == L"BR") {
                // A forced break starts a new line even right after another one.
                pendingSpace = false;
                while (!out.empty() && out.back() == L' ') out.pop_back();
                out += L"\r\n";
            } else if (name == L"P" || name == L"DIV" || name == L"H1" || name == L"H2" || name == L"H3" ||
                       name == L"H4" || name == L"H5" || name == L"H6" || name == L"UL" || name == L"OL" ||
                       name == L"TABLE" || name == L"PRE" || name == L"BLOCKQUOTE" || name == L"HR") {
                newLine(2);
            } else if (name == L"LI") {
                newLine(1);
                if (!closing) {
                    out += L"\x2022 ";
                }
            } else if (name == L"TR") {
                newLine(1);
            } else if (name == L"TD" || name == L"TH") {
                pendingSpace = true;
            }
            continue;
        }
        if (!skipUntil.empty()) {
            ++i;
            continue;
        }
        if (c == L'&') {
            // An entity is at most ten characters long: the ";" is looked for that far only,
            // never to the end of the text.
            const std::size_t end = std::min<std::size_t>(html.size(), i + 11);
            std::size_t semi = std::wstring::npos;
            for (std::size_t j = i + 1; j < end; ++j)
                if (html[j] == L';') {
                    semi = j;
                    break;
                }
            if (semi != std::wstring::npos) {
                bool known = false;
                const wchar_t decoded = EntityChar(html.substr(i + 1, semi - i - 1), known);
                if (known) {
                    put(decoded);
                    i = semi + 1;
                    continue;
                }
            }
            put(c);
            ++i;
            continue;
        }
        if (IsSpace(c)) {
            pendingSpace = true;
            ++i;
            continue;
        }
        put(c);
        ++i;
    }
    while (!out.empty() && (out.back() == L'\n' || out.back() == L'\r' || out.back() == L' ')) out.pop_back();
    return out;
}

// --- Scripted stand-in ------------------------------------------------------------------

std::vector<TScriptedUpdateDialogs::TEvent> TScriptedUpdateDialogs::Of(TKind kind) const {
    std::vector<TEvent> result;
    for (const TEvent& event : Events)
        if (event.Kind == kind) result.push_back(event);
    return result;
}

void TScriptedUpdateDialogs::Record(TKind kind, const std::wstring& text, const std::wstring& parameters) {
    Events.push_back({kind, text, parameters});
    if (OnEvent) OnEvent(Events.back());
}

bool TScriptedUpdateDialogs::Answer() {
    if (Answers.empty()) return DefaultAnswer;
    const bool answer = Answers.front();
    Answers.pop_front();
    return answer;
}

void TScriptedUpdateDialogs::ShowMessage(const std::wstring& text) { Record(TKind::Message, text); }

bool TScriptedUpdateDialogs::AskYesNo(const std::wstring& text) {
    Record(TKind::Question, text);
    return Answer();
}

bool TScriptedUpdateDialogs::Confirm(const std::wstring& text) {
    Record(TKind::Confirmation, text);
    return Answer();
}

bool TScriptedUpdateDialogs::WhatsNewDialog(const TWhatsNewDialogData& data) {
    Record(TKind::WhatsNew, data.Caption, data.Text);
    return Answer();
}

bool TScriptedUpdateDialogs::EULADialog(const TEULADialogData& data) {
    Record(TKind::EULA, data.Caption, data.Text);
    return Answer();
}

void TScriptedUpdateDialogs::ShowHTMLDialog(const std::wstring& url) { Record(TKind::HTMLDialog, url); }

bool TScriptedUpdateDialogs::ShellOpen(const std::wstring& file, const std::wstring& parameters) {
    Record(TKind::ShellOpen, file, parameters);
    return ShellOpenResult;
}
