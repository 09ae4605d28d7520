// Fills a data folder with a small, plausible data set (no password, two
// sender accounts, three destination lists, a few sent mails of which one is
// HTML with a picture) for screenshots and for trying the program out:
//   vostrel_sample_data <data folder>
#include "core/AppState.h"
#include "core/DataFolder.h"
#include "core/Password.h"
#include "core/SjisCodec.h"
#include "destinations/DestinationStore.h"
#include "send/SendLog.h"
#include "senders/SenderAccount.h"

#include <QColor>
#include <QImage>
#include <cstdio>
#include <filesystem>

using namespace vostrel;
namespace fs = std::filesystem;

namespace {

Recipient Person(const char *name, const char *honorific, const char *address, const char *shop)
{
    Recipient r;
    r.fields[0] = Sjis(name);
    r.fields[1] = Sjis(honorific);
    r.fields[2] = address;
    r.fields[3] = Sjis(shop);
    return r;
}

void Account(const char *name, const char *from, const char *sender, const char *host)
{
    SenderAccount a;
    a.ConfName = Sjis(name);
    a.SMTPAddress = host;
    a.SMTPPort = "587";
    a.FromAddress = from;
    a.SenderName = Sjis(sender);
    a.ReturnAddress = from;
    a.SMTPAuth = true;
    a.SMTPAccount = from;
    a.SMTPPass = "sample";
    WriteSenderAccount(SenderAccountPath(a.ConfName), a);
}

void Log(const char *account, const char *start, const char *end, const char *subject,
         const char *body, bool html, long long sent, long long total, const char *to)
{
    SendJob job;
    job.senderNames = {Sjis(account)};
    job.toLists = {Sjis("お得意様")};
    job.subject = Sjis(subject);
    job.body = Sjis(body);
    job.sendAsHtml = html;
    if (html)
        job.inlinePictures = {"image1.png"};
    WriteSendLog(Sjis(account), job, sent, total, Sjis(start), Sjis(end), to, "", "");
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <data folder>\n", argv[0]);
        return 2;
    }
    const fs::path data = fs::path(argv[1]) / "";
    PrepareDataFolder(data);
    SetDataFolder(data);
    SetCurrentKey(std::string(DefaultKey));
    WriteConfig(std::string(DefaultKey));

    Account("本店", "info@shop.example.jp", "山田商店", "smtp.shop.example.jp");
    Account("キャンペーン", "news@shop.example.jp", "山田商店 お知らせ係", "smtp.shop.example.jp");

    SaveDestinationList(Sjis("お得意様"), {true, false, true},
                        {Person("佐藤 花子", "様", "sato@example.jp", "渋谷店"),
                         Person("鈴木 一郎", "様", "suzuki@example.jp", "新宿店"),
                         Person("高橋 美咲", "様", "takahashi@example.jp", "渋谷店"),
                         Person("田中 健", "様", "tanaka@example.jp", "池袋店")});
    SaveDestinationList(Sjis("取引先"), {true, true, false},
                        {Person("株式会社サンプル", "御中", "order@sample.example.co.jp", ""),
                         Person("北川商事", "御中", "kitagawa@example.co.jp", "")});
    SaveDestinationList(Sjis("社内"), {false, true, true},
                        {Person("営業部", "各位", "sales@shop.example.jp", "")});

    // A banner picture for the HTML mail.
    QImage banner(360, 90, QImage::Format_RGB32);
    for (int y = 0; y < banner.height(); ++y)
        for (int x = 0; x < banner.width(); ++x)
            banner.setPixelColor(x, y, QColor::fromHsv(200 + x / 12, 120 + y, 230));
    banner.save(QString::fromStdString((WorkFolder() / "HtmlImage" / "image1.png").string()));

    Log("本店", "2026年11月02日10時00分05秒", "2026年11月02日 10時00分11秒",
        "<#-送信先名->様 11月のお知らせ",
        "<#-送信先名-><#-敬称->\r\n\r\nいつも<#-差込１->"
        "をご利用いただき、ありがとうございます。\r\n"
        "11月の営業日をお知らせいたします。\r\n\r\n山田商店",
        false, 4, 4, "sato@example.jp,suzuki@example.jp,takahashi@example.jp,tanaka@example.jp");
    Log("本店", "2026年11月20日15時30分00秒", "2026年11月20日 15時30分04秒",
        "年末年始の営業について",
        "お取引先各位\r\n\r\n年末年始の営業日は次のとおりです。\r\n12月29日～1月3日 休業", false, 2,
        2, "order@sample.example.co.jp, kitagawa@example.co.jp");
    Log("キャンペーン", "2026年12月01日09時00分00秒", "2026年12月01日 09時00分07秒",
        "冬のセールのご案内",
        "<html><head><meta charset=\"Shift_JIS\"></head><body>\r\n<h2>冬のセール</h2>\r\n"
        "<p><#-送信先名-><#-敬称->、冬のセールを開催します。</p>\r\n"
        "<p><img src=\"cid:image1.png\"></p>\r\n</body></html>",
        true, 3, 4, "sato@example.jp,suzuki@example.jp,takahashi@example.jp");
    std::printf("sample data in %s\n", data.c_str());
    return 0;
}
