// The embedded browser of the previews (the compose window's and the
// history's): it shows the local page it is given and that page's local
// pictures, and nothing else. It runs no page scripts and so shows no script
// errors or script dialogs; it never leaves the page (links, forms, meta
// refresh and redirects are refused, links within the page still work); and
// it fetches nothing from the network (only file: and data: addresses are
// requested). Each view has a private off-the-record profile: nothing is
// stored on disk.
#pragma once

#include <QString>
#include <QUrl>
#include <QWebEnginePage>
#include <filesystem>

class QWebEngineProfile;
class QWebEngineView;
class QWidget;

namespace vostrel {

// The page of a silent view. Only the program's own loads (load(), setUrl())
// of the main frame are navigations it accepts.
class SilentWebPage : public QWebEnginePage
{
    Q_OBJECT
public:
    explicit SilentWebPage(QWebEngineProfile *profile);

Q_SIGNALS:
    // A navigation was refused; target is where it would have led.
    void NavigationRefused(const QUrl &target);
    // A request for something that is not a local file was blocked.
    void RequestBlocked(const QUrl &target);

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &, int,
                                  const QString &) override;
    bool acceptNavigationRequest(const QUrl &target, NavigationType type,
                                 bool isMainFrame) override;
};

// A new silent view named objectName. The view owns its page, and the page
// its profile, so deleting the view releases all three in the right order.
QWebEngineView *NewSilentWebView(QWidget *parent, const QString &objectName);

// A new silent view named objectName in place of the stretch that keeps its
// room at the end of the page's box layout (the engine is slow to start, so
// the windows make their view on first use only).
QWebEngineView *NewSilentWebViewInPlaceOfStretch(QWidget *page, const QString &objectName);

// Navigates the view to a local file.
void LoadLocalFile(QWebEngineView *view, const std::filesystem::path &file);

} // namespace vostrel
