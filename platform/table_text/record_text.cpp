#include "platform/table_text/record_text.h"

#include "platform/locale_services.h"
#include "platform/table_text/value_json.h"

namespace veltra {

namespace {

std::string CsvCell(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

std::string CsvRow(const std::vector<std::string>& cells) {
    std::string row;
    for (size_t i = 0; i < cells.size(); ++i) row += (i ? "," : "") + CsvCell(cells[i]);
    return row + "\r\n";
}

TRecordText::TRecordText(TVeltraTable& table, std::vector<TField*> fields, TRecordTextFormat format,
                         bool plainText)
    : m_Table(table), m_Fields(std::move(fields)), m_Format(format), m_PlainText(plainText) {}

std::string TRecordText::Header() const {
    if (m_Format != TRecordTextFormat::Csv) return {};
    std::vector<std::string> names;
    for (TField* f : m_Fields) names.push_back(Cp1252ToUtf8(f->FieldName()));
    return CsvRow(names);
}

std::string TRecordText::Row() const {
    if (m_Format == TRecordTextFormat::Csv) {
        std::vector<std::string> cells;
        for (TField* f : m_Fields) cells.push_back(FieldToText(m_Table, *f, m_PlainText));
        return CsvRow(cells);
    }
    TJson record = TJson::object();
    for (TField* f : m_Fields)
        record[Cp1252ToUtf8(f->FieldName())] = FieldToJson(m_Table, *f, m_PlainText);
    // Invalid UTF-8 cannot come out of the Windows-1252 conversion; replace
    // rather than fail should a BLOB text hold something odd.
    return record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

TReadBatch::TReadBatch(TDataFile& file) : m_File(file) { m_File.BeginRead(); }

TReadBatch::~TReadBatch() {
    try {
        m_File.EndRead();
    } catch (...) {
        // Closing the table releases the lock in any case.
    }
}

void TReadBatch::Step() {
    if (++m_Count % 256 != 0) return;
    m_File.EndRead();
    m_File.BeginRead();
}

}  // namespace veltra
