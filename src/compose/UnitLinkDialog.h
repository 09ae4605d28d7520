// The link dialog of the hyperlink, anchor and link-to-anchor commands. Its
// fields are never cleared: each use starts from the last entries.
#pragma once

#include "compose/HtmlTags.h"

#include <QDialog>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

namespace vostrel {

class TFormLinkDialog : public QDialog
{
    Q_OBJECT
public:
    explicit TFormLinkDialog(QWidget *parent = nullptr);

    // Shows the dialog for command (Hyperlink, Anchor or JumpToAnchor)
    // modally: "URL" with the target group for a hyperlink, "アンカー名"
    // without it otherwise. True for "OK".
    bool Execute(TagCommand command);

    QString LinkText() const;
    bool UsesTarget() const;
    QString TargetText() const;
    // The tag texts of command for the entries. Throws ConversionError when
    // an entry holds a character Shift_JIS cannot hold.
    TagTexts Tags(TagCommand command) const;

private:
    QGroupBox *GBLink;
    QLineEdit *EditLink;
    QGroupBox *GBTarget;
    QCheckBox *CBTarget;
    QLineEdit *EditTarget;
    QPushButton *BtnConfig;
    QPushButton *BtnCencel;
};

} // namespace vostrel
