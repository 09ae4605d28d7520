// Mail from the sender's mailbox (anyone can write it) on any bytes: never
// fails, and what it finds is consistent: a bounce names at least one
// address, an unsubscribe request exactly one, every address has a local part
// and a domain in lower case, and nothing else names any.
#include "send/BounceRecognizer.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace vostrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view mail(reinterpret_cast<const char *>(data), size);
    const RecognizedMail got = RecognizeMail(mail);
    switch (got.kind) {
    case MailKind::Bounce:
        if (got.findings.empty())
            std::abort();
        break;
    case MailKind::Unsubscribe:
        if (got.findings.size() != 1 || got.findings[0].kind != FindingKind::Unsubscribe)
            std::abort();
        break;
    default:
        if (!got.findings.empty())
            std::abort();
    }
    for (const Finding &finding : got.findings) {
        const auto at = finding.address.find('@');
        if (at == 0 || at == std::string::npos || at + 1 == finding.address.size())
            std::abort();
        for (char c : finding.address)
            if (c >= 'A' && c <= 'Z')
                std::abort();
    }
    return 0;
}
