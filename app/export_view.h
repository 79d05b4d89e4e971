// Export View: the tickets of the main window's view written to a file, in
// the view's order and under its query, with the grid's visible columns in
// the grid's order followed by the description (which the grid never shows).
// The forms are those of `vltable dump --plain-text`
// (platform/table_text/record_text.h): CSV with a header row, or JSON lines;
// formatted descriptions are written as their visible text.
//
// The export reads the log through a table of its own, opened shared and
// read-only on the same file with the same index, query and query options, so
// the window's current ticket does not move while it runs, and it holds the
// read lock for batches of tickets only (TReadBatch), so other copies of the
// program can post meanwhile. The file is written beside its final name and
// renamed into place when complete: a cancelled or failed export leaves no
// file, and an existing file is replaced only by a complete export.
//
// Thread: user-interface thread (progress is reported between tickets).
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "engine/veltra_table.h"
#include "platform/table_text/record_text.h"

namespace veltra {

struct TViewExport {
    std::string TableName;  // the log's data file
    std::string IndexName;  // "" for the primary index
    std::string Filter;     // the query's filter text (Windows-1252)
    TFilterOptions Options;
    bool Filtered = false;
    QStringList Fields;  // field names in column order; empty: every field
    TRecordTextFormat Format = TRecordTextFormat::Csv;
};

// The format for a file name: JSON lines for ".jsonl", ".ndjson" and
// ".json", CSV for anything else.
TRecordTextFormat ExportFormatFor(const QString& fileName);

// Called with the number of tickets written so far and the number the view
// holds: before the first, after every 64th and after the last; returns
// false to cancel.
using TExportProgress = std::function<bool(int64_t written, int64_t total)>;

// Writes the view to `path`. The number of tickets written, or nullopt when
// progress cancelled it. Engine errors (the log cannot be opened, a field
// named does not exist) are raised as the engine raises them; a file that
// cannot be written raises std::runtime_error naming it.
std::optional<int64_t> ExportView(const TViewExport& view, const QString& path,
                                  const TExportProgress& progress);

}  // namespace veltra
