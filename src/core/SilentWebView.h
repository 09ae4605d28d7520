// The embedded browser of the previews (the compose window's and the
// history's): it shows local pages and their local pictures, runs no page
// scripts and so shows no script errors or script dialogs, and keeps a
// clicked link from leading away from the page. Each view has a private
// off-the-record profile: nothing is stored on disk.
#pragma once

#include <QString>
#include <filesystem>

class QWebEngineView;
class QWidget;

namespace vostrel {

// A new silent view named objectName. The view owns its page, and the page
// its profile, so deleting the view releases all three in the right order.
QWebEngineView *NewSilentWebView(QWidget *parent, const QString &objectName);

// Navigates the view to a local file.
void LoadLocalFile(QWebEngineView *view, const std::filesystem::path &file);

} // namespace vostrel
