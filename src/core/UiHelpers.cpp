#include "core/UiHelpers.h"

#include <QIcon>
#include <QToolButton>

namespace vostrel {

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

} // namespace vostrel
