// Small building blocks shared by the windows.
#pragma once

#include <QString>
#include <QStyle>

class QToolButton;
class QWidget;

namespace vostrel {

// An image button: an icon from the desktop theme (themeIcon), or the style's
// own fallback picture when the theme has none; with an optional caption
// beside the icon and a tooltip.
QToolButton *NewImageButton(QWidget *parent, const QString &objectName, const QString &themeIcon,
                            QStyle::StandardPixmap fallback, const QString &caption = {},
                            const QString &toolTip = {});

} // namespace vostrel
