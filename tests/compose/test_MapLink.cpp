// The map link: the encoding checked against an independent encoder, the
// URL, and the dialog putting it into the compose window's editors.
#include "../destinations/WindowDriver.h"
#include "AuthoringDriver.h"

#include "compose/MapLink.h"
#include "compose/QsciEditor.h"
#include "core/SjisCodec.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextCursor>

namespace vostrel::test {
namespace {

using namespace Qt::Literals::StringLiterals;

const QString kService = u"https://maps.google.co.jp/maps"_s;

// Python's form encoder, told to keep the same characters. It keeps "~"
// too, which the map link encodes.
QStringList PythonFormEncode(const QStringList &texts)
{
    const QString script =
        u"import sys, urllib.parse\n"
        "for line in sys.stdin.buffer.read().decode('utf-8').split('\\n')[:-1]:\n"
        "    print(urllib.parse.quote_plus(line, safe=\"*@$!'()\").replace('~', '%7E'))\n"_s;
    QString output;
    const int code = RunProgram(QStringLiteral(VOSTREL_PYTHON), {u"-c"_s, script}, &output,
                                (texts.join(u'\n') + u'\n').toUtf8());
    EXPECT_EQ(code, 0) << output.toStdString();
    QStringList lines = output.split(u'\n');
    lines.removeLast();
    return lines;
}

TEST(MapLinkTest, FormEncodingMatchesAnIndependentEncoderForEveryPrefectureAndAddress)
{
    const QStringList addresses = {
        u""_s,
        u"千代田区"_s,
        u"千代田区丸の内1-9-1"_s,
        u"千代田区 丸の内 1 - 9 - 1"_s,
        u"中央区銀座４－６－１６"_s,
        u"港区六本木６丁目１０−１"_s,
        u"札幌市北区北8条西5丁目"_s,
        u"那覇市おもろまち　３－１"_s,
        u"ABC Bldg. 3F (east) #201 'a' $5 @home! *x* a_b a+b a&b=c/d?e%f~g"_s,
        u"ｶﾀｶﾅ町 ①番地 Ⅱ号 髙橋ビル"_s,
    };
    // The encoder gets the texts as the program holds them: in Shift_JIS,
    // where the minus sign of the sixth address is the full-width hyphen.
    std::vector<std::string> texts;
    QStringList held;
    for (const std::string &prefecture : MapPrefectureItems()) {
        for (const QString &address : addresses) {
            texts.push_back(prefecture + QStringToSjis(address));
            held << SjisToQString(texts.back());
        }
    }
    const QStringList expected = PythonFormEncode(held);
    ASSERT_EQ(expected.size(), held.size());
    for (std::size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(QString::fromStdString(FormUrlEncode(texts[i])), expected[i])
            << held[i].toStdString();
}

TEST(MapLinkTest, FormEncodingOfTheWrittenExamples)
{
    EXPECT_EQ(FormUrlEncode("a b"), "a+b");
    EXPECT_EQ(FormUrlEncode(S("東")), "%E6%9D%B1");
    EXPECT_EQ(FormUrlEncode("AZaz09*@._-$!'()"), "AZaz09*@._-$!'()");
    EXPECT_EQ(FormUrlEncode("~+&=/?#%\""), "%7E%2B%26%3D%2F%3F%23%25%22");
    EXPECT_EQ(FormUrlEncode(S("－")), "%EF%BC%8D"); // the full-width hyphen
    EXPECT_EQ(FormUrlEncode(S("−")), "%EF%BC%8D");  // the minus sign, held as that hyphen
    EXPECT_EQ(FormUrlEncode(""), "");
}

TEST(MapLinkTest, ThePrefecturesAndZoomLevels)
{
    const auto &prefectures = MapPrefectureItems();
    ASSERT_EQ(prefectures.size(), 48u);
    EXPECT_EQ(prefectures[0], "");
    EXPECT_EQ(prefectures[1], S("北海道"));
    EXPECT_EQ(prefectures[13], S("東京都"));
    EXPECT_EQ(prefectures[47], S("沖縄県 "));
    const auto &zooms = MapZoomItems();
    ASSERT_EQ(zooms.size(), 22u);
    EXPECT_EQ(zooms.front(), "");
    EXPECT_EQ(zooms[1], "0");
    EXPECT_EQ(zooms.back(), "20");
}

TEST(MapLinkTest, TheUrlCarriesTheModeTheAddressAndTheZoom)
{
    MapLinkRequest request;
    request.prefecture = S("沖縄県 ");
    request.city = S("那覇市");
    EXPECT_EQ(BuildMapLink(request), kService.toStdString() +
                                         "?f=q&hl=ja&geocode=&q=" + FormUrlEncode(S("沖縄県")) +
                                         "+" + FormUrlEncode(S("那覇市")) + "&ie=UTF8");
    request.transit = true;
    request.zoom = "15";
    const std::string url = BuildMapLink(request);
    EXPECT_EQ(url.substr(kService.size(), 4), "?f=d");
    EXPECT_TRUE(url.ends_with("&ie=UTF8&z=15")) << url;
    EXPECT_TRUE(IsEmptyAddress(MapLinkRequest{}));
    EXPECT_FALSE(IsEmptyAddress(request));
}

class MapLinkDialogTest : public AuthoringTest
{
protected:
    // Clicks the map link button and runs action on the dialog.
    void WithDialog(std::function<void(QWidget *)> action)
    {
        bool shown = false;
        WhenModal(u"TFormMapLink"_s, [&](QWidget *w) {
            shown = true;
            action(w);
            if (w->isVisible())
                ClickButton(w, u"ButtonCancel"_s);
        });
        Click(u"PNGBtnMapLink"_s);
        EXPECT_TRUE(shown);
    }
    // Fills the dialog and presses "取得する"; the link shown.
    static QString Get(QWidget *w, const QString &town, const QString &city, const QString &rest,
                       bool transit = false, const QString &zoom = {})
    {
        Child<QComboBox>(w, u"CBTown"_s)->setCurrentText(town);
        TypeInto(w, u"EditAddress1"_s, city);
        TypeInto(w, u"EditAddress2"_s, rest);
        Child<QCheckBox>(w, u"CBGuid"_s)->setChecked(transit);
        Child<QComboBox>(w, u"CBEr"_s)->setCurrentText(zoom);
        ClickButton(w, u"ButtonGet"_s);
        return Child<QLineEdit>(w, u"EditMapLink"_s)->text();
    }
};

const QString kGot = u"地図リンク(URL)を取得しました"_s;
const QString kNoAddress = u"住所を入力してください"_s;
const QString kNoLink = u"地図リンク先(URL)が取得されていません"_s;

QString Query(const char *utf8)
{
    return QString::fromStdString(FormUrlEncode(S(utf8)));
}

TEST_F(MapLinkDialogTest, TheDialogsControlsAndTheirStartingState)
{
    Open();
    WithDialog([](QWidget *w) {
        EXPECT_EQ(w->windowTitle(), u"地図のリンク(URL)を取得"_s);
        auto *town = Child<QComboBox>(w, u"CBTown"_s);
        ASSERT_EQ(town->count(), 48);
        EXPECT_EQ(town->itemText(0), QString());
        EXPECT_EQ(town->itemText(47), u"沖縄県 "_s);
        EXPECT_EQ(town->currentText(), u"東京都"_s);
        EXPECT_FALSE(town->isEditable());
        auto *zoom = Child<QComboBox>(w, u"CBEr"_s);
        EXPECT_EQ(zoom->count(), 22);
        EXPECT_EQ(zoom->currentText(), QString());
        EXPECT_EQ(Child<QCheckBox>(w, u"CBGuid"_s)->text(), u"乗換案内を表示"_s);
        EXPECT_FALSE(Child<QCheckBox>(w, u"CBGuid"_s)->isChecked());
        EXPECT_TRUE(Child<QLineEdit>(w, u"EditMapLink"_s)->isReadOnly());
        QStringList labels;
        for (auto *label : w->findChildren<QLabel *>())
            labels << label->text();
        for (const QString &caption :
             {u"都道府県"_s, u"市区町村"_s, u"町名・番地以降"_s, u"拡大縮小率(0～20)"_s})
            EXPECT_TRUE(labels.contains(caption)) << caption.toStdString();
        EXPECT_EQ(Child<QAbstractButton>(w, u"ButtonGet"_s)->text(), u"取得する"_s);
        EXPECT_EQ(Child<QAbstractButton>(w, u"ButtonCancel"_s)->text(), u"キャンセル"_s);
    });
}

TEST_F(MapLinkDialogTest, AnyAddressFieldMayBeEmptyAndTheOptionsShowInTheLink)
{
    Open();
    WithDialog([](QWidget *w) {
        // 東京都 alone builds a link.
        EXPECT_EQ(Get(w, u"東京都"_s, {}, {}),
                  kService + u"?f=q&hl=ja&geocode=&q="_s + Query("東京都") + u"&ie=UTF8"_s);
        // All three empty: a message, the link as it was.
        EXPECT_EQ(Get(w, {}, {}, {}),
                  kService + u"?f=q&hl=ja&geocode=&q="_s + Query("東京都") + u"&ie=UTF8"_s);
        // The city alone.
        EXPECT_EQ(Get(w, {}, u"札幌市"_s, {}),
                  kService + u"?f=q&hl=ja&geocode=&q="_s + Query("札幌市") + u"&ie=UTF8"_s);
        // Transit guidance and a zoom.
        EXPECT_EQ(Get(w, u"大阪府"_s, u"大阪市北区"_s, u"梅田 3-1－1"_s, true, u"15"_s),
                  kService + u"?f=d&hl=ja&geocode=&q="_s + Query("大阪府大阪市北区梅田") +
                      u"+3-1"_s + Query("－") + u"1&ie=UTF8&z=15"_s);
        // Okinawa's item ends in a space.
        EXPECT_EQ(Get(w, u"沖縄県 "_s, u"那覇市"_s, {}, false, u"0"_s),
                  kService + u"?f=q&hl=ja&geocode=&q="_s + Query("沖縄県") + u"+"_s +
                      Query("那覇市") + u"&ie=UTF8&z=0"_s);
    });
    EXPECT_EQ(dialogs.Texts(), (QStringList{kGot, kNoAddress, kGot, kGot, kGot}));
}

TEST_F(MapLinkDialogTest, OkWithoutALinkKeepsTheDialogOpen)
{
    Open();
    WithDialog([this](QWidget *w) {
        TypeInto(w, u"EditAddress1"_s, u"渋谷区"_s);
        ClickButton(w, u"ButtonOk"_s);
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(dialogs.Texts(), QStringList{kNoLink});
    });
    EXPECT_TRUE(Memo()->toPlainText().isEmpty());
    EXPECT_FALSE(form->State().draftEdited);
}

TEST_F(MapLinkDialogTest, OkInsertsTheLinkBuiltEvenAfterTheAddressChanged)
{
    Open();
    QTest::keyClicks(Memo(), u"Map: HERE."_s);
    QTextCursor cursor = Memo()->textCursor();
    cursor.setPosition(5);
    cursor.setPosition(9, QTextCursor::KeepAnchor);
    Memo()->setTextCursor(cursor);
    Edit(u"EditTitle"_s)->setFocus(); // the memo need not have the focus
    QString link;
    WithDialog([&](QWidget *w) {
        link = Get(w, u"京都府"_s, u"京都市"_s, {});
        TypeInto(w, u"EditAddress1"_s, u"宇治市"_s);
        ClickButton(w, u"ButtonOk"_s);
        EXPECT_FALSE(w->isVisible());
    });
    EXPECT_EQ(Memo()->toPlainText(), u"Map: "_s + link + u"."_s);
    EXPECT_TRUE(link.contains(Query("京都市")));
    EXPECT_TRUE(Edit(u"EditTitle"_s)->text().isEmpty());
}

TEST_F(MapLinkDialogTest, OnTheHtmlPageTheLinkIsAnUndoableEditAndOnThePreviewNothing)
{
    OpenHtml(u"<p>x</p>"_s);
    Syn()->setCursorPosition(0, 3);
    QString link;
    WithDialog([&](QWidget *w) {
        link = Get(w, u"東京都"_s, u"港区"_s, {});
        ClickButton(w, u"ButtonOk"_s);
    });
    EXPECT_EQ(Syn()->text(), u"<p>"_s + link + u"x</p>"_s);
    EXPECT_TRUE(form->State().draftEdited);
    Syn()->undo();
    EXPECT_EQ(Syn()->text(), u"<p>x</p>"_s);

    ClickPage(ComposePage::Preview);
    WithDialog([&](QWidget *w) {
        Get(w, u"東京都"_s, u"港区"_s, {});
        ClickButton(w, u"ButtonOk"_s);
        EXPECT_FALSE(w->isVisible());
    });
    ClickPage(ComposePage::Html);
    EXPECT_EQ(Syn()->text(), u"<p>x</p>"_s);
    EXPECT_TRUE(Memo()->toPlainText().isEmpty());
}

TEST_F(MapLinkDialogTest, OpeningAgainKeepsThePrefectureAndEmptiesTheRest)
{
    Open();
    WithDialog([](QWidget *w) { Get(w, u"福岡県"_s, u"福岡市"_s, u"天神1"_s, true, u"12"_s); });
    WithDialog([](QWidget *w) {
        EXPECT_EQ(Child<QComboBox>(w, u"CBTown"_s)->currentText(), u"福岡県"_s);
        for (const QString &name : {u"EditAddress1"_s, u"EditAddress2"_s, u"EditMapLink"_s})
            EXPECT_TRUE(Child<QLineEdit>(w, name)->text().isEmpty()) << name.toStdString();
        EXPECT_EQ(Child<QComboBox>(w, u"CBEr"_s)->currentIndex(), 0);
        EXPECT_FALSE(Child<QCheckBox>(w, u"CBGuid"_s)->isChecked());
    });
}

} // namespace
} // namespace vostrel::test
