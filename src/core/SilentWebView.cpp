#include "core/SilentWebView.h"

#include <QFile>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace vostrel {

namespace {

// Page scripts do not run (a mail reader runs none either), so no script
// error or script dialog can appear; messages of the page go nowhere, and a
// clicked link does not lead away from the page (links within it still work).
class SilentPage : public QWebEnginePage
{
public:
    explicit SilentPage(QWebEngineProfile *profile)
        : QWebEnginePage(profile)
    {
        settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
        settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    }

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &, int,
                                  const QString &) override
    {}
    bool acceptNavigationRequest(const QUrl &target, NavigationType type, bool) override
    {
        if (type != NavigationTypeLinkClicked)
            return true;
        return target.adjusted(QUrl::RemoveFragment) == url().adjusted(QUrl::RemoveFragment);
    }
};

} // namespace

QWebEngineView *NewSilentWebView(QWidget *parent, const QString &objectName)
{
    auto *view = new QWebEngineView(parent);
    view->setObjectName(objectName);
    // An off-the-record profile; the page must go before it, so the profile
    // is the page's child and dies after the page's own destructor has run.
    auto *profile = new QWebEngineProfile;
    auto *page = new SilentPage(profile);
    profile->setParent(page);
    page->setParent(view);
    view->setPage(page);
    return view;
}

void LoadLocalFile(QWebEngineView *view, const std::filesystem::path &file)
{
    view->load(QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(file.native()))));
}

} // namespace vostrel
