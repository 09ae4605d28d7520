// Small building blocks shared by the windows.
#pragma once

#include <QString>
#include <QStringList>
#include <QStyle>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSplitter;
class QToolButton;
class QWidget;

namespace vostrel {

// The program's one icon theme, Breeze, set at start-up so that every desktop
// shows the same pictures.
inline constexpr const char *kIconTheme = "breeze";
void UseProgramIconTheme();

// Qt's own texts (the buttons of message boxes, the file dialogs, the context
// menus of text fields and of the HTML source editor) in Japanese, whatever
// the system's locale, since the program's own texts are Japanese: the
// catalogues qtbase_ja, qtwebengine_ja and qscintilla_ja of Qt's translation
// folder. A catalogue that is missing is skipped; without qscintilla_ja the
// source editor's menu takes the texts of the line edits' menu. Returns the
// catalogues loaded (a second call loads nothing more and returns the same).
QStringList UseJapaneseQtTexts();

// An image button: an icon of the program's theme (themeIcon), or the style's
// own fallback picture when the theme is not installed; with an optional
// caption beside the icon and a tooltip. Its accessible name is the caption,
// or the tool tip when it has none (every button without a caption needs one).
QToolButton *NewImageButton(QWidget *parent, const QString &objectName, const QString &themeIcon,
                            QStyle::StandardPixmap fallback, const QString &caption = {},
                            const QString &toolTip = {});

// A push button with its object name and caption. autoDefault false keeps
// Enter from pressing it when another control has the focus.
QPushButton *NewPushButton(QWidget *parent, const QString &objectName, const QString &caption,
                           bool autoDefault = true);

// A one-line edit with its object name and no length limit (a line edit
// otherwise cuts what it is given at 32,767 characters).
QLineEdit *NewLineEdit(QWidget *parent, const QString &objectName);
// Lifts the length limit of an existing line edit (the one inside an
// editable drop-down, say).
void RemoveLengthLimit(QLineEdit *edit);

// The row of buttons at the bottom of a dialog, aligned to the right.
QHBoxLayout *ButtonRow(std::initializer_list<QWidget *> buttons);
// A row of controls: those on the left, a stretch, those on the right.
QHBoxLayout *CommandRow(std::initializer_list<QWidget *> left,
                        std::initializer_list<QWidget *> right);

// One pane of a splitter: its widget, its stretch factor and its first size.
struct SplitterPane
{
    QWidget *widget;
    int stretch;
    int size;
};
// A splitter with its object name and its panes in order.
QSplitter *NewSplitter(QWidget *parent, const QString &objectName, Qt::Orientation orientation,
                       std::initializer_list<SplitterPane> panes);

// A label with its object name and caption; with a buddy, the control its
// mnemonic moves the focus to.
QLabel *NewLabel(QWidget *parent, const QString &objectName, const QString &caption,
                 QWidget *buddy = nullptr);
// A check box, a radio button and a group box with their object names and
// captions.
QCheckBox *NewCheckBox(QWidget *parent, const QString &objectName, const QString &caption);
QRadioButton *NewRadioButton(QWidget *parent, const QString &objectName, const QString &caption);
QGroupBox *NewGroupBox(QWidget *parent, const QString &objectName, const QString &title = {});
// A drop-down list with its object name, offering the items (Shift_JIS) in
// their order.
QComboBox *NewDropDownList(QWidget *parent, const QString &objectName,
                           const std::vector<std::string> &items);

// A file name as the windows hold it (a file dialog's choice, a setting) and
// the path of the file: the name's bytes in the file system's encoding
// (QFile::encodeName, QFile::decodeName).
std::filesystem::path PathFromQString(const QString &fileName);
QString QStringFromPath(const std::filesystem::path &path);
// The first file chosen in a file dialog, or an empty path when none was.
std::filesystem::path ChosenFile(const QFileDialog &dialog);

} // namespace vostrel
