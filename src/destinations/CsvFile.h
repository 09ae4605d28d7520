// CSV files of recipients: the export of a list, the import table read from
// a file, the column mapping that turns its rows into recipients, and the
// file of rejected rows.
//
// Text inside the program is Shift_JIS. Written files are Shift_JIS, every
// line (the last one too) ending in CR LF. Read files may be Shift_JIS or
// UTF-8 or UTF-16 (see ReadCsvText); lines end at CR LF, a lone CR or a lone LF.
//
// Fields are separated by "," and quoted with double quotes. Both are
// single-byte codes that never occur as the second byte of a double-byte
// character, so lines are processed byte by byte.
#pragma once

#include "core/SjisCodec.h"
#include "destinations/Recipient.h"

#include <array>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

// Quotes one value for a CSV line: every double quote is doubled, and the
// result is put between double quotes when it holds a ",", a double quote or
// a line break (CR or LF). Nothing else is quoted: empty text stays empty,
// and spaces or leading zeros stay as they are.
std::string QuoteCsvField(std::string_view text);

// A string list whose one operation of its own reads a CSV line.
class TStringListEx : public std::vector<std::string>
{
public:
    // Replaces the contents with the fields of one line, in order; always at
    // least one field. One pass over the bytes with two flags, in-quotes and
    // after-quote: a double quote right after a double quote adds one double
    // quote to the field, any double quote flips in-quotes, a "," outside
    // quotes ends the field, every other byte is added to it. A field made
    // only of double quotes is read as QuoteCsvField writes it (two alone are
    // the empty text, four are one double quote, ...).
    void SplitCsvLine(std::string_view line);
};

// Splits a text into records. A record is one line, except that a field
// which begins with a double quote and whose quote is still open at the end
// of a line goes on in the next line, with the line break kept in the value
// as CR LF. When such a quote is never closed, its line is read as a record
// of its own after all.
class CsvRecordReader
{
public:
    // The text must stay alive while the reader is in use.
    explicit CsvRecordReader(std::string_view text);

    // The fields of the next record; false when the text has no more lines
    // (a line break at the very end adds no empty line; an empty line in the
    // middle is a record of one empty field).
    bool Next(TStringListEx &fields);

    // Records read so far.
    std::size_t RecordsRead() const { return records_; }

private:
    // The line that starts at pos_ (without its break); moves pos_ past it.
    std::string_view TakeLine();

    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t records_ = 0;
};

// A character in a CSV file that the program cannot hold, or bytes that are
// not text in the file's encoding. The text names the file, the row (record
// number, from 1), the column (from 1) and the character.
class CsvCharacterError : public ConversionError
{
public:
    CsvCharacterError(const std::filesystem::path &file, std::size_t row, std::size_t column,
                      const std::string &reasonUtf8);
    std::size_t Row() const { return row_; }
    std::size_t Column() const { return column_; }

private:
    std::size_t row_;
    std::size_t column_;
};

// The whole text of a CSV file in Shift_JIS. The encoding is decided as for
// every text file the program reads (DetectTextEncoding): a byte-order mark
// (UTF-8, UTF-16), else Shift_JIS or UTF-8 by what the bytes are valid as;
// bytes that are neither are taken as Shift_JIS as they are. Unicode text is
// converted; a character that Shift_JIS cannot hold, or a user-defined
// character (in any encoding), throws CsvCharacterError (nothing is
// returned). Throws FileError naming the file when it cannot be read or its
// UTF-16 is broken.
std::string ReadCsvText(const std::filesystem::path &file);

// The name a CSV file is written under: the chosen name with ".csv"
// appended, always (a name that ends in ".csv" gets a second one).
std::filesystem::path CsvFileName(const std::filesystem::path &chosen);

// The first line of an export, without its line break (Shift_JIS).
std::string CsvExportHeader();

// Called after each recipient or row written, with the number written so far.
using CsvProgress = std::function<void(std::size_t written)>;

// Writes the export file whole (replacing an existing one): the header line,
// then one line per recipient in order, each value quoted by QuoteCsvField.
// Throws FileError naming the file when it cannot be written; the old file
// then stays as it was. A new file gets the user's usual permissions (0666
// less the umask); a replaced one keeps its mode.
void WriteCsvExport(const std::filesystem::path &file, const std::vector<Recipient> &recipients,
                    const CsvProgress &progress = {});

// The rows of a CSV file as a table of numbered columns (from 0 here; the
// windows count from 1). The table has at least 13 columns; adding a row
// first widens it to the row's number of fields. A cell beyond the end of its
// row reads as empty. Cells are held in one block, not one string each.
class CsvImportTable
{
public:
    static constexpr int kMinColumns = Recipient::kFieldCount;

    int ColumnCount() const { return columns_; }
    std::size_t RowCount() const { return rowFirstCell_.size(); }
    std::string_view Cell(std::size_t row, int column) const;

    // Room for cells of this many bytes in all (a file's text is enough).
    void ReserveBytes(std::size_t bytes) { bytes_.reserve(bytes); }
    // Widens the table to the row's number of fields, then adds the row.
    void AddRow(const std::vector<std::string> &fields);
    // Adds cells 0 to 12 of another table's row.
    void AddFirstCellsOf(const CsvImportTable &other, std::size_t row);
    // Empties the table of its rows; the columns stay.
    void ClearRows();
    // Removes the given rows (ascending, no duplicates), keeping the others
    // in their order.
    void RemoveRows(const std::vector<std::size_t> &rows);

private:
    std::string bytes_;
    // End offset in bytes_ of every cell, row after row.
    std::vector<std::size_t> cellEnd_;
    // Index in cellEnd_ of every row's first cell.
    std::vector<std::size_t> rowFirstCell_;
    int columns_ = kMinColumns;
};

// Which column of the table gives each recipient value, in Recipient order;
// kNone gives the empty text.
struct CsvColumnMapping
{
    static constexpr int kNone = -1;
    std::array<int, Recipient::kFieldCount> columns{};

    // Column 1 for the name, 2 for the honorific, 3 for the address, 4 to 13
    // for merge fields 1 to 10: the order an export writes.
    static CsvColumnMapping Default();
    bool operator==(const CsvColumnMapping &) const = default;
};

// The recipient that row gives under the mapping.
Recipient MapCsvRow(const CsvImportTable &table, std::size_t row, const CsvColumnMapping &mapping);

// The first row from firstRow on whose cell in the column is empty.
std::optional<std::size_t> FindEmptyCell(const CsvImportTable &table, int column,
                                         std::size_t firstRow);

// The rows from firstRow on whose cell in the address column fails the
// address rules, ascending.
std::vector<std::size_t> RowsWithInvalidAddress(const CsvImportTable &table, int addressColumn,
                                                std::size_t firstRow);

// Writes the rows of table whole as a CSV file without a header line: one
// line per row with its cells 1 to 13, each quoted by QuoteCsvField. Throws
// FileError naming the file when it cannot be written. The file's mode is
// that of an export (WriteCsvExport).
void WriteCsvRows(const std::filesystem::path &file, const CsvImportTable &table);

} // namespace vostrel
