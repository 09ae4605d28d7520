// CSV files of recipients: quoting and splitting, records over several
// lines, the encodings a file may have, the import table and mapping, and the
// files written; cross-checked against Python's csv module.
#include "ListFiles.h"

#include "core/AtomicFile.h"
#include "core/SjisCodec.h"
#include "destinations/CsvFile.h"
#include "destinations/DestinationStore.h"
#include "support/VostrelTest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;
using Fields = std::vector<std::string>;
using Rows = std::vector<Fields>;

using CsvFileTest = VostrelTest;

Fields Split(std::string_view line)
{
    TStringListEx list;
    list.push_back("left over");
    list.SplitCsvLine(line);
    return list;
}

Rows ReadRecords(std::string_view text)
{
    CsvRecordReader reader(text);
    TStringListEx fields;
    Rows rows;
    while (reader.Next(fields))
        rows.push_back(fields);
    EXPECT_EQ(reader.RecordsRead(), rows.size());
    return rows;
}

Rows ToSjis(const Rows &utf8)
{
    Rows rows = utf8;
    for (Fields &row : rows)
        for (std::string &field : row)
            field = Utf8ToSjis(field);
    return rows;
}

// ---------------------------------------------------------------------------
// Python's csv module

const QString kPythonScript = QStringLiteral(VOSTREL_SOURCE_DIR "/tests/destinations/csv_rows.py");

void PythonWrite(const fs::path &file, const char *encoding, const Rows &utf8Rows)
{
    QJsonArray rows;
    for (const Fields &fields : utf8Rows) {
        QJsonArray row;
        for (const std::string &field : fields)
            row.append(QString::fromStdString(field));
        rows.append(row);
    }
    QString output;
    ASSERT_EQ(RunProgram(QStringLiteral(VOSTREL_PYTHON),
                         {kPythonScript, QStringLiteral("write"),
                          QString::fromStdString(file.string()), QString::fromLatin1(encoding)},
                         &output, QJsonDocument(rows).toJson()),
              0)
        << output.toStdString();
}

Rows PythonRead(const fs::path &file, const char *encoding)
{
    QString output;
    EXPECT_EQ(RunProgram(QStringLiteral(VOSTREL_PYTHON),
                         {kPythonScript, QStringLiteral("read"),
                          QString::fromStdString(file.string()), QString::fromLatin1(encoding)},
                         &output),
              0)
        << output.toStdString();
    Rows rows;
    for (const QJsonValue &row : QJsonDocument::fromJson(output.toUtf8()).array()) {
        Fields fields;
        for (const QJsonValue &field : row.toArray())
            fields.push_back(field.toString().toStdString());
        rows.push_back(fields);
    }
    return rows;
}

// Values that need every kind of care, in UTF-8.
const Rows kAwkwardRows = {
    {"山田 太郎", "様", "yamada@example.jp", "a,b", "say \"hi\"", "line1\r\nline2", "007", "", "\"",
     "\"\"", " spaced ", "表ソ能", "末尾,\"\r\n"},
    {"佐藤", "", "sato@example.jp", "", "", "", "", "", "", "", "", "", "0"},
    {"\"quoted\"", "殿", "q@example.jp", ",", "\r\n", "x", "y", "z", "1", "2", "3", "4", "5"},
};

std::vector<Recipient> RecipientsOf(const Rows &sjisRows)
{
    std::vector<Recipient> recipients;
    for (const Fields &row : sjisRows) {
        Recipient r;
        for (std::size_t i = 0; i < r.fields.size(); ++i)
            r.fields[i] = row.at(i);
        recipients.push_back(r);
    }
    return recipients;
}

// ---------------------------------------------------------------------------
// QuoteCsvField and SplitCsvLine

TEST(QuoteCsvField, QuotesOnlyWhatNeedsIt)
{
    const struct
    {
        std::string in, out;
    } cases[] = {
        {"plain", "plain"},         {"", ""},
        {" 007 ", " 007 "},         {"a,b", "\"a,b\""},
        {"a\"b", "\"a\"\"b\""},     {"\"", "\"\"\"\""},
        {"\"\"", "\"\"\"\"\"\""},   {"a\r\nb", "\"a\r\nb\""},
        {"a\nb", "\"a\nb\""},       {"a\rb", "\"a\rb\""},
        {S("ソ表十"), S("ソ表十")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(QuoteCsvField(c.in), c.out) << c.in;
}

TEST(SplitCsvLine, ReadsFieldsByte_by_byte)
{
    const struct
    {
        std::string line;
        Fields fields;
    } cases[] = {
        {"a,,b", {"a", "", "b"}},
        {"", {""}},
        {",", {"", ""}},
        {"abc", {"abc"}},
        {"\"a,b\",c", {"a,b", "c"}},
        {"\"a\"\"b\"", {"a\"b"}},
        {"\"\"\"a\"", {"\"a"}},
        {"\"a\"\"\"", {"a\""}},
        // Unquoted doubled quotes give one quote; a lone one only flips.
        {"a\"\"b", {"a\"b"}},
        {"\"ab\"cd", {"abcd"}},
        {"a,12\" x,b", {"a", "12 x,b"}},
        // Fields made only of quotes, as QuoteCsvField writes them.
        {"\"\"", {""}},
        {"x,\"\",y", {"x", "", "y"}},
        {"\"\"\"\"", {"\""}},
        {"\"\"\"\"\"\"", {"\"\""}},
        // Line breaks inside a line given whole are bytes like any other.
        {"\"a\r\nb\",c", {"a\r\nb", "c"}},
        {S("表,ソ,\"能,\""), {S("表"), S("ソ"), S("能,")}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Split(c.line), c.fields) << c.line;
}

TEST(SplitCsvLine, ReadsTheExportHeaderAsThirteenFields)
{
    const Fields fields = Split(CsvExportHeader());
    ASSERT_EQ(fields.size(), 13u);
    EXPECT_EQ(fields[0], S("宛先名"));
    EXPECT_EQ(fields[2], S("メールアドレス"));
    EXPECT_EQ(fields[12], S("差込10"));
}

TEST(SplitCsvLine, ReadsBackEveryQuotedField)
{
    Fields values = {"",     "plain",  "a,b",  "a\"b",   "\"a",  "a\"",    "\"",
                     "\"\"", "\"\"\"", ",\",", "a\r\nb", " 007", S("ソ表")};
    std::string line;
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(Split(QuoteCsvField(values[i])), Fields{values[i]}) << values[i];
        line += (i == 0 ? "" : ",") + QuoteCsvField(values[i]);
    }
    EXPECT_EQ(Split(line), values);
}

// ---------------------------------------------------------------------------
// Records

TEST(CsvRecordReader, SplitsLinesAtEveryKindOfBreak)
{
    EXPECT_EQ(ReadRecords("a\r\nb\rc\nd"), (Rows{{"a"}, {"b"}, {"c"}, {"d"}}));
    EXPECT_EQ(ReadRecords("a,b\r\n"), (Rows{{"a", "b"}}));
    EXPECT_EQ(ReadRecords("a\r\n\r\nb\n\nc\r\rd"),
              (Rows{{"a"}, {""}, {"b"}, {""}, {"c"}, {""}, {"d"}}));
    EXPECT_EQ(ReadRecords(""), Rows{});
    EXPECT_EQ(ReadRecords("\r\n"), Rows{{""}});
    EXPECT_EQ(ReadRecords("\n\n"), (Rows{{""}, {""}}));
}

TEST(CsvRecordReader, QuotedFieldGoesOnInTheNextLineWithCrLf)
{
    EXPECT_EQ(ReadRecords("\"x\r\ny\",z\r\nw"), (Rows{{"x\r\ny", "z"}, {"w"}}));
    EXPECT_EQ(ReadRecords("a,\"x\ny\nz\"\nw"), (Rows{{"a", "x\r\ny\r\nz"}, {"w"}}));
    EXPECT_EQ(ReadRecords("\"x\r\r\n\"\r\n"), (Rows{{"x\r\n\r\n"}}));
    // An empty line inside the field.
    EXPECT_EQ(ReadRecords("\"a\r\n\r\nb\""), (Rows{{"a\r\n\r\nb"}}));
    // Quotes in the continued part.
    EXPECT_EQ(ReadRecords("\"a\r\n\"\"b\"\"\",c"), (Rows{{"a\r\n\"b\"", "c"}}));
}

TEST(CsvRecordReader, OnlyAFieldThatBeginsWithAQuoteGoesOn)
{
    // A stray quote inside a field is read as a line on its own says.
    EXPECT_EQ(ReadRecords("a,12\" x\r\nb,c"), (Rows{{"a", "12 x"}, {"b", "c"}}));
    // A quote that never closes: its line is a record of its own after all.
    EXPECT_EQ(ReadRecords("a\r\n\"b,c\r\nd,e\r\n"), (Rows{{"a"}, {"b,c"}, {"d", "e"}}));
    EXPECT_EQ(ReadRecords("\"\"\"\r\nx"), (Rows{{"\""}, {"x"}}));
}

// ---------------------------------------------------------------------------
// Encodings

class CsvTextTest : public VostrelTest
{
protected:
    fs::path Write(const std::string &bytes)
    {
        const fs::path file = TempDir() / "in.csv";
        WriteBytes(file, bytes);
        return file;
    }
};

TEST_F(CsvTextTest, DecidesTheEncodingOfTheFile)
{
    const std::string utf8 = "名前,様,a@example.jp\r\n山田 花子,殿,b@example.jp\r\n";
    const QString text = QString::fromStdString(utf8);
    const std::u16string units = text.toStdU16String();
    std::string utf16le = "\xFF\xFE";
    std::string utf16be = "\xFE\xFF";
    for (const char16_t u : units) {
        utf16le += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
        utf16be += {static_cast<char>(u >> 8), static_cast<char>(u & 0xFF)};
    }
    // Valid code page 932 as well ("縺薙ｓ縺ｫ縺｡縺ｯ"), but UTF-8 kana.
    const std::string hello = "こんにちは\r\n";
    const struct
    {
        const char *what;
        std::string bytes;
        std::string text;
    } cases[] = {
        {"UTF-8 with mark", "\xEF\xBB\xBF" + utf8, Utf8ToSjis(utf8)},
        {"Shift_JIS", Utf8ToSjis(utf8), Utf8ToSjis(utf8)},
        {"UTF-8 without mark", utf8, Utf8ToSjis(utf8)},
        {"ASCII", "a,b\r\n", "a,b\r\n"},
        {"empty", "", ""},
        {"only the mark", "\xEF\xBB\xBF", ""},
        // Neither: taken byte for byte.
        {"neither", "a\x80\xFF,b\r\n", "a\x80\xFF,b\r\n"},
        {"UTF-8 kana that are valid Shift_JIS too", hello, Utf8ToSjis(hello)},
        {"UTF-16LE", utf16le, Utf8ToSjis(utf8)},
        {"UTF-16BE", utf16be, Utf8ToSjis(utf8)},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ReadCsvText(Write(c.bytes)), c.text) << c.what;
}

TEST_F(CsvTextTest, CharacterShiftJisCannotHoldNamesRowColumnAndCharacter)
{
    for (const std::string mark : {"\xEF\xBB\xBF", ""}) {
        const fs::path file = Write(mark + "名前,a\r\nb,c\r\n\"x\r\ny\",ok,末尾😀です\r\n");
        try {
            ReadCsvText(file);
            ADD_FAILURE() << "no error";
        } catch (const CsvCharacterError &e) {
            EXPECT_EQ(e.Row(), 3u);
            EXPECT_EQ(e.Column(), 3u);
            EXPECT_EQ(std::string(e.what()), "CSVファイルを読み込めませんでした: " + file.string() +
                                                 "\n3 行目 3 列目の「😀」(U+1F600) "
                                                 "はこのソフトで扱えない文字です。");
        }
    }
}

TEST_F(CsvTextTest, MarkedFileThatIsNotUtf8IsRefused)
{
    const fs::path file = Write("\xEF\xBB\xBF"
                                "a,b\r\nc,\x82\xA0\r\n");
    try {
        ReadCsvText(file);
        ADD_FAILURE() << "no error";
    } catch (const CsvCharacterError &e) {
        EXPECT_EQ(e.Row(), 2u);
        EXPECT_EQ(e.Column(), 2u);
        EXPECT_NE(std::string(e.what()).find("UTF-8"), std::string::npos) << e.what();
    }
}

TEST_F(CsvTextTest, BrokenUtf16IsRefusedNamingTheFile)
{
    const fs::path file = Write(std::string("\xFF\xFE"
                                            "a\0\x00\xD8",
                                            6));
    try {
        ReadCsvText(file);
        ADD_FAILURE() << "no error";
    } catch (const FileError &e) {
        EXPECT_EQ(e.File(), file);
        EXPECT_NE(std::string(e.what()).find("UTF-16"), std::string::npos) << e.what();
    }
}

TEST_F(CsvTextTest, FileThatCannotBeReadIsNamed)
{
    const fs::path missing = TempDir() / "missing.csv";
    try {
        ReadCsvText(missing);
        ADD_FAILURE() << "no error";
    } catch (const FileError &e) {
        EXPECT_EQ(e.File(), missing);
        EXPECT_NE(std::string(e.what()).find(missing.string()), std::string::npos);
    }
    EXPECT_THROW(ReadCsvText(TempDir()), FileError);
}

// ---------------------------------------------------------------------------
// The import table and the mapping

TEST(CsvImportTable, WidensForLongRowsAndReadsEmptyBeyondARow)
{
    CsvImportTable table;
    EXPECT_EQ(table.ColumnCount(), 13);
    table.AddRow({"a", "b"});
    Fields wide(15);
    for (std::size_t i = 0; i < wide.size(); ++i)
        wide[i] = "w" + std::to_string(i + 1);
    table.AddRow(wide);
    table.AddRow({""});
    EXPECT_EQ(table.ColumnCount(), 15);
    EXPECT_EQ(table.RowCount(), 3u);
    EXPECT_EQ(table.Cell(0, 1), "b");
    EXPECT_EQ(table.Cell(0, 2), "");
    EXPECT_EQ(table.Cell(0, 14), "");
    EXPECT_EQ(table.Cell(1, 14), "w15");
    EXPECT_EQ(table.Cell(2, 0), "");
    EXPECT_EQ(table.Cell(3, 0), "");
    EXPECT_EQ(table.Cell(1, -1), "");

    table.RemoveRows({0, 2});
    ASSERT_EQ(table.RowCount(), 1u);
    EXPECT_EQ(table.Cell(0, 0), "w1");
    EXPECT_EQ(table.Cell(0, 14), "w15");

    CsvImportTable errors;
    errors.AddFirstCellsOf(table, 0);
    EXPECT_EQ(errors.ColumnCount(), 13);
    EXPECT_EQ(errors.Cell(0, 12), "w13");
    EXPECT_EQ(errors.Cell(0, 13), "");

    // The columns stay when the rows go.
    table.ClearRows();
    EXPECT_EQ(table.RowCount(), 0u);
    EXPECT_EQ(table.ColumnCount(), 15);
}

TEST(CsvImportTable, RemovingRowsKeepsTheOthersInOrder)
{
    CsvImportTable table;
    for (int i = 0; i < 10; ++i)
        table.AddRow({"n" + std::to_string(i), std::string(static_cast<std::size_t>(i), 'x')});
    table.RemoveRows({1, 4, 7});
    Fields names;
    for (std::size_t row = 0; row < table.RowCount(); ++row) {
        names.push_back(std::string(table.Cell(row, 0)));
        EXPECT_EQ(table.Cell(row, 1).size(), std::stoul(names.back().substr(1)));
    }
    EXPECT_EQ(names, (Fields{"n0", "n2", "n3", "n5", "n6", "n8", "n9"}));
}

TEST(CsvColumnMapping, MapsChosenColumnsAndNone)
{
    CsvImportTable table;
    Fields row(14);
    for (std::size_t i = 0; i < row.size(); ++i)
        row[i] = "c" + std::to_string(i + 1);
    table.AddRow(row);

    Recipient byDefault = MapCsvRow(table, 0, CsvColumnMapping::Default());
    for (std::size_t i = 0; i < 13; ++i)
        EXPECT_EQ(byDefault.fields[i], row[i]);

    CsvColumnMapping mapping = CsvColumnMapping::Default();
    mapping.columns[0] = 13;
    mapping.columns[1] = CsvColumnMapping::kNone;
    mapping.columns[2] = 0;
    mapping.columns[12] = CsvColumnMapping::kNone;
    const Recipient mapped = MapCsvRow(table, 0, mapping);
    EXPECT_EQ(mapped.Name(), "c14");
    EXPECT_EQ(mapped.Honorific(), "");
    EXPECT_EQ(mapped.Address(), "c1");
    EXPECT_EQ(mapped.Merge(1), "c4");
    EXPECT_EQ(mapped.Merge(10), "");
}

TEST(CsvColumnMapping, ChecksStartAtTheFirstRowLookedAt)
{
    CsvImportTable table;
    table.AddRow({"", "x", "header"});
    table.AddRow({"a", "", "a@example.jp"});
    table.AddRow({"b", "", "no-at"});
    table.AddRow({"", "", S("全角@example.jp")});
    table.AddRow({"d", "", "d @example.jp"});
    EXPECT_EQ(FindEmptyCell(table, 0, 0), std::optional<std::size_t>(0));
    EXPECT_EQ(FindEmptyCell(table, 0, 1), std::optional<std::size_t>(3));
    EXPECT_EQ(FindEmptyCell(table, 2, 0), std::nullopt);
    EXPECT_EQ(RowsWithInvalidAddress(table, 2, 0), (std::vector<std::size_t>{0, 2, 3, 4}));
    EXPECT_EQ(RowsWithInvalidAddress(table, 2, 1), (std::vector<std::size_t>{2, 3, 4}));
}

// ---------------------------------------------------------------------------
// Files written

TEST_F(CsvFileTest, ExportWritesTheHeaderAndOneQuotedLinePerRecipient)
{
    Recipient a;
    a.fields = {S("山田"), S("様"), "a@example.jp", "1,2", "say \"x\"", "007"};
    Recipient b;
    b.fields.fill("");
    b.fields[0] = "b";
    b.fields[12] = "last";
    const fs::path file = TempDir() / "out.csv";
    std::vector<std::size_t> progress;
    WriteCsvExport(file, {a, b}, [&](std::size_t n) { progress.push_back(n); });
    EXPECT_EQ(ReadBytes(file),
              S("宛先名,敬称,メールアドレス,差込1,差込2,差込3,差込4,差込5,差込6,"
                "差込7,差込8,差込9,差込10\r\n") +
                  S("山田,様,a@example.jp,\"1,2\",\"say \"\"x\"\"\",007,,,,,,,\r\n") +
                  "b,,,,,,,,,,,,last\r\n");
    EXPECT_EQ(progress, (std::vector<std::size_t>{1, 2}));
}

TEST_F(CsvFileTest, ExportOfAnEmptyListWritesTheHeaderOnly)
{
    const fs::path file = TempDir() / "empty.csv";
    WriteBytes(file, "old content that is replaced");
    WriteCsvExport(file, {});
    EXPECT_EQ(ReadBytes(file), CsvExportHeader() + "\r\n");
}

TEST_F(CsvFileTest, ExportThatCannotBeWrittenNamesTheFileAndKeepsTheOldOne)
{
    const fs::path file = TempDir() / "keep.csv";
    WriteBytes(file, "old");
    AtomicFile::SetFaultInjector([](const fs::path &) { return false; });
    try {
        WriteCsvExport(file, RecipientsOf({Fields(13, "x")}));
        ADD_FAILURE() << "no error";
    } catch (const FileError &e) {
        EXPECT_NE(std::string(e.what()).find(file.string()), std::string::npos) << e.what();
    }
    AtomicFile::SetFaultInjector(nullptr);
    EXPECT_EQ(ReadBytes(file), "old");
    for (const auto &entry : fs::directory_iterator(TempDir()))
        EXPECT_EQ(entry.path().filename().string().find(".keep.csv"), std::string::npos)
            << "left behind: " << entry.path();

    const fs::path noFolder = TempDir() / "no such folder" / "x.csv";
    try {
        WriteCsvExport(noFolder, {});
        ADD_FAILURE() << "no error";
    } catch (const FileError &e) {
        EXPECT_NE(std::string(e.what()).find(noFolder.string()), std::string::npos) << e.what();
    }
}

TEST_F(CsvFileTest, ErrorFileHoldsCellsOneToThirteenWithoutHeader)
{
    CsvImportTable table;
    Fields wide(15, "w");
    wide[0] = "a,b";
    wide[12] = "13th";
    table.AddRow(wide);
    table.AddRow({"short", "\""});
    const fs::path file = TempDir() / "errors.csv";
    WriteCsvRows(file, table);
    EXPECT_EQ(ReadBytes(file),
              "\"a,b\",w,w,w,w,w,w,w,w,w,w,w,13th\r\nshort,\"\"\"\",,,,,,,,,,,\r\n");
}

// The umask of the process for one scope.
class ScopedUmask
{
public:
    explicit ScopedUmask(mode_t mask)
        : old_(::umask(mask))
    {}
    ~ScopedUmask() { ::umask(old_); }
    ScopedUmask(const ScopedUmask &) = delete;
    ScopedUmask &operator=(const ScopedUmask &) = delete;

private:
    mode_t old_;
};

mode_t ModeOf(const fs::path &file)
{
    struct stat st
    {};
    EXPECT_EQ(::stat(file.c_str(), &st), 0) << file;
    return st.st_mode & 07777;
}

// The files the user exports are the user's: a new one gets the usual
// permissions (0666 less the umask), one that is replaced keeps its mode.
TEST_F(CsvFileTest, ExportAndErrorFilesGetTheUsersUsualModeAndAReplacedFileKeepsItsOwn)
{
    struct Case
    {
        const char *what;
        mode_t umask;
        mode_t existing; // 0: no file yet
        mode_t expected;
    };
    const Case cases[] = {
        {"new under 022", 022, 0, 0644},     {"new under 002", 002, 0, 0664},
        {"new under 077", 077, 0, 0600},     {"new under 027", 027, 0, 0640},
        {"0640 under 022", 022, 0640, 0640}, {"0666 under 077", 077, 0666, 0666},
        {"0604 under 000", 0, 0604, 0604},
    };
    CsvImportTable table;
    table.AddRow({"a", "", "a@example.jp"});
    using Writer = std::function<void(const fs::path &)>;
    const std::pair<const char *, Writer> writers[] = {
        {"export", [](const fs::path &f) { WriteCsvExport(f, RecipientsOf({Fields(13, "x")})); }},
        {"error rows", [&table](const fs::path &f) { WriteCsvRows(f, table); }},
    };
    int n = 0;
    for (const Case &c : cases) {
        for (const auto &[kind, write] : writers) {
            SCOPED_TRACE(std::string(c.what) + ", " + kind);
            const fs::path file = TempDir() / ("out" + std::to_string(++n) + ".csv");
            if (c.existing != 0) {
                WriteBytes(file, "old");
                ASSERT_EQ(::chmod(file.c_str(), c.existing), 0);
            }
            {
                const ScopedUmask mask(c.umask);
                write(file);
            }
            EXPECT_EQ(ModeOf(file), c.expected);
            EXPECT_NE(ReadBytes(file), "old");
        }
    }
}

// Records of the data folder hold mail passwords: they stay 0600 whatever
// the umask, also when a wider file was there before.
TEST_F(CsvFileTest, RecordsOfTheDataFolderStayPrivateWhateverTheUmask)
{
    const ScopedUmask mask(0);
    SaveDestinationList("fresh", {true, false, false}, {});
    EXPECT_EQ(ModeOf(DestinationListPath("fresh")), 0600);
    WriteBytes(DestinationListPath("wide"), "old");
    ASSERT_EQ(::chmod(DestinationListPath("wide").c_str(), 0644), 0);
    SaveDestinationList("wide", {true, false, false}, {});
    EXPECT_EQ(ModeOf(DestinationListPath("wide")), 0600);
}

TEST(CsvFileName, AlwaysAppendsDotCsv)
{
    EXPECT_EQ(CsvFileName("/tmp/list"), fs::path("/tmp/list.csv"));
    EXPECT_EQ(CsvFileName("/tmp/list.csv"), fs::path("/tmp/list.csv.csv"));
}

// ---------------------------------------------------------------------------
// Against Python's csv module

TEST_F(CsvFileTest, PythonReadsTheExportAsWritten)
{
    const Rows sjisRows = ToSjis(kAwkwardRows);
    const fs::path file = TempDir() / "export.csv";
    WriteCsvExport(file, RecipientsOf(sjisRows));
    Rows expected = {Split(CsvExportHeader())};
    expected.insert(expected.end(), sjisRows.begin(), sjisRows.end());
    Rows read = PythonRead(file, "cp932");
    EXPECT_EQ(ToSjis(read), expected);
}

TEST_F(CsvFileTest, FilesWrittenByPythonReadAsTheSameRows)
{
    for (const char *encoding : {"utf-8-sig", "cp932", "utf-8"}) {
        const fs::path file = TempDir() / (std::string(encoding) + ".csv");
        PythonWrite(file, encoding, kAwkwardRows);
        EXPECT_EQ(ReadRecords(ReadCsvText(file)), ToSjis(kAwkwardRows)) << encoding;
    }
}

TEST_F(CsvFileTest, LineBreaksWrittenByPythonComeBackAsCrLf)
{
    const fs::path file = TempDir() / "lf.csv";
    PythonWrite(file, "utf-8-sig", {{"a\nb", "c\rd", "plain"}});
    EXPECT_EQ(ReadRecords(ReadCsvText(file)), (Rows{{"a\r\nb", "c\r\nd", "plain"}}));
}

} // namespace
} // namespace vostrel::test
