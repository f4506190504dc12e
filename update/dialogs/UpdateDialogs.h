#pragma once
// What an update run shows and asks, and what it opens with the shell: message boxes, the
// Yes/No question, the release-notes and agreement dialogs, the modal HTML dialog, and
// programs or documents opened through the shell (runbefore, runafter, showURL, the
// updater). Windows shows real dialogs; the scripted stand-in records every call and
// answers from a queue, so that tests and the simulator can drive a whole run.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// How a release-notes or agreement document is shown.
enum class TDocumentKind { PlainText, Rtf, Html };

// RTF when the first five characters, in upper case, are "{\RTF"; else HTML when the
// text, in upper case, holds "</"; else plain text.
TDocumentKind ClassifyDocument(const std::wstring& text);

// The text of a downloaded document's bytes (byte-order mark, UTF-8, else ANSI).
std::wstring DocumentText(const std::vector<std::uint8_t>& bytes);

// HTML as simple formatted text: tags dropped, line breaks for <br>, paragraphs, headings,
// list items and table rows, "• " before list items, the common character entities
// decoded, runs of white space folded as a browser folds them. Script and style content
// is not shown.
std::wstring HtmlToText(const std::wstring& html);

// The release-notes dialog: the document and the captions of the control file.
struct TWhatsNewDialogData {
    std::wstring Caption;        // "What's new" unless the control file names another
    std::wstring OkCaption;      // accept button, "Ok"
    std::wstring CancelCaption;  // refuse button, "Cancel"
    TDocumentKind Kind = TDocumentKind::PlainText;
    std::wstring Text;               // the document as text
    std::vector<std::uint8_t> Bytes;  // the document as downloaded (RTF is shown from these)
};

// The end-user agreement dialog. Shown as RTF or plain text (never as HTML).
struct TEULADialogData {
    std::wstring Caption;          // empty unless the control file names one
    std::wstring OkCaption;        // "Ok"
    std::wstring AcceptCaption;    // "I accept"
    std::wstring NotAcceptCaption; // "I do not accept", selected at first
    TDocumentKind Kind = TDocumentKind::PlainText;
    std::wstring Text;
    std::vector<std::uint8_t> Bytes;
};

class TUpdateDialogs {
public:
    virtual ~TUpdateDialogs() = default;
    // An information box with an OK button.
    virtual void ShowMessage(const std::wstring& text) = 0;
    // An information box with Yes and No buttons; true for Yes.
    virtual bool AskYesNo(const std::wstring& text) = 0;
    // A confirmation box with Yes and No buttons; true for Yes.
    virtual bool Confirm(const std::wstring& text) = 0;
    // True when the release notes were accepted (closed with the accept button).
    virtual bool WhatsNewDialog(const TWhatsNewDialogData& data) = 0;
    // True when the agreement was accepted (the accepting choice selected on closing).
    virtual bool EULADialog(const TEULADialogData& data) = 0;
    // The system's modal HTML dialog for `url`, owned by no window; nothing is shown when
    // the HTML library cannot be loaded.
    virtual void ShowHTMLDialog(const std::wstring& url) = 0;
    // Opens `file` with the shell's verb "open", `parameters` (none when empty) and a
    // normal window; does not wait. True when the shell started it.
    virtual bool ShellOpen(const std::wstring& file, const std::wstring& parameters) = 0;
};

// Windows: message boxes, dialog windows, mshtml's ShowHTMLDialog and ShellExecuteW.
// Host builds: nothing is shown, every question is answered no and nothing is opened.
std::unique_ptr<TUpdateDialogs> MakeSystemUpdateDialogs();

// Records every call in order and answers questions and dialogs from a queue.
class TScriptedUpdateDialogs : public TUpdateDialogs {
public:
    enum class TKind { Message, Question, Confirmation, WhatsNew, EULA, HTMLDialog, ShellOpen };
    struct TEvent {
        TKind Kind;
        std::wstring Text;        // message, question, dialog caption, address or file
        std::wstring Parameters;  // shell open: its parameters; dialogs: the document text
    };

    // Answers for the questions, confirmations and both dialogs, taken in order; when the
    // queue is empty, DefaultAnswer.
    std::deque<bool> Answers;
    bool DefaultAnswer = false;
    // What ShellOpen answers.
    bool ShellOpenResult = true;
    std::vector<TEvent> Events;
    // Called for each event as it happens, before it is answered.
    std::function<void(const TEvent&)> OnEvent;

    // The events of one kind, in order.
    std::vector<TEvent> Of(TKind kind) const;

    void ShowMessage(const std::wstring& text) override;
    bool AskYesNo(const std::wstring& text) override;
    bool Confirm(const std::wstring& text) override;
    bool WhatsNewDialog(const TWhatsNewDialogData& data) override;
    bool EULADialog(const TEULADialogData& data) override;
    void ShowHTMLDialog(const std::wstring& url) override;
    bool ShellOpen(const std::wstring& file, const std::wstring& parameters) override;

private:
    void Record(TKind kind, const std::wstring& text, const std::wstring& parameters = {});
    bool Answer();
};

// Routes everything to two callbacks, for a host that prints what the program shows and
// answers what it asks (the simulator): message boxes go to `show`; questions,
// confirmations and both dialogs to `ask` (a dialog with "whatsnew " or "eula " before its
// caption); shell opens are shown as "open FILE PARAMETERS" and carried out only by `open`
// when the host gives one, and an HTML dialog is shown as "htmldialog URL".
class TRoutedUpdateDialogs : public TUpdateDialogs {
public:
    using TShow = std::function<void(const std::wstring& text)>;
    using TAsk = std::function<bool(const std::wstring& text)>;
    using TOpen = std::function<bool(const std::wstring& file, const std::wstring& parameters)>;
    TRoutedUpdateDialogs(TShow show, TAsk ask, TOpen open = nullptr)
        : FShow(std::move(show)), FAsk(std::move(ask)), FOpen(std::move(open)) {}

    void ShowMessage(const std::wstring& text) override { FShow(text); }
    bool AskYesNo(const std::wstring& text) override { return FAsk(text); }
    bool Confirm(const std::wstring& text) override { return FAsk(text); }
    bool WhatsNewDialog(const TWhatsNewDialogData& data) override { return FAsk(L"whatsnew " + data.Caption); }
    bool EULADialog(const TEULADialogData& data) override { return FAsk(L"eula " + data.Caption); }
    void ShowHTMLDialog(const std::wstring& url) override { FShow(L"htmldialog " + url); }
    bool ShellOpen(const std::wstring& file, const std::wstring& parameters) override {
        FShow(L"open " + file + (parameters.empty() ? L"" : L" " + parameters));
        return FOpen ? FOpen(file, parameters) : true;
    }

private:
    TShow FShow;
    TAsk FAsk;
    TOpen FOpen;
};
