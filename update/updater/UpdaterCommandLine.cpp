#include "UpdaterCommandLine.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The next word from `at`; false at the end of the line or at an unclosed quote.
bool NextWord(const std::wstring& text, std::size_t& at, std::wstring& word, bool& closedQuote) {
    while (at < text.size() && IsBlank(text[at])) ++at;
    if (at >= text.size()) return false;
    word.clear();
    closedQuote = true;
    if (text[at] == L'"') {
        const std::size_t end = text.find(L'"', at + 1);
        if (end == std::wstring::npos) {
            closedQuote = false;
            return false;
        }
        word = text.substr(at + 1, end - at - 1);
        at = end + 1;
        return true;
    }
    const std::size_t start = at;
    while (at < text.size() && !IsBlank(text[at])) ++at;
    word = text.substr(start, at - start);
    return true;
}

}  // namespace

std::wstring SkipProgramName(const std::wstring& commandLine) {
    std::size_t at = 0;
    while (at < commandLine.size() && IsBlank(commandLine[at])) ++at;
    if (at < commandLine.size() && commandLine[at] == L'"') {
        const std::size_t end = commandLine.find(L'"', at + 1);
        at = end == std::wstring::npos ? commandLine.size() : end + 1;
    } else {
        while (at < commandLine.size() && !IsBlank(commandLine[at])) ++at;
    }
    while (at < commandLine.size() && IsBlank(commandLine[at])) ++at;
    return commandLine.substr(at);
}

std::optional<TUpdaterCommand> ParseUpdaterCommand(const std::wstring& parameters, std::wstring& error) {
    TUpdaterCommand command;
    std::size_t at = 0;
    std::wstring word;
    bool closed = true;
    const wchar_t* const names[] = {L"process number", L"log switch", L"program", L"parameters",
                                    L"temporary folder"};
    std::wstring words[5];
    for (int i = 0; i < 5; ++i) {
        if (!NextWord(parameters, at, word, closed)) {
            error = closed ? std::wstring(L"Missing ") + names[i] : std::wstring(L"Unclosed quote in ") + names[i];
            return std::nullopt;
        }
        words[i] = word;
    }

    if (words[0].empty() || words[0].size() > 10) {
        error = L"Bad process number: " + words[0];
        return std::nullopt;
    }
    std::uint64_t pid = 0;
    for (wchar_t c : words[0]) {
        if (c < L'0' || c > L'9') {
            error = L"Bad process number: " + words[0];
            return std::nullopt;
        }
        pid = pid * 10 + static_cast<std::uint64_t>(c - L'0');
    }
    if (pid == 0 || pid > 0xFFFFFFFFull) {
        error = L"Bad process number: " + words[0];
        return std::nullopt;
    }
    command.ProcessId = static_cast<std::uint32_t>(pid);

    if (words[1] == L"L" || words[1] == L"l")
        command.Log = true;
    else if (words[1] != L"X" && words[1] != L"x") {
        error = L"Bad log switch: " + words[1];
        return std::nullopt;
    }

    command.Restart = words[2] != L"null";
    command.Program = command.Restart ? words[2] : std::wstring();
    if (command.Restart && command.Program.empty()) {
        error = L"Missing program";
        return std::nullopt;
    }
    command.Parameters = words[3];
    command.TempFolder = words[4];
    if (command.TempFolder.empty()) {
        error = L"Missing temporary folder";
        return std::nullopt;
    }
    if (command.TempFolder.back() != L'\\' && command.TempFolder.back() != L'/') command.TempFolder += L'\\';

    // The rest: names separated by blanks, commas or semicolons, possibly quoted.
    std::wstring name;
    bool quoted = false;
    auto flush = [&] {
        std::wstring hash;
        const std::size_t bar = name.rfind(L'|');
        if (bar != std::wstring::npos) {
            hash = name.substr(bar + 1);
            name.erase(bar);
        }
        // A component written with a folder is still a file of the program's folder: only
        // its name counts, so that nothing is ever written elsewhere.
        const std::size_t slash = name.find_last_of(L"\\/:");
        if (slash != std::wstring::npos) name.erase(0, slash + 1);
        if (!name.empty() && name != L"." && name != L"..") {
            command.Components.push_back(name);
            command.Hashes.push_back(hash);
        }
        name.clear();
    };
    for (; at < parameters.size(); ++at) {
        const wchar_t c = parameters[at];
        if (c == L'"') {
            quoted = !quoted;
        } else if (!quoted && (IsBlank(c) || c == L',' || c == L';')) {
            flush();
        } else {
            name.push_back(c);
        }
    }
    if (quoted) {
        error = L"Unclosed quote in components";
        return std::nullopt;
    }
    flush();
    return command;
}

std::wstring FolderOfProgram(const std::wstring& program) {
    const std::size_t slash = program.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : program.substr(0, slash + 1);
}
