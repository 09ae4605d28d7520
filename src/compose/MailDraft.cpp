#include "compose/MailDraft.h"

#include "core/SjisText.h"
#include "destinations/DestinationStore.h"
#include "senders/SenderAccount.h"

namespace vostrel {
namespace {

// Without the spaces and tabs at both ends.
std::string TrimSpaces(std::string_view text)
{
    const std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos)
        return {};
    return std::string(text.substr(begin, text.find_last_not_of(" \t") - begin + 1));
}

} // namespace

bool NeedsFreshStart(const ComposeState &state, ComposePage entered)
{
    return !state.previewShown || state.lastEditPage != entered;
}

SendJob BuildSendJob(const MailDraft &draft)
{
    SendJob job;
    job.senderNames = SplitCommaNameList(draft.senders);
    job.senderSwitchEvery = draft.senderSwitchEvery;
    job.sendIndividually = draft.sendIndividually;
    job.toLists = SplitCommaNameList(draft.toLists);
    job.ccLists = SplitCommaNameList(draft.ccLists);
    job.ccFirstOnly = draft.ccFirstOnly;
    job.bccLists = SplitCommaNameList(draft.bccLists);
    job.bccFirstOnly = draft.bccFirstOnly;
    job.subject = draft.subject;
    job.body = draft.textBody.empty() ? draft.htmlBody : draft.textBody;
    job.sendAsHtml = draft.sendAsHtml;
    job.attachments = SplitCommaNameList(draft.attachments);
    job.inlinePictures = draft.inlinePictures;
    job.intervalMs = draft.intervalMs;
    job.listUnsubscribe = draft.listUnsubscribe;
    // Only an address that is sent is checked when the send starts.
    job.unsubscribeUrl = draft.listUnsubscribe ? TrimSpaces(draft.unsubscribeUrl) : std::string();
    return job;
}

std::vector<std::string> MainLists(const MailDraft &draft)
{
    return SplitCommaNameList(draft.toLists.empty() ? draft.bccLists : draft.toLists);
}

std::string KeepExistingSenders(std::string_view senders)
{
    std::vector<std::string> kept;
    for (std::string &name : SplitCommaNameList(senders)) {
        if (SenderAccountExists(name))
            kept.push_back(std::move(name));
    }
    return JoinCommaNameList(kept);
}

namespace {

bool ListIsUsable(const std::string &name, ListRole role)
{
    try {
        const DestinationListReader reader(DestinationListPath(name));
        const SendType flags = reader.Flags();
        const bool flag = role == ListRole::To   ? flags.to
                          : role == ListRole::Cc ? flags.cc
                                                 : flags.bcc;
        return flag && reader.Count() > 0;
    } catch (const VostrelError &) {
        return false; // missing, unreadable or cut short before its count
    }
}

} // namespace

std::string KeepUsableLists(std::string_view lists, ListRole role)
{
    std::vector<std::string> kept;
    for (std::string &name : SplitCommaNameList(lists)) {
        if (ListIsUsable(name, role))
            kept.push_back(std::move(name));
    }
    return JoinCommaNameList(kept);
}

} // namespace vostrel
