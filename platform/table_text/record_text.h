// Records of a table as text, in the forms `vltable dump` writes and the
// program's Export View writes, so that both give the same bytes for the same
// records:
//
//   CSV         a header row of field names, then one row per record; cells
//               quoted only when they hold a comma, a quote or a line break
//               (quotes doubled); rows end in CR LF; values in the forms of
//               FieldToText (value_json.h)
//   JSON lines  one object per record, members in field order named by the
//               fields, values in the forms of FieldToJson; lines end in LF
//
// All text is UTF-8 (field names are converted from Windows-1252). With
// plainText, formatted descriptions (RTF) are written as their visible text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/veltra_table.h"

namespace veltra {

enum class TRecordTextFormat { Csv, JsonLines };

class TRecordText {
  public:
    // fields belong to table and are written in the order given.
    TRecordText(TVeltraTable& table, std::vector<TField*> fields, TRecordTextFormat format,
                bool plainText);

    // The CSV header row; empty for JSON lines.
    std::string Header() const;
    // The current record of the table as one row or line, with its line end.
    std::string Row() const;

  private:
    TVeltraTable& m_Table;
    std::vector<TField*> m_Fields;
    TRecordTextFormat m_Format;
    bool m_PlainText;
};

// One CSV row of the given cells (UTF-8), quoted as above, with CR LF.
std::string CsvRow(const std::vector<std::string>& cells);

// Holds one read phase over a batch of records while a shared table is read
// from start to end. On its own every cursor step is a read phase: a lock
// round trip and a look at three file headers per record. A batch of 256
// records holds the read lock for milliseconds, well inside the time writers
// retry for, and the engine still notices other processes' changes at the
// start of each batch (and keeps the cursor where it was). Step() after each
// record; the destructor ends the phase.
class TReadBatch {
  public:
    explicit TReadBatch(TDataFile& file);
    ~TReadBatch();
    TReadBatch(const TReadBatch&) = delete;
    TReadBatch& operator=(const TReadBatch&) = delete;
    void Step();

  private:
    TDataFile& m_File;
    int64_t m_Count = 0;
};

}  // namespace veltra
