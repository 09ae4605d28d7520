// The mail being composed: the values of the compose window's fields, the
// window state beside them, and the snapshot a send run takes from them.
// Texts are Shift_JIS; name lists are comma-joined (SplitCommaNameList).
#pragma once

#include "send/SendJob.h"

#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

struct MailDraft
{
    std::string senders;       // sender account names, comma-joined
    int senderSwitchEvery = 1; // 1..100000
    bool sendIndividually = true;
    std::string toLists; // destination list names, comma-joined
    std::string ccLists;
    bool ccFirstOnly = true;
    std::string bccLists;
    bool bccFirstOnly = true;
    std::string attachments; // file names in WorkFolder()/AppendedImage/, comma-joined
    std::string subject;
    std::string textBody; // CR LF line ends
    std::string htmlBody;
    bool sendAsHtml = false;
    int intervalMs = 1000; // 0..100000
    // List-Unsubscribe on every mail, and the optional https address for
    // one-click unsubscribing.
    bool listUnsubscribe = false;
    std::string unsubscribeUrl;
    // Picture names in WorkFolder()/HtmlImage/, in the order they were added.
    std::vector<std::string> inlinePictures;

    bool operator==(const MailDraft &) const = default;
};

// The three pages of the body.
enum class ComposePage
{
    Text = 0,
    Html = 1,
    Preview = 2,
};

// The window state that decides the mode switches and the close question.
struct ComposeState
{
    // The text or the HTML source was edited (not merely replaced whole).
    bool draftEdited = false;
    // Closing asks first; cleared by a completed send.
    bool askOnClose = true;
    // The text or HTML page shown before the current page change.
    ComposePage lastEditPage = ComposePage::Text;
    // The preview page was the last page entered.
    bool previewShown = false;
};

// Whether entering the text or the HTML page starts that mode afresh (its
// editor and the other mode's editor are emptied): always, unless the user
// comes back from the preview to the page shown before it.
bool NeedsFreshStart(const ComposeState &state, ComposePage entered);

// The snapshot a send run works on, read from the draft: every name list
// split, and as body the text body when it is not empty, else the HTML source.
SendJob BuildSendJob(const MailDraft &draft);

// The main lists of a draft: the To lists, or the Bcc lists when there are
// no To lists.
std::vector<std::string> MainLists(const MailDraft &draft);

// The names of a kept draft's sender field whose account file still exists,
// in order.
std::string KeepExistingSenders(std::string_view senders);

enum class ListRole
{
    To,
    Cc,
    Bcc,
};
// The names of a kept draft's list field whose list file still exists, can be
// read, has the flag of the role set and holds at least one recipient.
std::string KeepUsableLists(std::string_view lists, ListRole role);

} // namespace vostrel
