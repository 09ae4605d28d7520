#include "core/UnitFormConfigProgress.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace vostrel {

TFormConfigProgress::TFormConfigProgress(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("TFormConfigProgress"));
    setWindowTitle(QStringLiteral("進捗状況"));
    setModal(false);
    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    lblProgress = new QLabel(this);
    lblProgress->setObjectName(QStringLiteral("lblProgress"));
    lblProgress->setAlignment(Qt::AlignCenter);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblProgress);
    layout->addWidget(ProgressBar);
    setMinimumWidth(360);
}

} // namespace vostrel
