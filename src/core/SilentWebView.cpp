#include "core/SilentWebView.h"

#include "core/UiHelpers.h"

#include <QBoxLayout>
#include <QPointer>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

namespace vostrel {

namespace {

// Every request of the profile's pages passes here: anything that is not a
// local file or a data: address (http, https, ftp, ws, ...) is blocked
// before it leaves the machine.
class LocalOnlyInterceptor : public QWebEngineUrlRequestInterceptor
{
public:
    explicit LocalOnlyInterceptor(QObject *parent)
        : QWebEngineUrlRequestInterceptor(parent)
    {}

    // The page to tell of blocked requests.
    QPointer<SilentWebPage> page;

    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        const QString scheme = info.requestUrl().scheme();
        if (scheme == QLatin1String("file") || scheme == QLatin1String("data"))
            return;
        info.block(true);
        if (page)
            Q_EMIT page->RequestBlocked(info.requestUrl());
    }
};

} // namespace

// Page scripts do not run (a mail reader runs none either), so no script
// error or script dialog can appear; messages of the page go nowhere.
SilentWebPage::SilentWebPage(QWebEngineProfile *profile)
    : QWebEnginePage(profile)
{
    QWebEngineSettings *s = settings();
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    // Remote content is off by this program's own word, whatever the
    // library's defaults are.
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setAttribute(QWebEngineSettings::AllowRunningInsecureContent, false);
    s->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
}

void SilentWebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &, int,
                                             const QString &)
{}

bool SilentWebPage::acceptNavigationRequest(const QUrl &target, NavigationType type,
                                            bool isMainFrame)
{
    // The program's own load of the page it was given.
    if (type == NavigationTypeTyped && isMainFrame)
        return true;
    // A link to a place within the same page.
    if (type == NavigationTypeLinkClicked && isMainFrame && target.hasFragment() &&
        target.adjusted(QUrl::RemoveFragment) == url().adjusted(QUrl::RemoveFragment))
        return true;
    // Links, forms, meta refresh, redirects, frames, back and forward.
    Q_EMIT NavigationRefused(target);
    return false;
}

QWebEngineView *NewSilentWebView(QWidget *parent, const QString &objectName)
{
    auto *view = new QWebEngineView(parent);
    view->setObjectName(objectName);
    // An off-the-record profile; the page must go before it, so the profile
    // is the page's child and dies after the page's own destructor has run.
    // The interceptor is the profile's child and outlives it in turn.
    auto *profile = new QWebEngineProfile;
    auto *interceptor = new LocalOnlyInterceptor(profile);
    profile->setUrlRequestInterceptor(interceptor);
    auto *page = new SilentWebPage(profile);
    interceptor->page = page;
    profile->setParent(page);
    page->setParent(view);
    view->setPage(page);
    return view;
}

QWebEngineView *NewSilentWebViewInPlaceOfStretch(QWidget *page, const QString &objectName)
{
    QWebEngineView *view = NewSilentWebView(page, objectName);
    auto *layout = static_cast<QBoxLayout *>(page->layout());
    delete layout->takeAt(layout->count() - 1);
    layout->addWidget(view, 1);
    return view;
}

void LoadLocalFile(QWebEngineView *view, const std::filesystem::path &file)
{
    view->load(QUrl::fromLocalFile(QStringFromPath(file)));
}

} // namespace vostrel
