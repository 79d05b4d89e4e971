#include "app/export_view.h"

#include <QFileInfo>
#include <QSaveFile>
#include <stdexcept>

#include "platform/locale_services.h"

namespace veltra {

namespace {

constexpr int64_t kProgressStep = 64;

void OpenView(TVeltraTable& table, const TViewExport& view) {
    table.SetTableName(view.TableName);
    table.SetReadOnly(true);
    table.Open();
    table.SetIndexName(view.IndexName);
    table.SetFilterOptions(view.Options);
    table.SetFilter(view.Filter);
    table.SetFiltered(view.Filtered);
}

std::vector<TField*> ViewFields(TVeltraTable& table, const TViewExport& view) {
    std::vector<TField*> fields;
    if (view.Fields.isEmpty()) {
        for (const auto& f : table.Fields()) fields.push_back(f.get());
    } else {
        for (const QString& name : view.Fields)
            fields.push_back(&table.FieldByName(Utf8ToCp1252(name.toStdString())));
    }
    return fields;
}

void Write(QSaveFile& file, const std::string& text) {
    if (file.write(text.data(), qint64(text.size())) != qint64(text.size())) {
        throw std::runtime_error(
            QString("Cannot write %1: %2").arg(file.fileName(), file.errorString()).toStdString());
    }
}

}  // namespace

TRecordTextFormat ExportFormatFor(const QString& fileName) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    return suffix == "jsonl" || suffix == "ndjson" || suffix == "json"
               ? TRecordTextFormat::JsonLines
               : TRecordTextFormat::Csv;
}

std::optional<int64_t> ExportView(const TViewExport& view, const QString& path,
                                  const TExportProgress& progress) {
    TVeltraTable table;
    OpenView(table, view);
    const TRecordText text(table, ViewFields(table, view), view.Format, true);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        throw std::runtime_error(
            QString("Cannot write %1: %2").arg(path, file.errorString()).toStdString());
    }
    const int64_t total = table.RecordCount();
    if (progress && !progress(0, total))
        return std::nullopt;  // the save file is discarded unwritten
    std::string chunk = text.Header();
    int64_t written = 0;
    {
        TReadBatch batch(*table.DataFile());
        for (table.First(); !table.Eof(); table.Next(), batch.Step()) {
            chunk += text.Row();
            ++written;
            if (chunk.size() > (1 << 16)) {
                Write(file, chunk);
                chunk.clear();
            }
            if (progress && written % kProgressStep == 0 && !progress(written, total))
                return std::nullopt;
        }
    }
    Write(file, chunk);
    if (progress && written % kProgressStep != 0 && !progress(written, total)) return std::nullopt;
    if (!file.commit()) {
        throw std::runtime_error(
            QString("Cannot write %1: %2").arg(path, file.errorString()).toStdString());
    }
    return written;
}

}  // namespace veltra
