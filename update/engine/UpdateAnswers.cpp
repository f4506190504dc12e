#include "UpdateAnswers.h"

#include "Exceptions.h"
#include "WUpdate.h"

void AnswerUpdateStatus(TUpdateDialogs& dialogs, bool starting, const std::wstring& StatusStr, int StatusCode) {
    switch (StatusCode) {
        case TWebUpdate::scConnectionError:
            if (!starting) dialogs.ShowMessage(kNoConnectionText);
            throw EAbort();
        case TWebUpdate::scNoNewVersion:
            if (!starting) dialogs.ShowMessage(kNoNewVersionText);
            break;
        case TWebUpdate::scFileNotObtained:
        // A release that fails its signature, date or file pin is told even at start-up.
        case TWebUpdate::scInvalidSignature:
            dialogs.ShowMessage(StatusStr + kDiscontinuedText);
            break;
        default:
            break;
    }
}

bool AnswerAppRestart(TUpdateDialogs& dialogs) { return dialogs.Confirm(kRestartQuestion); }

void RunUpdateQuietly(TWebUpdate& engine) {
    try {
        engine.DoUpdate();
    } catch (...) {
        // Whatever ends a run early has been reported through its status already.
    }
}
