// Figures for the message builder: Base64 throughput for a personalised HTML
// mail with a 10 MB attachment, and the rate of building and writing 10,000
// personalised mails of about 4 KB.
#include "core/AppState.h"
#include "core/DataFolder.h"
#include "core/SjisCodec.h"
#include "send/MessageBuilder.h"
#include "send/PzConv.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

using namespace vostrel;
namespace fs = std::filesystem;

namespace {

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::string RandomBytes(std::size_t n)
{
    std::mt19937_64 random(42);
    std::string s(n, '\0');
    for (std::size_t i = 0; i + 8 <= n; i += 8) {
        const auto v = random();
        for (int k = 0; k < 8; ++k)
            s[i + k] = static_cast<char>((v >> (8 * k)) & 0xFF);
    }
    return s;
}

// About 4 KB of HTML source with Japanese text and merge tags.
std::string Body4k()
{
    std::string body = Sjis("<html><body>\r\n<p><#-送信先名-><#-敬称-></p>\r\n");
    const std::string paragraph =
        Sjis("<p>いつもお世話になっております。<#-差込１->の件でご連絡いたします。"
             "Vostrel news letter, issue <#-差込２->.</p>\r\n");
    while (body.size() < 4000)
        body += paragraph;
    body += "</body></html>\r\n";
    return body;
}

SenderAccount Account()
{
    SenderAccount a;
    a.FromAddress = "news@example.jp";
    a.SenderName = Sjis("ニュース配信");
    a.ReturnAddress = "reply@example.jp";
    return a;
}

Recipient MakeRecipient(int i)
{
    Recipient r;
    r.fields[0] = Sjis("山田 太郎") + std::to_string(i);
    r.fields[1] = Sjis("様");
    r.fields[2] = "user" + std::to_string(i) + "@example.com";
    r.fields[3] = Sjis("東京支店");
    r.fields[4] = std::to_string(i % 100);
    return r;
}

} // namespace

int main()
{
    char temp[] = "/tmp/vostrel-bench-mime-XXXXXX";
    if (!::mkdtemp(temp)) {
        std::perror("mkdtemp");
        return 1;
    }
    SetDataFolder(fs::path(temp) / "data");
    PrepareDataFolder(DataFolder());

    // Pure encoder: 10 MB in memory to 76-character lines.
    {
        const std::string data = RandomBytes(10 * 1024 * 1024);
        std::string out;
        double best = 1e9;
        for (int round = 0; round < 10; ++round) {
            out.clear();
            const auto start = std::chrono::steady_clock::now();
            AppendBase64Lines(data, out);
            best = std::min(best, Seconds(start));
        }
        std::printf("Base64 encoder, 10 MB in memory: %.1f MB/s input (best of 10, %.2f ms)\n",
                    static_cast<double>(data.size()) / best / 1e6, best * 1e3);
    }

    // A personalised HTML mail with a 10 MB attachment, built and written.
    {
        const std::string attachment = RandomBytes(10 * 1024 * 1024);
        {
            std::ofstream f(WorkFolder() / "AppendedImage" / "archive.zip", std::ios::binary);
            f.write(attachment.data(), static_cast<std::streamsize>(attachment.size()));
        }
        SendJob job;
        job.sendAsHtml = true;
        job.subject = Sjis("<#-送信先名-><#-敬称->へ資料のご送付");
        job.body = Body4k();
        job.attachments = {"archive.zip"};
        const Recipient r = MakeRecipient(1);
        double best = 1e9;
        std::size_t size = 0;
        for (int round = 0; round < 5; ++round) {
            const auto start = std::chrono::steady_clock::now();
            const MailMessage m = BuildMailMessage(job, Account(), {r.Address()}, {}, {}, &r);
            const std::string mail = WriteMimeMessage(m);
            best = std::min(best, Seconds(start));
            size = mail.size();
        }
        std::printf("HTML mail with a 10 MB attachment: %.2f ms per mail (best of 5), %.1f MB/s "
                    "of attachment read and Base64-encoded, %zu bytes written\n",
                    best * 1e3, static_cast<double>(attachment.size()) / best / 1e6, size);
    }

    // 10,000 personalised mails of about 4 KB each.
    {
        SendJob job;
        job.sendAsHtml = true;
        job.subject = Sjis("<#-送信先名-><#-敬称->へ今月のお知らせ");
        job.body = Body4k();
        const SenderAccount account = Account();
        constexpr int kMails = 10000;
        std::vector<Recipient> recipients;
        recipients.reserve(kMails);
        for (int i = 0; i < kMails; ++i)
            recipients.push_back(MakeRecipient(i));
        std::size_t bytes = 0;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kMails; ++i) {
            const Recipient &r = recipients[static_cast<std::size_t>(i)];
            const MailMessage m = BuildMailMessage(job, account, {r.Address()}, {}, {}, &r);
            bytes += WriteMimeMessage(m).size();
        }
        const double s = Seconds(start);
        std::printf("10,000 personalised mails (body %zu bytes): %.3f s, %.0f mails/s, "
                    "%.1f MB written\n",
                    job.body.size(), s, kMails / s, static_cast<double>(bytes) / 1e6);
    }

    std::error_code ec;
    fs::remove_all(temp, ec);
    return 0;
}
