#include "destinations/UnitAddReceivers.h"

#include "core/DialogService.h"
#include "core/ErrorReporting.h"
#include "core/SjisCodec.h"
#include "core/UiHelpers.h"
#include "destinations/AddressRules.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vostrel {

using namespace Qt::Literals::StringLiterals;

QStringList TFormAddReceivers::HonorificChoices()
{
    return {QString(), u"様"_s, u"殿"_s, u"さん"_s, u"宛て"_s, u"御中"_s,
            u"各位"_s, u"行"_s, u"係"_s, u"先生"_s, u"君"_s,   u"ちゃん"_s};
}

TFormAddReceivers::TFormAddReceivers(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"TFormAddReceivers"_s);
    setWindowTitle(u"宛先の追加"_s);
    setModal(true);

    auto *grid = new QGridLayout;
    auto addRow = [&](int row, const QString &caption, QWidget *field) {
        auto *label = new QLabel(caption, this);
        label->setBuddy(field);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
    };

    EditName = NewLineEdit(this, u"EditName"_s);
    EditName->setMinimumWidth(320);
    addRow(0, u"宛先名"_s, EditName);

    CBht = new QComboBox(this);
    CBht->setObjectName(u"CBht"_s);
    CBht->setEditable(true);
    RemoveLengthLimit(CBht->lineEdit());
    CBht->setInsertPolicy(QComboBox::NoInsert);
    CBht->addItems(HonorificChoices());
    addRow(1, u"敬称"_s, CBht);

    EditAddress = NewLineEdit(this, u"EditAddress"_s);
    addRow(2, u"メールアドレス"_s, EditAddress);

    for (int i = 0; i < 10; ++i) {
        QLineEdit *edit = NewLineEdit(this, u"Edit"_s + QString::number(i + 1));
        EditMerge[static_cast<std::size_t>(i)] = edit;
        addRow(3 + i, u"差込"_s + QString::number(i + 1), edit);
    }

    ButtonOK = NewPushButton(this, u"ButtonOK"_s, u"宛先を追加"_s);
    ButtonOK->setDefault(true);
    ButtonCancel = NewPushButton(this, u"ButtonCancel"_s, u"キャンセル"_s);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(ButtonRow({ButtonOK, ButtonCancel}));
    layout->setSizeConstraint(QLayout::SetFixedSize);

    QWidget *previous = EditName;
    auto chain = [&previous](QWidget *next) {
        QWidget::setTabOrder(previous, next);
        previous = next;
    };
    chain(CBht);
    chain(EditAddress);
    for (QLineEdit *edit : EditMerge)
        chain(edit);
    chain(ButtonOK);
    chain(ButtonCancel);

    // Escape closes the dialog with the cancel result, as the button does.
    connect(ButtonOK, &QPushButton::clicked, Guarded(this, &TFormAddReceivers::ButtonOKClick));
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TFormAddReceivers::Reset()
{
    EditName->clear();
    EditAddress->clear();
    for (QLineEdit *edit : EditMerge)
        edit->clear();
    CBht->setCurrentIndex(0);
    CBht->setEditText(QString());
    EditName->setFocus();
}

void TFormAddReceivers::SetValues(const Recipient &recipient)
{
    EditName->setText(SjisToQString(recipient.Name()));
    const QString honorific = SjisToQString(recipient.Honorific());
    const int choice = CBht->findText(honorific);
    if (choice >= 0)
        CBht->setCurrentIndex(choice);
    CBht->setEditText(honorific);
    EditAddress->setText(SjisToQString(recipient.Address()));
    for (int i = 0; i < 10; ++i)
        EditMerge[static_cast<std::size_t>(i)]->setText(SjisToQString(recipient.Merge(i + 1)));
    EditName->setFocus();
}

void TFormAddReceivers::SetCaptions(const QString &title, const QString &confirmCaption)
{
    setWindowTitle(title);
    ButtonOK->setText(confirmCaption);
}

QString TFormAddReceivers::FieldText(int i) const
{
    switch (i) {
    case 0:
        return EditName->text();
    case 1:
        return CBht->currentText();
    case 2:
        return EditAddress->text();
    default:
        return EditMerge[static_cast<std::size_t>(i - 3)]->text();
    }
}

void TFormAddReceivers::ButtonOKClick()
{
    // A character that cannot be stored stops here, with a message naming it.
    Recipient entered;
    for (int i = 0; i < Recipient::kFieldCount; ++i)
        entered.fields[static_cast<std::size_t>(i)] = QStringToSjis(FieldText(i));

    if (entered.Name().empty()) {
        ShowMessage(this, u"送信者名が入力されていません"_s);
        return;
    }
    const std::vector<std::string> problems = ValidateAddress(entered.Address());
    for (const std::string &problem : problems)
        ShowMessage(this, SjisToQString(problem));
    if (!problems.empty())
        return;

    values_ = std::move(entered);
    accept();
}

} // namespace vostrel
