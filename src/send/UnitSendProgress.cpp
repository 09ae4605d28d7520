#include "send/UnitSendProgress.h"

#include "core/ErrorReporting.h"
#include "core/UiHelpers.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

namespace vostrel {

using namespace Qt::Literals::StringLiterals;

namespace {

int ClampToInt(qint64 value)
{
    return static_cast<int>(std::clamp<qint64>(value, 0, std::numeric_limits<int>::max()));
}

} // namespace

TFormSendProgress::TFormSendProgress(QWidget *parent)
    : QDialog(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(u"TFormSendProgress"_s);
    setWindowTitle(u"送信しています..."_s);
    // Shown with show(), not exec(): the send button goes on waiting for the
    // run. Modal all the same, so nothing else can be started meanwhile.
    setWindowModality(Qt::ApplicationModal);

    lblSenderName = new QLabel(this);
    lblSenderName->setObjectName(u"lblSenderName"_s);
    lblSendMsg = new QLabel(this);
    lblSendMsg->setObjectName(u"lblSendMsg"_s);
    lblSendMsg->setAlignment(Qt::AlignCenter);
    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(u"ProgressBar"_s);
    ProgressBar->setTextVisible(false);
    BtnSendStop = NewPushButton(this, u"BtnSendStop"_s, u"送信の中断"_s, false);
    LabelCancelMsg = NewLabel(this, u"LabelCancelMsg"_s, u"キャンセルしています..."_s);
    LabelCancelMsg->setStyleSheet(u"color: red;"_s);
    lblFailedCount = new QLabel(this);
    lblFailedCount->setObjectName(u"lblFailedCount"_s);
    lblFailedCount->setAlignment(Qt::AlignCenter);
    lblFailedCount->setStyleSheet(u"color: red;"_s);
    lblWaitMsg = new QLabel(this);
    lblWaitMsg->setObjectName(u"lblWaitMsg"_s);
    lblWaitMsg->setWordWrap(true);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblSenderName);
    layout->addWidget(lblSendMsg);
    layout->addWidget(lblFailedCount);
    layout->addWidget(lblWaitMsg);
    layout->addWidget(ProgressBar);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(LabelCancelMsg);
    bottom->addStretch();
    bottom->addWidget(BtnSendStop);
    layout->addLayout(bottom);
    setMinimumWidth(380);

    connect(BtnSendStop, &QPushButton::clicked, this,
            Guarded(this, &TFormSendProgress::BtnSendStopClick));
    FormShow();
}

void TFormSendProgress::showEvent(QShowEvent *event)
{
    FormShow();
    QDialog::showEvent(event);
}

void TFormSendProgress::FormShow()
{
    stop_.store(false);
    lblSenderName->clear();
    lblSendMsg->setText(u"0/0送信中"_s);
    ProgressBar->setRange(0, 1);
    ProgressBar->setValue(0);
    BtnSendStop->setEnabled(true);
    LabelCancelMsg->hide();
    lblFailedCount->clear();
    lblFailedCount->hide();
    lblWaitMsg->clear();
    lblWaitMsg->hide();
}

void TFormSendProgress::ShowWaiting(const QString &text)
{
    lblWaitMsg->setText(text);
    lblWaitMsg->setVisible(!text.isEmpty());
}

void TFormSendProgress::ShowFailed(qint64 failed)
{
    lblFailedCount->setText(u"失敗 %1 件"_s.arg(failed));
    lblFailedCount->show();
}

void TFormSendProgress::ShowPosition(qint64 position, qint64 total)
{
    lblSendMsg->setText(QString::number(position) + u'/' + QString::number(total) + u"送信中"_s);
    ProgressBar->setMaximum(ClampToInt(total));
    ProgressBar->setValue(ClampToInt(position));
}

void TFormSendProgress::ShowSender(const QString &accountName)
{
    lblSenderName->setText(u"送信元："_s + accountName);
}

void TFormSendProgress::BtnSendStopClick()
{
    stop_.store(true);
    BtnSendStop->setEnabled(false);
    LabelCancelMsg->show();
}

void TFormSendProgress::closeEvent(QCloseEvent *event)
{
    if (running_)
        event->ignore();
    else
        QDialog::closeEvent(event);
}

void TFormSendProgress::reject()
{
    // Escape does not end a run; the stop button does.
    if (!running_)
        QDialog::reject();
}

} // namespace vostrel
