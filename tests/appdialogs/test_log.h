// A ticket log for the dialog tests: a temporary program folder holding a
// `data` folder with one log copied from the ticket template, and helpers to
// fill it with tickets.
#pragma once

#include <QString>

class QWidget;
#include <optional>
#include <string>

#include "engine/veltra_table.h"

namespace veltra_test {

struct TTicket {
    std::string Title;
    std::string Description;  // visible text; written as RTF unless empty
    std::string State = "Open";
    std::string Submitter = "ann";
    std::string Category;
    std::string SubmitDate;  // in the format settings in force; "" for null
    std::optional<int> Priority;
};

class TTestLog {
  public:
    // Creates the folders and copies the template as data/<name>.dat/.idx/.blb.
    explicit TTestLog(const std::string& name = "log");
    ~TTestLog();
    TTestLog(const TTestLog&) = delete;
    TTestLog& operator=(const TTestLog&) = delete;

    QString ProgramFolder() const;
    QString DataFolder() const;
    // The full path of data/<name><ext>.
    QString File(const std::string& ext) const;

    // The log's table component, opened (shared) by Open.
    veltra::TVeltraTable& Table() { return m_Table; }
    void Open();
    // Posts one ticket through the table component (open or not: a closed
    // table is opened for the call and stays open).
    void Add(const TTicket& ticket);
    // Posts `count` tickets titled "Ticket <n>" with a short description,
    // the table opened exclusively for speed; the table is left closed.
    void AddMany(int count);
    // Moves the table to the ticket with this ID (through the `ID` index,
    // which is then left active).
    void GoTo(int id);
    int CurrentId();

  private:
    std::string m_Root;
    std::string m_Name;
    veltra::TVeltraTable m_Table;
};

// Types `text` into `widget` key by key, as a person would; characters
// outside ASCII arrive as key events carrying their text.
void TypeText(QWidget* widget, const QString& text);

// The RTF the edit window would store for a description of one paragraph.
std::string DescriptionRtf(const std::string& text);

}  // namespace veltra_test
