#include "core/UiHelpers.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QToolButton>
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
    auto *row = new QHBoxLayout;
    row->addStretch();
    for (QWidget *button : buttons)
        row->addWidget(button);
    return row;
}

} // namespace vostrel
