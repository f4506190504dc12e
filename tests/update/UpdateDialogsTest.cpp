// What the release-notes and agreement dialogs make of a document.
#include <gtest/gtest.h>

#include "UpdateDialogs.h"

namespace {

TEST(UpdateDialogsTest, ClassifiesDocuments) {
    struct TCase {
        std::wstring Text;
        TDocumentKind Kind;
    };
    const TCase cases[] = {
        {L"{\\rtf1\\ansi hello}", TDocumentKind::Rtf},
        {L"{\\RtF1 </b>", TDocumentKind::Rtf},
        {L" {\\rtf1 not at the start", TDocumentKind::PlainText},
        {L"<html><body>x</BODY></html>", TDocumentKind::Html},
        {L"a < b and c > d", TDocumentKind::PlainText},
        {L"", TDocumentKind::PlainText},
        {L"{\\rt", TDocumentKind::PlainText},
    };
    for (const TCase& c : cases) EXPECT_EQ(ClassifyDocument(c.Text), c.Kind) << std::string(c.Text.begin(), c.Text.end());
}

TEST(UpdateDialogsTest, HtmlAsSimpleFormattedText) {
    struct TCase {
        std::wstring Html;
        std::wstring Text;
    };
    const TCase cases[] = {
        {L"<html><head><title>T</title><style>p{}</style></head><body><h1>Version 2</h1>"
         L"<p>Faster   keys,\n fewer  bugs.</p><ul><li>One</li><li>Two &amp; three</li></ul></body></html>",
         L"Version 2\r\n\r\nFaster keys, fewer bugs.\r\n\r\n\x2022 One\r\n\x2022 Two & three"},
        {L"a<br>b<br/><br>c", L"a\r\nb\r\n\r\nc"},
        {L"<!-- hidden <b>x</b> -->shown <script>alert(1)</script>&lt;ok&gt; &#233;&#x41;", L"shown <ok> \xE9" L"A"},
        {L"broken &unknown; &#0; &#xFFFFFF; tail", L"broken &unknown; &#0; &#xFFFFFF; tail"},
        {L"cut <b", L"cut"},
        {L"<!-- never closed", L""},
    };
    for (const TCase& c : cases) EXPECT_EQ(HtmlToText(c.Html), c.Text) << std::string(c.Html.begin(), c.Html.end());
}

TEST(UpdateDialogsTest, ScriptedAnswersInOrderThenTheDefault) {
    TScriptedUpdateDialogs dialogs;
    dialogs.Answers = {true, false};
    EXPECT_TRUE(dialogs.AskYesNo(L"one"));
    EXPECT_FALSE(dialogs.Confirm(L"two"));
    EXPECT_FALSE(dialogs.WhatsNewDialog({}));
    dialogs.DefaultAnswer = true;
    EXPECT_TRUE(dialogs.EULADialog({}));
    ASSERT_EQ(dialogs.Events.size(), 4u);
    EXPECT_EQ(dialogs.Events[1].Kind, TScriptedUpdateDialogs::TKind::Confirmation);
    EXPECT_EQ(dialogs.Events[1].Text, L"two");
}

}  // namespace
