// CSV files of any bytes: the reader takes them whole or refuses them with a
// character or file error. Records written with QuoteCsvField read back as
// they were written.
#include "FuzzInput.h"

#include "core/AppState.h"
#include "core/Errors.h"
#include "destinations/CsvFile.h"

#include <cstdlib>
#include <fstream>

using namespace vostrel;

namespace {

// Line breaks in a value come back as CR LF: write them so.
std::string WithCrLf(const std::string &value)
{
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\r' || c == '\n') {
            out += "\r\n";
            if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n')
                ++i;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::PrepareDataFolder();
    const auto path = DataFolder() / "fuzz.csv";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    try {
        const std::string text = ReadCsvText(path);
        CsvRecordReader reader(text);
        TStringListEx fields;
        size_t records = 0;
        while (reader.Next(fields)) {
            if (fields.empty())
                std::abort();
            ++records;
        }
        if (records != reader.RecordsRead())
            std::abort();
    } catch (const VostrelError &) {
    }

    // Records (split at 0x1E) of fields (split at 0x1F) written and read back.
    std::vector<std::vector<std::string>> written(1);
    for (const std::string &field : fuzz::SplitFields(data, size)) {
        std::string rest = field;
        for (size_t cut; (cut = rest.find('\x1E')) != std::string::npos; rest.erase(0, cut + 1)) {
            written.back().push_back(WithCrLf(rest.substr(0, cut)));
            written.emplace_back();
        }
        written.back().push_back(WithCrLf(rest));
    }
    std::string text;
    for (const auto &record : written) {
        for (size_t i = 0; i < record.size(); ++i)
            text += (i ? "," : "") + QuoteCsvField(record[i]);
        text += "\r\n";
    }
    CsvRecordReader reader(text);
    TStringListEx fields;
    for (const auto &record : written)
        if (!reader.Next(fields) || std::vector<std::string>(fields) != record)
            std::abort();
    if (reader.Next(fields))
        std::abort();
    return 0;
}
