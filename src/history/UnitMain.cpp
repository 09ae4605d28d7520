#include "history/UnitMain.h"

#include "core/AppState.h"
#include "core/Backup.h"
#include "core/DataFolder.h"
#include "core/DialogService.h"
#include "core/ErrorReporting.h"
#include "core/Reencrypt.h"
#include "core/SjisCodec.h"
#include "core/UiHelpers.h"
#include "core/UnitCreatePass.h"
#include "core/UnitLoginPass.h"
#include "core/UnitSoftConfig.h"
#include "send/StartSend.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenuBar>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <filesystem>

namespace vostrel {

namespace fs = std::filesystem;

TFormMain::TFormMain(QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("TFormMain"));
    setWindowTitle(AppTitle());

    // The data folder tree, before anything reads it.
    const fs::path data = DefaultDataFolder();
    PrepareDataFolder(data);
    SetDataFolder(data);
    try {
        // A restore or a password change that a crash interrupted is
        // finished or undone before any record is read.
        RecoverInterruptedRestore();
        RecoverInterruptedKeyChange();
    } catch (const std::exception &e) {
        ReportError(this, e);
    }

    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("PanelMain"));
    PNGBtnSendList =
        NewImageButton(central, QStringLiteral("PNGBtnSendList"),
                       QStringLiteral("x-office-address-book"), QStyle::SP_FileDialogDetailedView,
                       QStringLiteral("送信先リスト"), QStringLiteral("送信先リストを開きます"));
    PNGBtnSenderList =
        NewImageButton(central, QStringLiteral("PNGBtnSenderList"),
                       QStringLiteral("network-server"), QStyle::SP_DriveNetIcon,
                       QStringLiteral("接続設定"), QStringLiteral("送信元の接続設定を開きます"));
    PNGBtnConfig =
        NewImageButton(central, QStringLiteral("PNGBtnConfig"), QStringLiteral("dialog-password"),
                       QStyle::SP_DialogApplyButton, QStringLiteral("パスワード"),
                       QStringLiteral("パスワードを設定します"));
    for (QToolButton *button : {PNGBtnSendList, PNGBtnSenderList, PNGBtnConfig})
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ListViewItemBox = new QTreeWidget(central);
    ListViewItemBox->setObjectName(QStringLiteral("ListViewItemBox"));
    ListViewItemBox->setHeaderLabels({QStringLiteral("送信者")});
    ListViewItemBox->setRootIsDecorated(false);
    ListViewItemBox->setSelectionMode(QAbstractItemView::SingleSelection);
    ListViewItemBox->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListViewItemBox->setEditTriggers(QAbstractItemView::NoEditTriggers);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(PNGBtnSendList);
    buttons->addWidget(PNGBtnSenderList);
    buttons->addWidget(PNGBtnConfig);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(central);
    layout->addLayout(buttons);
    layout->addWidget(ListViewItemBox);
    setCentralWidget(central);

    QMenu *file = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    QAction *openLists = file->addAction(QStringLiteral("送信先リストを開く(&O)"));
    openLists->setObjectName(QStringLiteral("MenuItemSendList"));
    QAction *quit = file->addAction(QStringLiteral("ソフトを終了(&E)"));
    quit->setObjectName(QStringLiteral("MenuItemClose"));
    QMenu *settings = menuBar()->addMenu(QStringLiteral("設定(&C)"));
    QAction *senders = settings->addAction(QStringLiteral("接続設定(&A)"));
    senders->setObjectName(QStringLiteral("MenuItemSenderList"));
    QAction *password = settings->addAction(QStringLiteral("パスワード設定(&P)"));
    password->setObjectName(QStringLiteral("MenuItemConfig"));

    connect(PNGBtnSendList, &QToolButton::clicked, this,
            Guarded(this, &TFormMain::PNGBtnSendListClick));
    connect(openLists, &QAction::triggered, this, Guarded(this, &TFormMain::PNGBtnSendListClick));
    connect(PNGBtnSenderList, &QToolButton::clicked, this,
            Guarded(this, &TFormMain::PNGBtnSenderListClick));
    connect(senders, &QAction::triggered, this, Guarded(this, &TFormMain::PNGBtnSenderListClick));
    connect(PNGBtnConfig, &QToolButton::clicked, this,
            Guarded(this, &TFormMain::PNGBtnConfigClick));
    connect(password, &QAction::triggered, this, Guarded(this, &TFormMain::PNGBtnConfigClick));
    connect(quit, &QAction::triggered, this, &QWidget::close);

    resize(900, 600);
}

void TFormMain::SetLinks(Links links)
{
    links_ = std::move(links);
}

void TFormMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!firstShowQueued_) {
        // The show routine runs once the window is on screen, from the event loop.
        firstShowQueued_ = true;
        QTimer::singleShot(0, this, Guarded(this, &TFormMain::FormShow));
    }
}

void TFormMain::FormShow()
{
    if (!firstShowDone_) {
        std::optional<std::string> key;
        const bool ok = RunGuarded(this, [&] {
            std::error_code ec;
            if (fs::exists(DataFolder() / "config.dat", ec))
                key = links_.loginPass ? LogIn(*links_.loginPass) : std::string(DefaultKey);
            else
                key = links_.createPass ? CreateFirstPassword(*links_.createPass)
                                        : std::string(DefaultKey);
        });
        if (!ok || !key) {
            Q_EMIT TerminateRequested();
            return;
        }
        SetCurrentKey(*key);
        // A send run that the end of the program cut short is accounted
        // for under the key, before the history shows its logs.
        ReportInterruptedSend(this);
    }
    firstShowDone_ = true;
    RefillSenderList();
}

void TFormMain::RefillSenderList()
{
    ListViewItemBox->clear();
    auto *all = new QTreeWidgetItem(ListViewItemBox, {QStringLiteral("すべての送信者")});
    for (const std::string &name : ListVslNames(DataFolder() / "Senders"))
        new QTreeWidgetItem(ListViewItemBox, {SjisToQString(name)});
    ListViewItemBox->setCurrentItem(all);
}

void TFormMain::RaiseAndActivate()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
    if (QWidget *modal = QApplication::activeModalWidget()) {
        modal->raise();
        modal->activateWindow();
    }
}

void TFormMain::PNGBtnSendListClick()
{
    if (links_.openDestinationList)
        links_.openDestinationList();
}

void TFormMain::PNGBtnSenderListClick()
{
    if (links_.openSenderConfig)
        links_.openSenderConfig();
    FormShow();
}

void TFormMain::PNGBtnConfigClick()
{
    if (links_.config && links_.configProgress)
        ChangePassword(*links_.config, *links_.configProgress, this);
}

bool TFormMain::FormCloseQuery()
{
    if (links_.composeKeepsDraft && links_.composeKeepsDraft()) {
        if (!AskYesNo(this,
                      QStringLiteral("メール作成画面に編集中のメール内容があります。ソフト終了時に"
                                     "編集中のメール内容は失われますがよろしいですか？")))
            return false;
    }
    if (links_.resetCompose)
        links_.resetCompose();
    std::error_code ec;
    fs::remove(WorkFolder() / "Preview_work.html", ec);
    fs::remove(WorkFolder() / "History_work.html", ec);
    return true;
}

void TFormMain::closeEvent(QCloseEvent *event)
{
    bool mayClose = true;
    RunGuarded(this, [&] { mayClose = FormCloseQuery(); });
    if (mayClose)
        event->accept();
    else
        event->ignore();
}

} // namespace vostrel
