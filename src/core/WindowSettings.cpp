#include "core/WindowSettings.h"

#include "core/AppState.h"
#include "core/DataLayout.h"
#include "core/UiHelpers.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QSettings>
#include <QSize>
#include <QSplitter>
#include <QTableView>
#include <QTreeView>
#include <QWidget>
#include <memory>
#include <sys/stat.h>

namespace vostrel {

namespace {

// Sizes, widths and pane positions outside these bounds are not believed.
constexpr int kLargest = 20000;
constexpr int kSmallestWindow = 100;
const QString kBackupFolderKey = QStringLiteral("Backup/LastFolder");

QString SettingsPath()
{
    return QStringFromPath(SettingsFile());
}

// The settings as stored; null when they cannot be read and reading was all
// that was wanted. For writing, a damaged file is replaced by a fresh one.
std::unique_ptr<QSettings> OpenSettings(bool forWriting)
{
    auto settings = std::make_unique<QSettings>(SettingsPath(), QSettings::IniFormat);
    if (settings->status() == QSettings::NoError)
        return settings;
    if (!forWriting)
        return nullptr;
    settings.reset();
    QFile::remove(SettingsPath());
    return std::make_unique<QSettings>(SettingsPath(), QSettings::IniFormat);
}

// Writes the settings out; the file stays the user's alone like the rest of
// the data folder. A failure is not reported: the next start uses defaults.
void Store(QSettings &settings)
{
    settings.sync();
    ::chmod(SettingsFile().c_str(), 0600);
}

QString JoinNumbers(const QList<int> &numbers)
{
    QStringList texts;
    for (int n : numbers)
        texts << QString::number(n);
    return texts.join(QLatin1Char(','));
}

// The numbers of a comma-joined text, when there are count of them, each
// from 0 to kLargest; empty otherwise.
QList<int> SplitNumbers(const QVariant &value, qsizetype count)
{
    const QStringList texts = value.toString().split(QLatin1Char(','));
    if (texts.size() != count)
        return {};
    QList<int> numbers;
    for (const QString &text : texts) {
        bool ok = false;
        const int n = text.toInt(&ok);
        if (!ok || n < 0 || n > kLargest)
            return {};
        numbers << n;
    }
    return numbers;
}

QHeaderView *ColumnsOf(QAbstractItemView *view)
{
    if (auto *tree = qobject_cast<QTreeView *>(view))
        return tree->header();
    if (auto *table = qobject_cast<QTableView *>(view))
        return table->horizontalHeader();
    return nullptr;
}

// The named splitters and list views of the window (not those of the
// dialogs it owns).
template <class T> QList<T *> NamedParts(QWidget *window)
{
    QList<T *> parts;
    for (T *part : window->findChildren<T *>())
        if (part->window() == window && !part->objectName().isEmpty())
            parts << part;
    return parts;
}

void RestoreLayout(QWidget *window, const QSettings &settings)
{
    const QString group = window->objectName() + QLatin1Char('/');
    const QSize size = settings.value(group + QStringLiteral("size")).toSize();
    if (size.width() >= kSmallestWindow && size.height() >= kSmallestWindow &&
        size.width() <= kLargest && size.height() <= kLargest)
        window->resize(size);
    if (settings.value(group + QStringLiteral("maximized")).toString() == u"true")
        window->setWindowState(window->windowState() | Qt::WindowMaximized);
    for (QSplitter *splitter : NamedParts<QSplitter>(window)) {
        const QList<int> sizes =
            SplitNumbers(settings.value(group + splitter->objectName()), splitter->count());
        if (!sizes.isEmpty())
            splitter->setSizes(sizes);
    }
    for (QAbstractItemView *view : NamedParts<QAbstractItemView>(window)) {
        QHeaderView *header = ColumnsOf(view);
        if (!header)
            continue;
        const QList<int> widths =
            SplitNumbers(settings.value(group + view->objectName()), header->count());
        for (int column = 0; column < widths.size(); ++column)
            header->resizeSection(column, widths[column]);
    }
}

void SaveLayout(QWidget *window)
{
    std::unique_ptr<QSettings> settings = OpenSettings(true);
    const QString group = window->objectName() + QLatin1Char('/');
    const bool maximized = window->isMaximized();
    const QSize size = maximized ? window->normalGeometry().size() : window->size();
    if (size.isValid())
        settings->setValue(group + QStringLiteral("size"), size);
    settings->setValue(group + QStringLiteral("maximized"), maximized);
    for (QSplitter *splitter : NamedParts<QSplitter>(window))
        settings->setValue(group + splitter->objectName(), JoinNumbers(splitter->sizes()));
    for (QAbstractItemView *view : NamedParts<QAbstractItemView>(window)) {
        QHeaderView *header = ColumnsOf(view);
        if (!header)
            continue;
        QList<int> widths;
        for (int column = 0; column < header->count(); ++column)
            widths << header->sectionSize(column);
        settings->setValue(group + view->objectName(), JoinNumbers(widths));
    }
    Store(*settings);
}

// Saves the layout of the window it watches whenever the window is hidden.
class LayoutKeeper : public QObject
{
public:
    explicit LayoutKeeper(QWidget *window)
        : QObject(window)
        , window_(window)
    {
        window->installEventFilter(this);
    }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == window_ && event->type() == QEvent::Hide && !event->spontaneous())
            SaveLayout(window_);
        return false;
    }

private:
    QWidget *window_;
};

} // namespace

std::filesystem::path SettingsFile()
{
    return DataFolder() / layout::kSettings;
}

void RememberWindowLayout(QWidget *window)
{
    if (std::unique_ptr<QSettings> settings = OpenSettings(false))
        RestoreLayout(window, *settings);
    new LayoutKeeper(window);
}

QString LastBackupFolder()
{
    std::unique_ptr<QSettings> settings = OpenSettings(false);
    if (!settings)
        return {};
    const QString folder = settings->value(kBackupFolderKey).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

void SetLastBackupFolder(const QString &folder)
{
    std::unique_ptr<QSettings> settings = OpenSettings(true);
    settings->setValue(kBackupFolderKey, folder);
    Store(*settings);
}

} // namespace vostrel
