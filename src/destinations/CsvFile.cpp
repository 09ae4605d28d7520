#include "destinations/CsvFile.h"

#include "core/AtomicFile.h"
#include "core/Errors.h"
#include "destinations/AddressRules.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vostrel {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kCrLf = "\r\n";

// Reads the fields of one record, line after line.
class FieldSplitter
{
public:
    explicit FieldSplitter(std::vector<std::string> &fields)
        : fields_(fields)
    {
        fields_.clear();
        fields_.emplace_back();
    }

    void Feed(std::string_view line)
    {
        std::string *field = &fields_.back();
        std::size_t i = 0;
        while (i < line.size()) {
            const char c = line[i];
            if (rawBytes_ == 0)
                startedWithQuote_ = c == '"';
            if (c == '"') {
                ++rawBytes_;
                ++quotes_;
                if (afterQuote_) {
                    field->push_back('"');
                    afterQuote_ = false;
                } else {
                    afterQuote_ = true;
                }
                inQuotes_ = !inQuotes_;
                ++i;
            } else if (c == ',' && !inQuotes_) {
                EndField();
                field = &fields_.emplace_back();
                ++i;
            } else {
                // A run of bytes that neither quote nor end the field.
                std::size_t end = i + 1;
                while (end < line.size() && line[end] != '"' && (inQuotes_ || line[end] != ','))
                    ++end;
                field->append(line.substr(i, end - i));
                rawBytes_ += end - i;
                onlyQuotes_ = false;
                afterQuote_ = false;
                i = end;
            }
        }
    }

    // The last field began with a quote that is still open.
    bool OpenQuotedField() const { return inQuotes_ && startedWithQuote_; }

    // The open field goes on in the next line.
    void LineBreak()
    {
        fields_.back().append(kCrLf);
        rawBytes_ += kCrLf.size();
        onlyQuotes_ = false;
        afterQuote_ = false;
    }

    void Finish() { EndField(); }

private:
    void EndField()
    {
        // A field made only of quotes, as QuoteCsvField writes it: the outer
        // two enclose the value, each pair inside is one quote.
        if (onlyQuotes_ && quotes_ >= 2 && quotes_ % 2 == 0)
            fields_.back().assign((quotes_ - 2) / 2, '"');
        rawBytes_ = 0;
        quotes_ = 0;
        onlyQuotes_ = true;
        afterQuote_ = false;
        startedWithQuote_ = false;
    }

    std::vector<std::string> &fields_;
    bool inQuotes_ = false;
    bool afterQuote_ = false;
    // Of the current field: its bytes so far, its quotes, whether it holds
    // nothing but quotes and whether its first byte is a quote.
    std::size_t rawBytes_ = 0;
    std::size_t quotes_ = 0;
    bool onlyQuotes_ = true;
    bool startedWithQuote_ = false;
};

std::string ReadWholeFile(const fs::path &file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw FileError::ReadFailed(file, FileError::ErrnoText(errno));
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info;
    if (::fstat(fd, &info) != 0)
        throw FileError::ReadFailed(file, FileError::ErrnoText(errno));
    if (S_ISDIR(info.st_mode))
        throw FileError::ReadFailed(file, FileError::ErrnoText(EISDIR));
    std::string bytes;
    if (info.st_size > 0)
        bytes.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw FileError::ReadFailed(file, FileError::ErrnoText(errno));
        }
        if (n == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

std::string CharacterErrorText(const fs::path &file, std::size_t row, std::size_t column,
                               const std::string &reasonUtf8)
{
    return "CSVファイルを読み込めませんでした: " + file.string() + "\n" + std::to_string(row) +
           " 行目 " + std::to_string(column) + " 列目" + reasonUtf8;
}

// Finds the field of a UTF-8 text that cannot be converted and throws the
// error naming its row and column. The separators, quotes and line breaks
// are the same bytes in UTF-8, so the rows and columns are those of the
// converted text.
void ThrowForUnconvertibleField(const fs::path &file, std::string_view utf8)
{
    CsvRecordReader reader(utf8);
    TStringListEx fields;
    while (reader.Next(fields)) {
        for (std::size_t column = 0; column < fields.size(); ++column) {
            try {
                Utf8ToSjis(fields[column]);
            } catch (const UnencodableCharacterError &e) {
                throw CsvCharacterError(file, reader.RecordsRead(), column + 1,
                                        "の" + UnusableCharacterText(e.CodePoint()));
            } catch (const ConversionError &) {
                throw CsvCharacterError(file, reader.RecordsRead(), column + 1,
                                        "に UTF-8 の文字として読めないバイトがあります。");
            }
        }
    }
}

std::string Utf8FileText(const fs::path &file, std::string_view utf8)
{
    try {
        return Utf8ToSjis(utf8);
    } catch (const ConversionError &) {
        ThrowForUnconvertibleField(file, utf8);
        throw;
    }
}

// A user-defined character in the Shift_JIS text of a file, which no
// recipient could read, stops the reading, naming its row and column.
void RefuseUserDefinedCharacters(const fs::path &file, std::string_view sjis)
{
    if (FindUserDefinedCharacter(sjis) == std::string_view::npos)
        return;
    CsvRecordReader reader(sjis);
    TStringListEx fields;
    while (reader.Next(fields)) {
        for (std::size_t column = 0; column < fields.size(); ++column) {
            const std::string_view field = fields[column];
            const std::size_t at = FindUserDefinedCharacter(field);
            if (at != std::string_view::npos)
                throw CsvCharacterError(
                    file, reader.RecordsRead(), column + 1,
                    "の" + UnusableCharacterText(SjisCodePoint(field.substr(at, 2))));
        }
    }
}

// Appends the values, each quoted, joined by "," and ended by CR LF.
template <class Values> void AppendCsvLine(std::string &out, const Values &values)
{
    bool first = true;
    for (const auto &value : values) {
        if (!first)
            out += ',';
        first = false;
        out += QuoteCsvField(value);
    }
    out.append(kCrLf);
}

} // namespace

// ---------------------------------------------------------------------------
// Fields and records

std::string QuoteCsvField(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    for (char c : text) {
        out += c;
        if (c == '"')
            out += '"';
    }
    if (out.find_first_of(",\"\r\n") != std::string::npos) {
        out.insert(out.begin(), '"');
        out += '"';
    }
    return out;
}

void TStringListEx::SplitCsvLine(std::string_view line)
{
    FieldSplitter splitter(*this);
    splitter.Feed(line);
    splitter.Finish();
}

CsvRecordReader::CsvRecordReader(std::string_view text)
    : text_(text)
{}

std::string_view CsvRecordReader::TakeLine()
{
    const std::size_t start = pos_;
    const std::size_t end = text_.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
        pos_ = text_.size();
        return text_.substr(start);
    }
    pos_ = end + 1;
    if (text_[end] == '\r' && pos_ < text_.size() && text_[pos_] == '\n')
        ++pos_;
    return text_.substr(start, end - start);
}

bool CsvRecordReader::Next(TStringListEx &fields)
{
    if (pos_ >= text_.size())
        return false;
    const std::size_t start = pos_;
    ++records_;
    FieldSplitter splitter(fields);
    splitter.Feed(TakeLine());
    while (splitter.OpenQuotedField()) {
        if (pos_ >= text_.size()) {
            // The quote never closes: its line is a record of its own.
            pos_ = start;
            fields.SplitCsvLine(TakeLine());
            return true;
        }
        splitter.LineBreak();
        splitter.Feed(TakeLine());
    }
    splitter.Finish();
    return true;
}

// ---------------------------------------------------------------------------
// Files

CsvCharacterError::CsvCharacterError(const fs::path &file, std::size_t row, std::size_t column,
                                     const std::string &reasonUtf8)
    : ConversionError(CharacterErrorText(file, row, column, reasonUtf8))
    , row_(row)
    , column_(column)
{}

std::string ReadCsvText(const fs::path &file)
{
    std::string bytes = ReadWholeFile(file);
    const std::optional<TextEncoding> encoding = DetectTextEncoding(bytes);
    if (!encoding) {
        // Neither Shift_JIS nor UTF-8: taken as it is.
        RefuseUserDefinedCharacters(file, bytes);
        return bytes;
    }
    const std::string_view content =
        std::string_view(bytes).substr(ByteOrderMark(*encoding).size());
    switch (*encoding) {
    case TextEncoding::ShiftJis:
        RefuseUserDefinedCharacters(file, content);
        return bytes;
    case TextEncoding::Utf8:
    case TextEncoding::Utf8NoMark:
        return Utf8FileText(file, content);
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE:
        try {
            return Utf8FileText(file, Utf16ToUtf8(content, *encoding == TextEncoding::Utf16LE));
        } catch (const MalformedTextError &e) {
            throw FileError::ReadFailed(file, e.what());
        }
    }
    return bytes;
}

fs::path CsvFileName(const fs::path &chosen)
{
    fs::path file = chosen;
    file += ".csv";
    return file;
}

std::string CsvExportHeader()
{
    return Sjis("宛先名,敬称,メールアドレス,差込1,差込2,差込3,差込4,差込5,差込6,差込7,差込8,差込9,"
                "差込10");
}

void WriteCsvExport(const fs::path &file, const std::vector<Recipient> &recipients,
                    const CsvProgress &progress)
{
    AtomicFile out(file, FileAccess::User);
    std::string line = CsvExportHeader();
    line.append(kCrLf);
    out.Write(line);
    std::size_t written = 0;
    for (const Recipient &recipient : recipients) {
        line.clear();
        AppendCsvLine(line, recipient.fields);
        out.Write(line);
        ++written;
        if (progress)
            progress(written);
    }
    out.Commit();
}

void WriteCsvRows(const fs::path &file, const CsvImportTable &table)
{
    AtomicFile out(file, FileAccess::User);
    std::string line;
    std::array<std::string_view, Recipient::kFieldCount> cells;
    for (std::size_t row = 0; row < table.RowCount(); ++row) {
        for (int column = 0; column < Recipient::kFieldCount; ++column)
            cells[static_cast<std::size_t>(column)] = table.Cell(row, column);
        line.clear();
        AppendCsvLine(line, cells);
        out.Write(line);
    }
    out.Commit();
}

// ---------------------------------------------------------------------------
// The import table

std::string_view CsvImportTable::Cell(std::size_t row, int column) const
{
    if (row >= RowCount() || column < 0)
        return {};
    const std::size_t cell = rowFirstCell_[row] + static_cast<std::size_t>(column);
    const std::size_t rowEnd = row + 1 < RowCount() ? rowFirstCell_[row + 1] : cellEnd_.size();
    if (cell >= rowEnd)
        return {};
    const std::size_t begin = cell == 0 ? 0 : cellEnd_[cell - 1];
    return std::string_view(bytes_).substr(begin, cellEnd_[cell] - begin);
}

void CsvImportTable::AddRow(const std::vector<std::string> &fields)
{
    columns_ = std::max(columns_, static_cast<int>(fields.size()));
    rowFirstCell_.push_back(cellEnd_.size());
    for (const std::string &field : fields) {
        bytes_ += field;
        cellEnd_.push_back(bytes_.size());
    }
}

void CsvImportTable::AddFirstCellsOf(const CsvImportTable &other, std::size_t row)
{
    rowFirstCell_.push_back(cellEnd_.size());
    for (int column = 0; column < Recipient::kFieldCount; ++column) {
        bytes_ += other.Cell(row, column);
        cellEnd_.push_back(bytes_.size());
    }
}

void CsvImportTable::ClearRows()
{
    bytes_.clear();
    bytes_.shrink_to_fit();
    cellEnd_.clear();
    cellEnd_.shrink_to_fit();
    rowFirstCell_.clear();
    rowFirstCell_.shrink_to_fit();
}

void CsvImportTable::RemoveRows(const std::vector<std::size_t> &rows)
{
    if (rows.empty())
        return;
    CsvImportTable kept;
    kept.columns_ = columns_;
    kept.bytes_.reserve(bytes_.size());
    kept.cellEnd_.reserve(cellEnd_.size());
    kept.rowFirstCell_.reserve(RowCount() - rows.size());
    auto removed = rows.begin();
    for (std::size_t row = 0; row < RowCount(); ++row) {
        if (removed != rows.end() && *removed == row) {
            ++removed;
            continue;
        }
        const std::size_t first = rowFirstCell_[row];
        const std::size_t end = row + 1 < RowCount() ? rowFirstCell_[row + 1] : cellEnd_.size();
        kept.rowFirstCell_.push_back(kept.cellEnd_.size());
        for (std::size_t cell = first; cell < end; ++cell) {
            const std::size_t begin = cell == 0 ? 0 : cellEnd_[cell - 1];
            kept.bytes_.append(bytes_, begin, cellEnd_[cell] - begin);
            kept.cellEnd_.push_back(kept.bytes_.size());
        }
    }
    *this = std::move(kept);
}

// ---------------------------------------------------------------------------
// Mapping and checks

CsvColumnMapping CsvColumnMapping::Default()
{
    CsvColumnMapping mapping;
    for (int i = 0; i < Recipient::kFieldCount; ++i)
        mapping.columns[static_cast<std::size_t>(i)] = i;
    return mapping;
}

Recipient MapCsvRow(const CsvImportTable &table, std::size_t row, const CsvColumnMapping &mapping)
{
    Recipient recipient;
    for (std::size_t i = 0; i < recipient.fields.size(); ++i) {
        if (mapping.columns[i] != CsvColumnMapping::kNone)
            recipient.fields[i] = table.Cell(row, mapping.columns[i]);
    }
    return recipient;
}

std::optional<std::size_t> FindEmptyCell(const CsvImportTable &table, int column,
                                         std::size_t firstRow)
{
    for (std::size_t row = firstRow; row < table.RowCount(); ++row) {
        if (table.Cell(row, column).empty())
            return row;
    }
    return std::nullopt;
}

std::vector<std::size_t> RowsWithInvalidAddress(const CsvImportTable &table, int addressColumn,
                                                std::size_t firstRow)
{
    std::vector<std::size_t> rows;
    for (std::size_t row = firstRow; row < table.RowCount(); ++row) {
        if (!IsValidAddress(table.Cell(row, addressColumn)))
            rows.push_back(row);
    }
    return rows;
}

} // namespace vostrel
