// The preview browser with real pages, offscreen: it shows the local page it
// is given and its local pictures, never leaves it (meta refresh, links and
// forms are refused, links within the page still work) and asks nothing of
// the network.
#include "core/SilentWebView.h"
#include "support/VostrelTest.h"

#include <QImage>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;
using namespace Qt::Literals::StringLiterals;

QUrl UrlOf(const fs::path &file)
{
    return QUrl::fromLocalFile(QString::fromStdString(file.native()));
}

// A link or a button that covers the top left of the page, where the tests
// click.
const std::string kCover = "style=\"position:absolute;left:0;top:0;width:300px;height:200px;"
                           "display:block\"";

class SilentWebViewTest : public VostrelTest
{
protected:
    void SetUp() override
    {
        VostrelTest::SetUp();
        view.reset(NewSilentWebView(nullptr, u"WebBrowser"_s));
        view->resize(640, 480);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        page = qobject_cast<SilentWebPage *>(view->page());
        ASSERT_NE(page, nullptr);
    }
    void TearDown() override
    {
        view.reset();
        VostrelTest::TearDown();
    }

    fs::path Write(const std::string &name, const std::string &html)
    {
        const fs::path file = TempDir() / name;
        WriteBytes(file, html);
        return file;
    }

    // Loads a file as the program does and waits until it is shown.
    void Load(const fs::path &file)
    {
        QSignalSpy loads(view.get(), &QWebEngineView::loadFinished);
        LoadLocalFile(view.get(), file);
        ASSERT_TRUE(loads.wait(20000)) << file;
        EXPECT_TRUE(loads.first().first().toBool()) << file;
    }

    QString Text()
    {
        QString text = u"(no text)"_s;
        bool done = false;
        page->toPlainText([&](const QString &t) {
            text = t;
            done = true;
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, 10000));
        return text.trimmed();
    }

    // A script in the page's isolated world (page scripts stay off).
    QVariant Script(const QString &script)
    {
        QVariant result;
        bool done = false;
        page->runJavaScript(script, QWebEngineScript::ApplicationWorld, [&](const QVariant &v) {
            result = v;
            done = true;
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, 10000));
        return result;
    }

    // A real click of the mouse at a point of the page.
    void ClickAt(QPoint at)
    {
        QWidget *surface = view->focusProxy();
        ASSERT_NE(surface, nullptr);
        QTest::mouseMove(surface, at);
        QTest::mouseClick(surface, Qt::LeftButton, {}, at);
    }

    std::unique_ptr<QWebEngineView> view;
    SilentWebPage *page = nullptr;
};

TEST_F(SilentWebViewTest, AMetaRefreshToAnotherLocalFileIsRefusedAndTheProgramsOwnLoadsGo)
{
    const fs::path other = Write("other.html", "<html><body>the other page</body></html>");
    const fs::path first = Write(
        "first.html", "<html><head><meta http-equiv=\"refresh\" content=\"0; url=other.html\">"
                      "</head><body>the given page</body></html>");
    QSignalSpy refused(page, &SilentWebPage::NavigationRefused);

    Load(first);

    ASSERT_TRUE(refused.count() > 0 || refused.wait(20000));
    EXPECT_EQ(refused.first().first().toUrl(), UrlOf(other));
    EXPECT_EQ(view->url(), UrlOf(first));
    EXPECT_EQ(Text(), u"the given page"_s);

    // The program itself may always load another page.
    Load(other);
    EXPECT_EQ(view->url(), UrlOf(other));
    EXPECT_EQ(Text(), u"the other page"_s);
}

TEST_F(SilentWebViewTest, AClickedLinkIsRefusedAndALinkWithinThePageIsFollowed)
{
    const fs::path other = Write("other.html", "<html><body>the other page</body></html>");
    const fs::path first =
        Write("first.html", "<html><body><a id=\"away\" href=\"other.html\" " + kCover +
                                ">away</a><a href=\"#end\" style=\"position:absolute;left:0;"
                                "top:250px;width:300px;height:100px;display:block\">down</a>"
                                "<p id=\"end\" style=\"position:absolute;top:2000px\">end</p>"
                                "</body></html>");
    Load(first);
    QSignalSpy refused(page, &SilentWebPage::NavigationRefused);

    ClickAt(QPoint(100, 100));

    ASSERT_TRUE(refused.wait(20000));
    EXPECT_EQ(refused.first().first().toUrl(), UrlOf(other));
    EXPECT_EQ(view->url(), UrlOf(first));
    EXPECT_TRUE(Text().startsWith(u"away"_s));

    QSignalSpy moved(view.get(), &QWebEngineView::urlChanged);
    ClickAt(QPoint(100, 300));
    ASSERT_TRUE(moved.wait(20000));
    EXPECT_EQ(view->url().fragment(), u"end"_s);
    EXPECT_EQ(view->url().adjusted(QUrl::RemoveFragment), UrlOf(first));
    EXPECT_EQ(refused.count(), 1);
}

TEST_F(SilentWebViewTest, ASubmittedFormIsRefused)
{
    const fs::path other = Write("other.html", "<html><body>the other page</body></html>");
    const fs::path first =
        Write("first.html", "<html><body><form action=\"other.html\" method=\"get\">"
                            "<input type=\"hidden\" name=\"q\" value=\"1\">"
                            "<input type=\"submit\" value=\"send\" " +
                                kCover + "></form></body></html>");
    Load(first);
    QSignalSpy refused(page, &SilentWebPage::NavigationRefused);

    ClickAt(QPoint(100, 100));

    ASSERT_TRUE(refused.wait(20000));
    QUrl expected = UrlOf(other);
    expected.setQuery(u"q=1"_s);
    EXPECT_EQ(refused.first().first().toUrl(), expected);
    EXPECT_EQ(view->url(), UrlOf(first));
}

// Remote pictures, style sheets, frames and prefetches of the page go
// nowhere: a server listening on this machine is never asked, while the
// page's local picture shows. Two locks keep them out: the page's own
// setting that local content may not reach remote addresses, and a block of
// every request that is not for a local file, which holds even with that
// setting turned on (as another library version's default might have it).
class RemoteContentTest : public SilentWebViewTest, public testing::WithParamInterface<bool>
{};

TEST_P(RemoteContentTest, NothingIsFetchedFromTheNetworkWhileLocalPicturesShow)
{
    const bool settingTurnedOn = GetParam();
    EXPECT_FALSE(
        page->settings()->testAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls));
    page->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls,
                                   settingTurnedOn);
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const std::string remote = "http://127.0.0.1:" + std::to_string(server.serverPort());
    QImage picture(7, 5, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    ASSERT_TRUE(picture.save(QString::fromStdString((TempDir() / "local.png").native())));
    const fs::path first =
        Write("first.html", "<html><head><link rel=\"stylesheet\" href=\"" + remote +
                                "/style.css\">"
                                "<link rel=\"prefetch\" href=\"" +
                                remote +
                                "/next.html\"></head><body>"
                                "<img id=\"remote\" src=\"" +
                                remote +
                                "/remote.png\">"
                                "<div style=\"width:10px;height:10px;background:url(" +
                                remote +
                                "/back.png)\"></div>"
                                "<iframe src=\"" +
                                remote +
                                "/frame.html\"></iframe>"
                                "<img id=\"local\" src=\"local.png\"></body></html>");
    QSignalSpy blocked(page, &SilentWebPage::RequestBlocked);

    Load(first);

    EXPECT_EQ(Script(u"document.getElementById('local').naturalWidth"_s).toInt(), 7);
    EXPECT_EQ(Script(u"document.getElementById('remote').naturalWidth"_s).toInt(), 0);
    if (settingTurnedOn) {
        QStringList urls;
        for (const QList<QVariant> &signal : blocked)
            urls << signal.first().toUrl().toString();
        EXPECT_TRUE(urls.contains(QString::fromStdString(remote + "/remote.png")))
            << urls.join(u" "_s).toStdString();
    }
    EXPECT_FALSE(server.hasPendingConnections());
    EXPECT_EQ(view->url(), UrlOf(first));
}

INSTANTIATE_TEST_SUITE_P(AsSetOrTurnedOn, RemoteContentTest, testing::Bool());

} // namespace
} // namespace vostrel::test
