// The progress window of the password change.
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;

namespace vostrel {

class TFormConfigProgress : public QDialog
{
    Q_OBJECT
public:
    explicit TFormConfigProgress(QWidget *parent = nullptr);

    QProgressBar *ProgressBar;
    QLabel *lblProgress;
};

} // namespace vostrel
