#include "app/VostrelApp.h"

#include "compose/HtmlToolBar.h"
#include "compose/SignatureMenu.h"
#include "compose/UnitFontDialog.h"
#include "compose/UnitLinkDialog.h"
#include "compose/UnitMailMake.h"
#include "compose/UnitMailMakeMsg_Close.h"
#include "compose/UnitMailMakeMsg_Show.h"
#include "compose/UnitMapLink.h"
#include "compose/UnitMidashiDialog.h"
#include "compose/UnitSignatureEdit.h"
#include "core/DialogService.h"
#include "core/ErrorReporting.h"
#include "core/UnitCreatePass.h"
#include "core/UnitFormConfigProgress.h"
#include "core/UnitLoginPass.h"
#include "core/UnitSoftConfig.h"
#include "destinations/DestinationStore.h"
#include "destinations/UnitAddDestination.h"
#include "destinations/UnitAddMailList.h"
#include "destinations/UnitAddReceivers.h"
#include "destinations/UnitCsvImport.h"
#include "destinations/UnitCsvImportError.h"
#include "destinations/UnitDestinationList.h"
#include "history/UnitMain.h"
#include "history/UnitVersion.h"
#include "send/SendJournal.h"
#include "send/SendLogRekey.h"
#include "send/UnitSendProgress.h"
#include "senders/SenderAccount.h"
#include "senders/UnitAddSender.h"
#include "senders/UnitSenderConfig.h"

namespace vostrel {

bool TVostrelApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
        ReportError(activeWindow(), e);
    } catch (...) {
        ShowError(activeWindow(), QStringLiteral("予期しないエラーが発生しました"));
    }
    return false;
}

TVostrelApp::TVostrelApp()
{
    // The record files that a password change rewrites, each kind supplied
    // by the subsystem that owns its layout.
    RegisterDestinationsRekeyKinds();
    RegisterSendersRekeyKinds();
    RegisterSendRekeyKinds();
    // A restore waits until a send run that did not end is accounted for.
    RegisterSendJournalRestoreGuard();
    // The main window first: its creation prepares the data folder. The
    // others follow in the order of the program's window list, except that a
    // window given to another at its creation comes just before it.
    FormMain = std::make_unique<TFormMain>();
    QWidget *main = FormMain.get();
    FormAddSender = std::make_unique<TFormAddSender>(main);
    FormSenderConfig = std::make_unique<TFormSenderConfig>(*FormAddSender, main);
    FormMailMake = std::make_unique<TFormMailMake>(main);
    FormAddDestination = std::make_unique<TFormAddDestination>(main);
    FormAddReceivers = std::make_unique<TFormAddReceivers>(main);
    FormDestinationList =
        std::make_unique<TFormDestinationList>(*FormAddDestination, *FormAddReceivers, main);
    FormAddMailList = std::make_unique<TFormAddMailList>(main);
    FormMapLink = std::make_unique<TFormMapLink>(*FormMailMake, main);
    FormConfig = std::make_unique<TFormConfig>(FormMain.get());
    FormSendProgress = std::make_unique<TFormSendProgress>(main);
    FormLoginPass = std::make_unique<TFormLoginPass>(FormMain.get());
    FormCreatePass = std::make_unique<TFormCreatePass>(FormMain.get());
    FormCsvImport = std::make_unique<TFormCsvImport>(main);
    FormSignatureEdit = std::make_unique<TFormSignatureEdit>(main);
    FormTagDialog = std::make_unique<TFormTagDialog>(main);
    FormLinkDialog = std::make_unique<TFormLinkDialog>(main);
    FormMidashiDialog = std::make_unique<TFormMidashiDialog>(main);
    FormVersion = std::make_unique<TFormVersion>(main);
    FormCsvImportError = std::make_unique<TFormCsvImportError>(main);
    FormMailMakeMsg_Close = std::make_unique<TFormMailMakeMsg_Close>(main);
    FormMailMakeMsg_Show = std::make_unique<TFormMailMakeMsg_Show>(main);
    FormConfigProgress = std::make_unique<TFormConfigProgress>(FormMain.get());

    FormCsvImport->SetErrorDialog(FormCsvImportError.get());
    FormDestinationList->SetCsvImport(FormCsvImport.get());

    TFormMailMake::Links compose;
    compose.picker = FormAddMailList.get();
    compose.closeQuestion = FormMailMakeMsg_Close.get();
    compose.sendProgress = FormSendProgress.get();
    compose.openMapLink = [this] { FormMapLink->ShowMapLink(); };
    // The tool bar and the signature menu belong to the compose window.
    new THtmlTagCommands(*FormMailMake, *FormTagDialog, *FormLinkDialog, *FormMidashiDialog);
    auto *signatureMenu = new TSignatureMenu(*FormMailMake, *FormSignatureEdit);
    compose.openSignatureMenu = [signatureMenu](const QPoint &at) { signatureMenu->Popup(at); };
    FormMailMake->SetLinks(std::move(compose));

    TFormMain::Links links;
    links.loginPass = FormLoginPass.get();
    links.createPass = FormCreatePass.get();
    links.config = FormConfig.get();
    links.configProgress = FormConfigProgress.get();
    links.version = FormVersion.get();
    links.openCompose = [this] {
        OpenComposeFromMain(*FormMailMakeMsg_Show, *FormMailMakeMsg_Close, *FormMailMake);
    };
    links.composeKeepsDraft = [this] { return FormMailMakeMsg_Close->KeepDraft(); };
    links.resetCompose = [this] { FormMailMake->DiscardDraftFiles(); };
    links.openSenderConfig = [this] { FormSenderConfig->exec(); };
    links.openDestinationList = [this] { FormDestinationList->exec(); };
    FormMain->SetLinks(std::move(links));
    connect(FormMain.get(), &TFormMain::TerminateRequested, this, &TVostrelApp::TerminateRequested);
}

TVostrelApp::~TVostrelApp()
{
    // Dialogs are children of the main window: release them first.
    FormConfigProgress.reset();
    FormMailMakeMsg_Show.reset();
    FormMailMakeMsg_Close.reset();
    FormCsvImportError.reset();
    FormVersion.reset();
    FormMidashiDialog.reset();
    FormLinkDialog.reset();
    FormTagDialog.reset();
    FormSignatureEdit.reset();
    FormCsvImport.reset();
    FormCreatePass.reset();
    FormLoginPass.reset();
    FormSendProgress.reset();
    FormConfig.reset();
    FormMapLink.reset();
    FormAddMailList.reset();
    FormDestinationList.reset();
    FormAddReceivers.reset();
    FormAddDestination.reset();
    FormMailMake.reset();
    FormSenderConfig.reset();
    FormAddSender.reset();
    FormMain.reset();
}

void TVostrelApp::Start()
{
    FormMain->show();
}

} // namespace vostrel
