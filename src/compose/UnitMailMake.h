// The compose window: one mail being put together (senders, destination
// lists, send mode, subject, a text or HTML body, attachments, inline
// pictures, pacing), kept in memory between openings when the user wishes,
// and handed to the send engine.
#pragma once

#include "compose/MailDraft.h"
#include "compose/Preview.h"
#include "core/TextFile.h"
#include "destinations/UnitAddMailList.h"
#include "send/SendEngine.h"
#include "send/StartSend.h"

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QToolButton;
class QWebEngineView;
class QsciScintilla;

namespace vostrel {

class TFormMailMakeMsg_Close;
class TFormSendProgress;

class TFormMailMake : public QDialog
{
    Q_OBJECT
public:
    // The windows this one uses; the application object creates them and
    // hands them over.
    struct Links
    {
        TFormAddMailList *picker = nullptr;
        TFormMailMakeMsg_Close *closeQuestion = nullptr;
        TFormSendProgress *sendProgress = nullptr;
        RunSendOptions sendOptions;
        // The map link dialog (the button is disabled while this is empty).
        std::function<void()> openMapLink;
        // The signature menu at a screen position (disabled while empty).
        std::function<void(const QPoint &)> openSignatureMenu;
    };

    explicit TFormMailMake(QWidget *parent = nullptr);
    void SetLinks(Links links);

    // Keeps the draft or starts a new mail; runs each time the window is shown.
    void OpenCompose();
    // Chooses the names of the sender, To, Cc or Bcc field with the picker.
    void PickNames(PickerKind kind);
    // Copies the chosen files into the work folder and lists them; a file
    // whose name is listed already is refused with a message naming it.
    void AddAttachment();
    // Deletes every attachment copy and empties the list.
    void ResetAttachments();
    // Puts "<#-" + label + "->" (label in Shift_JIS) into the focused editor.
    void InsertMergeTag(const std::string &label);
    void ReadTextFile();
    void WriteTextFile();
    // Deletes the attachment copies, the inline pictures and the preview file.
    void DiscardDraftFiles();
    // The close rules: true when the window may close.
    bool CloseCompose();

    // The fields as they stand. Throws ConversionError when a typed text holds
    // a character Shift_JIS cannot hold.
    MailDraft Draft() const;
    const ComposeState &State() const { return state_; }
    // CBMailMakeDataFlg of the close question: the draft is kept.
    bool KeepsDraft() const;

    // For the HTML tag commands, the signatures and the map link.
    QsciScintilla *HtmlEditor() const { return SynMemo; }
    QPlainTextEdit *TextEditor() const { return MemoMailText; }
    QLineEdit *SubjectEditor() const { return EditTitle; }
    // The tool bar place of the HTML page (empty until the tag commands fill it).
    QWidget *HtmlToolArea() const { return PanelHtmlTool; }
    // Records an inline picture copied into PictureFolder().
    void AddInlinePicture(const std::string &pictureName);
    ComposePage CurrentPage() const;

    void PNGBtnMailSendClick();
    void PNGBtnTextReadClick() { ReadTextFile(); }
    void PNGBtnTextWriteClick() { WriteTextFile(); }

public Q_SLOTS:
    // Every close (the close button, the window's own close, Escape) goes
    // through the close rules.
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    enum class NameField
    {
        Senders,
        To,
        Cc,
        Bcc,
        Attachments
    };
    void SetNameField(NameField field, std::string names);
    std::string &NameText(NameField field);
    QLineEdit *NameEdit(NameField field) const;
    void UpdateSendModeCaptions();
    void RBBulkToggled(bool checked);

    void PageControlMailTextChange(int index);
    void EnterPage(ComposePage page);
    void GoBackToLastEditPage();
    void SetHtmlSource(const QString &text);
    void LoadHtmlTemplate();
    void ClearTextMemo();

    void EnterPreview();
    void RenderPreview();
    void EnsureBrowser();
    void StartNewMail();

    // The file chosen in one of the text file dialogs; empty when cancelled.
    QString ChooseFile(QFileDialog *&dialog, const QString &objectName, bool save,
                       const QString &filter);

    Links links_;
    ComposeState state_;
    ComposePage shownPage_ = ComposePage::Text;
    bool changingPageBack_ = false;
    bool loadingHtml_ = false;
    bool sending_ = false; // a send run is in progress
    PreviousRun lastRun_;  // the draft's last stopped or failed run
    TextEncoding htmlEncoding_ = TextEncoding::Utf16LE;

    std::string senders_, to_, cc_, bcc_, attachments_; // Shift_JIS, comma-joined
    std::vector<std::string> inlinePictures_;
    std::vector<PreviewRecipient> previewRecipients_;

    QWidget *PanelMain;
    QToolButton *PNGBtnMailSend;
    QToolButton *PNGBtnTextRead;
    QToolButton *PNGBtnTextWrite;
    QToolButton *PNGBtnClose;
    QRadioButton *RBIndividual;
    QRadioButton *RBBulk;
    QSpinBox *SpinEditSenderChange;
    QToolButton *PNGBtnSender;
    QLineEdit *EditSender;
    QToolButton *PNGBtnTo;
    QLineEdit *EditTo;
    QToolButton *PNGBtnCc;
    QLineEdit *EditCc;
    QCheckBox *CBCcOneSend;
    QToolButton *PNGBtnBcc;
    QLineEdit *EditBcc;
    QCheckBox *CBBccOneSend;
    QToolButton *PNGBtnAppended;
    QLineEdit *EditAppended;
    QToolButton *PNGBtnReset;
    QLineEdit *EditTitle;
    QTabWidget *PageControlMailText;
    QWidget *TabSheetText;
    QWidget *TabSheetHtml;
    QWidget *TabSheetBrowser;
    QPlainTextEdit *MemoMailText;
    QWidget *PanelHtmlTool;
    QsciScintilla *SynMemo;
    QWidget *PanelPreviewRecipient;
    QComboBox *ComboBoxPreviewRecipient;
    QWebEngineView *WebBrowser = nullptr;
    QSpinBox *SpinEditInterbal;
    QCheckBox *CBHtml;
    QCheckBox *CBListUnsubscribe;
    QLineEdit *EditUnsubscribeUrl;
    QToolButton *PNGBtnMapLink;
    QToolButton *PNGBtnSignature;
    QFileDialog *OpenDialog = nullptr;
    QFileDialog *OpenDialogText = nullptr;
    QFileDialog *SaveDialogText = nullptr;
};

} // namespace vostrel
