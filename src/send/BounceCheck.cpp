#include "send/BounceCheck.h"

#include "send/MailboxRecord.h"
#include "send/Pop3Client.h"
#include "send/WireDialogue.h"

#include <optional>

namespace vostrel {

using namespace wire;

namespace {

struct ListedMail
{
    std::string number;
    std::string uidl;
};

void AddRow(std::vector<BounceRow> &rows, BounceRow row)
{
    for (const BounceRow &known : rows)
        if (known.address == row.address && known.kind == row.kind)
            return;
    rows.push_back(std::move(row));
}

// Takes what one mail says into the state and the rows.
void Account(const RecognizedMail &mail, const std::string &uidl, MailboxState &state,
             std::vector<BounceRow> &rows)
{
    switch (mail.kind) {
    case MailKind::Bounce:
        for (const Finding &finding : mail.findings) {
            if (finding.kind != FindingKind::Temporary) {
                state.temporary.erase(finding.address);
                AddRow(rows, {finding.address, finding.kind, finding.reason});
                continue;
            }
            const std::string failedMail =
                mail.originalMessageId.empty() ? "UIDL " + uidl : mail.originalMessageId;
            TemporaryStreak &streak = state.temporary[finding.address];
            if (streak.count > 0 && streak.lastMessageId == failedMail)
                continue; // one more notice of a mail already counted
            ++streak.count;
            streak.lastMessageId = failedMail;
            if (streak.count >= kTemporaryFailuresCounted)
                AddRow(rows, {finding.address, FindingKind::Temporary,
                              finding.reason + " (" + std::to_string(streak.count) + " 回連続)"});
        }
        break;
    case MailKind::Unsubscribe:
        for (const Finding &finding : mail.findings)
            AddRow(rows, {finding.address, finding.kind, finding.reason});
        break;
    case MailKind::AutoReply:
    case MailKind::Other:
        if (!mail.sender.empty())
            state.temporary.erase(mail.sender);
        break;
    }
}

} // namespace

std::string FindingKindText(FindingKind kind)
{
    switch (kind) {
    case FindingKind::Permanent:
        return "不達";
    case FindingKind::Temporary:
        return "一時的";
    case FindingKind::Unsubscribe:
        break;
    }
    return "配信停止";
}

BounceCheckResult CheckMailbox(Transport &transport, const SenderAccount &account,
                               const BounceCheckOptions &options,
                               const BounceCheckProgress &progress, const std::atomic<bool> *stop,
                               ServerTlsMemory *memory)
{
    BounceCheckResult result;
    TransportTimeouts limits = options.timeouts;
    limits.stop = stop;
    limits.mailDeadline = {}; // a mailbox may take long; each step is limited
    std::optional<MailboxRecord> record;
    MailboxState *state = nullptr;
    std::set<std::string> onServer;
    try {
        const int port = CheckPort("POP3ポート番号", account.POPPort);
        CheckHost("POP3サーバーのアドレス", account.POPAddress);
        CheckShown("POP3のアカウント", account.POPAccount);
        CheckSecret("POP3のパスワード", account.POPPass);
        record = MailboxRecord::Load(options.recordPath, options.key);
        state = &record->Of(account);

        Pop3Session pop(transport, account, port, limits, memory);
        std::vector<ListedMail> fresh;
        pop.MultiLine("UIDL", "UIDL", [&](std::string_view line) {
            const auto space = line.find(' ');
            if (space == std::string_view::npos)
                return;
            ListedMail listed{std::string(line.substr(0, space)),
                              std::string(line.substr(space + 1))};
            onServer.insert(listed.uidl);
            if (!state->seenUidls.contains(listed.uidl))
                fresh.push_back(std::move(listed));
        });
        result.onServer = onServer.size();
        result.newMails = fresh.size();
        for (const ListedMail &listed : fresh) {
            if (progress)
                progress(result.read, fresh.size());
            if (stop && stop->load()) {
                result.stopped = true;
                break;
            }
            std::string content;
            pop.MultiLine("RETR " + listed.number, "RETR", [&](std::string_view line) {
                content.append(line);
                content += "\r\n";
            });
            const RecognizedMail mail = RecognizeMail(content);
            Account(mail, listed.uidl, *state, result.rows);
            state->seenUidls.insert(listed.uidl);
            ++result.read;
            if (options.deleteFromServer && mail.kind != MailKind::Other) {
                pop.Command("DELE " + listed.number, "DELE");
                ++result.deleted;
            }
        }
        if (progress && !result.stopped)
            progress(result.read, fresh.size());
        pop.Quit();
        result.completed = !result.stopped;
    } catch (const MailFailure &failure) {
        result.error = CutReason(failure.reason);
    } catch (const TransportError &error) {
        result.stopped = error.Stopped();
        if (!result.stopped)
            result.error = CutReason(error.what());
    } catch (const std::exception &error) {
        result.error = CutReason(error.what());
    }
    if (!result.completed)
        result.deleted = 0; // without QUIT the server keeps every mail
    if (state) {
        // Mails gone from the server need no place in the record.
        if (result.completed || !onServer.empty())
            std::erase_if(state->seenUidls,
                          [&](const std::string &uidl) { return !onServer.contains(uidl); });
        try {
            record->Save(options.recordPath, options.key);
        } catch (const std::exception &error) {
            if (result.error.empty())
                result.error = CutReason(error.what());
        }
    }
    return result;
}

} // namespace vostrel
