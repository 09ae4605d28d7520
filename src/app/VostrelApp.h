// The application object: creates every window once, owns them for the life
// of the process, and connects them.
#pragma once

#include <QApplication>
#include <QObject>
#include <memory>

namespace vostrel {

class TFormMain;
class TFormLoginPass;
class TFormCreatePass;
class TFormConfig;
class TFormConfigProgress;
class TFormSenderConfig;
class TFormAddSender;
class TFormDestinationList;
class TFormAddDestination;
class TFormAddReceivers;
class TFormAddMailList;
class TFormCsvImport;
class TFormCsvImportError;
class TFormMailMake;
class TFormMailMakeMsg_Close;
class TFormMailMakeMsg_Show;
class TFormSendProgress;
class TFormMapLink;
class TFormSignatureEdit;
class TFormTagDialog;
class TFormLinkDialog;
class TFormMidashiDialog;
class TFormVersion;

// QApplication that reports an exception escaping an event handler instead
// of ending the program.
class TVostrelApplication : public QApplication
{
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override;
};

class TVostrelApp : public QObject
{
    Q_OBJECT
public:
    TVostrelApp();
    ~TVostrelApp() override;

    // Shows the main window; its first show runs the password step.
    void Start();

    TFormMain &Main() { return *FormMain; }
    TFormLoginPass &LoginPass() { return *FormLoginPass; }
    TFormCreatePass &CreatePass() { return *FormCreatePass; }
    TFormConfig &Config() { return *FormConfig; }
    TFormConfigProgress &ConfigProgress() { return *FormConfigProgress; }
    TFormSenderConfig &SenderConfig() { return *FormSenderConfig; }
    TFormAddSender &AddSender() { return *FormAddSender; }
    TFormDestinationList &DestinationList() { return *FormDestinationList; }
    TFormAddDestination &AddDestination() { return *FormAddDestination; }
    TFormAddReceivers &AddReceivers() { return *FormAddReceivers; }
    TFormAddMailList &AddMailList() { return *FormAddMailList; }
    TFormCsvImport &CsvImport() { return *FormCsvImport; }
    TFormCsvImportError &CsvImportError() { return *FormCsvImportError; }
    TFormMailMake &MailMake() { return *FormMailMake; }
    TFormMailMakeMsg_Close &MailMakeMsgClose() { return *FormMailMakeMsg_Close; }
    TFormMailMakeMsg_Show &MailMakeMsgShow() { return *FormMailMakeMsg_Show; }
    TFormSendProgress &SendProgress() { return *FormSendProgress; }
    TFormMapLink &MapLink() { return *FormMapLink; }
    TFormSignatureEdit &SignatureEdit() { return *FormSignatureEdit; }
    TFormTagDialog &TagDialog() { return *FormTagDialog; }
    TFormLinkDialog &LinkDialog() { return *FormLinkDialog; }
    TFormMidashiDialog &MidashiDialog() { return *FormMidashiDialog; }
    TFormVersion &Version() { return *FormVersion; }

Q_SIGNALS:
    // The password step was cancelled.
    void TerminateRequested();

private:
    std::unique_ptr<TFormMain> FormMain;
    std::unique_ptr<TFormAddSender> FormAddSender;
    std::unique_ptr<TFormSenderConfig> FormSenderConfig;
    std::unique_ptr<TFormMailMake> FormMailMake;
    std::unique_ptr<TFormAddDestination> FormAddDestination;
    std::unique_ptr<TFormAddReceivers> FormAddReceivers;
    std::unique_ptr<TFormDestinationList> FormDestinationList;
    std::unique_ptr<TFormAddMailList> FormAddMailList;
    std::unique_ptr<TFormMapLink> FormMapLink;
    std::unique_ptr<TFormConfig> FormConfig;
    std::unique_ptr<TFormSendProgress> FormSendProgress;
    std::unique_ptr<TFormLoginPass> FormLoginPass;
    std::unique_ptr<TFormCreatePass> FormCreatePass;
    std::unique_ptr<TFormCsvImport> FormCsvImport;
    std::unique_ptr<TFormSignatureEdit> FormSignatureEdit;
    std::unique_ptr<TFormTagDialog> FormTagDialog;
    std::unique_ptr<TFormLinkDialog> FormLinkDialog;
    std::unique_ptr<TFormMidashiDialog> FormMidashiDialog;
    std::unique_ptr<TFormVersion> FormVersion;
    std::unique_ptr<TFormCsvImportError> FormCsvImportError;
    std::unique_ptr<TFormMailMakeMsg_Close> FormMailMakeMsg_Close;
    std::unique_ptr<TFormMailMakeMsg_Show> FormMailMakeMsg_Show;
    std::unique_ptr<TFormConfigProgress> FormConfigProgress;
};

} // namespace vostrel
