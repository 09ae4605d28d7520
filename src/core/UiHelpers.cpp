#include "core/UiHelpers.h"

#include "core/SjisCodec.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QStandardPaths>
#include <QToolButton>
#include <QTranslator>
#include <limits>

namespace vostrel {

void UseProgramIconTheme()
{
    // Some platforms (offscreen, a bare X server) look for themes only in
    // Qt's resources: add the system's icon folders.
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString &folder :
         QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                   QStandardPaths::LocateDirectory))
        if (!paths.contains(folder))
            paths << folder;
    QIcon::setThemeSearchPaths(paths);
    QIcon::setThemeName(QString::fromLatin1(kIconTheme));
}

namespace {

// The source editor's context menu asks for the same texts as the line
// edits' menu ("&Undo", "Cu&t", "Select All" ...) under its own context;
// this answers them from the line edits' translations.
class EditorMenuTexts : public QTranslator
{
public:
    explicit EditorMenuTexts(const QTranslator &qtbase)
        : qtbase_(qtbase)
    {}
    QString translate(const char *context, const char *sourceText, const char *disambiguation,
                      int n) const override
    {
        if (qstrcmp(context, "QsciScintilla") != 0)
            return {};
        return qtbase_.translate("QLineEdit", sourceText, disambiguation, n);
    }
    bool isEmpty() const override { return false; }

private:
    const QTranslator &qtbase_;
};

} // namespace

QStringList UseJapaneseQtTexts()
{
    static bool done = false;
    static QStringList loaded;
    if (done)
        return loaded;
    done = true;
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    QTranslator *qtbase = nullptr;
    for (const char *catalogue : {"qtbase_ja", "qtwebengine_ja", "qscintilla_ja"}) {
        auto *translator = new QTranslator(QCoreApplication::instance());
        if (!translator->load(QString::fromLatin1(catalogue), folder)) {
            delete translator;
            continue;
        }
        QCoreApplication::installTranslator(translator);
        loaded << QString::fromLatin1(catalogue);
        if (qstrcmp(catalogue, "qtbase_ja") == 0)
            qtbase = translator;
    }
    if (qtbase && !loaded.contains(QStringLiteral("qscintilla_ja"))) {
        auto *editorMenu = new EditorMenuTexts(*qtbase);
        editorMenu->setParent(QCoreApplication::instance());
        QCoreApplication::installTranslator(editorMenu);
    }
    return loaded;
}

QToolButton *NewImageButton(QWidget *parent, const QString &objectName, const QString &themeIcon,
                            QStyle::StandardPixmap fallback, const QString &caption,
                            const QString &toolTip)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(objectName);
    QIcon icon = QIcon::fromTheme(themeIcon);
    if (icon.isNull())
        icon = button->style()->standardIcon(fallback);
    button->setIcon(icon);
    button->setIconSize(QSize(24, 24));
    button->setAutoRaise(true);
    if (!caption.isEmpty()) {
        button->setText(caption);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    }
    if (!toolTip.isEmpty())
        button->setToolTip(toolTip);
    // What a screen reader says: the caption on one line, or the tool tip of
    // a button that shows its icon alone.
    QString name = caption.isEmpty() ? toolTip : caption;
    button->setAccessibleName(name.replace(QLatin1Char('\n'), QLatin1Char(' ')));
    return button;
}

QPushButton *NewPushButton(QWidget *parent, const QString &objectName, const QString &caption,
                           bool autoDefault)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(objectName);
    button->setAutoDefault(autoDefault);
    return button;
}

QLineEdit *NewLineEdit(QWidget *parent, const QString &objectName)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(objectName);
    RemoveLengthLimit(edit);
    return edit;
}

void RemoveLengthLimit(QLineEdit *edit)
{
    edit->setMaxLength(std::numeric_limits<int>::max());
}

QHBoxLayout *ButtonRow(std::initializer_list<QWidget *> buttons)
{
    return CommandRow({}, buttons);
}

QHBoxLayout *CommandRow(std::initializer_list<QWidget *> left,
                        std::initializer_list<QWidget *> right)
{
    auto *row = new QHBoxLayout;
    for (QWidget *control : left)
        row->addWidget(control);
    row->addStretch();
    for (QWidget *control : right)
        row->addWidget(control);
    return row;
}

QSplitter *NewSplitter(QWidget *parent, const QString &objectName, Qt::Orientation orientation,
                       std::initializer_list<SplitterPane> panes)
{
    auto *splitter = new QSplitter(orientation, parent);
    splitter->setObjectName(objectName);
    for (const SplitterPane &pane : panes)
        splitter->addWidget(pane.widget);
    int index = 0;
    QList<int> sizes;
    for (const SplitterPane &pane : panes) {
        splitter->setStretchFactor(index++, pane.stretch);
        sizes.push_back(pane.size);
    }
    splitter->setSizes(sizes);
    return splitter;
}

namespace {

// A widget that shows a caption, with its object name.
template <typename Widget>
Widget *NewCaptioned(QWidget *parent, const QString &objectName, const QString &caption)
{
    auto *widget = new Widget(caption, parent);
    widget->setObjectName(objectName);
    return widget;
}

} // namespace

QLabel *NewLabel(QWidget *parent, const QString &objectName, const QString &caption, QWidget *buddy)
{
    QLabel *label = NewCaptioned<QLabel>(parent, objectName, caption);
    if (buddy)
        label->setBuddy(buddy);
    return label;
}

QCheckBox *NewCheckBox(QWidget *parent, const QString &objectName, const QString &caption)
{
    return NewCaptioned<QCheckBox>(parent, objectName, caption);
}

QRadioButton *NewRadioButton(QWidget *parent, const QString &objectName, const QString &caption)
{
    return NewCaptioned<QRadioButton>(parent, objectName, caption);
}

QGroupBox *NewGroupBox(QWidget *parent, const QString &objectName, const QString &title)
{
    return NewCaptioned<QGroupBox>(parent, objectName, title);
}

QComboBox *NewDropDownList(QWidget *parent, const QString &objectName,
                           const std::vector<std::string> &items)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(objectName);
    for (const std::string &item : items)
        box->addItem(SjisToQString(item));
    return box;
}

std::filesystem::path PathFromQString(const QString &fileName)
{
    return std::filesystem::path(QFile::encodeName(fileName).toStdString());
}

QString QStringFromPath(const std::filesystem::path &path)
{
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

std::filesystem::path ChosenFile(const QFileDialog &dialog)
{
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? std::filesystem::path() : PathFromQString(chosen.front());
}

} // namespace vostrel
