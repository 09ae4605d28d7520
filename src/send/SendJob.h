// The snapshot of a composed mail that one send run works on. The compose
// window fills it when the send starts; the send engine and the message
// builder only read it. Texts are Shift_JIS.
#pragma once

#include <string>
#include <vector>

namespace vostrel {

struct SendJob
{
    // Sender account names, in the order in which they take turns.
    std::vector<std::string> senderNames;
    // Consecutive mails each sender account sends before the next takes over
    // (1..100000).
    int senderSwitchEvery = 1;
    // True: one personalised mail per recipient; false: one mail per list.
    bool sendIndividually = true;

    std::vector<std::string> toLists;
    std::vector<std::string> ccLists;
    bool ccFirstOnly = false; // Cc only on the first mail
    // When toLists is empty, the Bcc lists are the lists mailed to.
    std::vector<std::string> bccLists;
    bool bccFirstOnly = false; // Bcc only on the first mail

    // Subject and body; both may hold merge tags.
    std::string subject;
    std::string body;
    bool sendAsHtml = false; // the body is HTML source

    // File names in WorkFolder()/AppendedImage/.
    std::vector<std::string> attachments;
    // Picture names in WorkFolder()/HtmlImage/, referred to as "cid:" + name.
    std::vector<std::string> inlinePictures;

    // Every mail carries List-Unsubscribe (a mailto: to the account's reply
    // address); with unsubscribeUrl (https) also that URL and
    // List-Unsubscribe-Post for one-click unsubscribing.
    bool listUnsubscribe = false;
    std::string unsubscribeUrl;

    // Pause after each mail in milliseconds (0..100000).
    int intervalMs = 1000;

    bool operator==(const SendJob &) const = default;
};

} // namespace vostrel
