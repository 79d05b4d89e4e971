// The change history of tickets: the snapshot taken when a ticket enters
// edit state and the step run before every post of the main table, which
// appends one line per changed field to `History`, stamps `Last update` and
// rebuilds `All` (the description followed by the history, one RTF document
// that the text pane shows and the detail report prints).
//
// History text: lines separated by CR LF. The first is the heading
// "\par \par Change History\par"; each later line is one event ending with
// "\par":
//   <date> at <time> <user> submitted ticket\par
//   <date> at <time> <user> changed <field> from <old> to <new>\par
//        (the text up to and including <old> cut to 75 characters, the
//         whole line before "\par" cut to 100)
//   <date> at <time> <user> changed Description\par
// Dates are in the short date form and times in the long time form of the
// process-wide format settings (the user's locale once installed).
//
// Values are cut first and escaped afterwards, so an escape is never cut in
// half: "\", "{" and "}" become "\\", "\{" and "\}", and characters beyond
// ASCII are written as RTF hex escapes of their Windows-1252 bytes. The
// history is thereby 7-bit text that keeps `All` a well-formed document
// whatever a title or category contains; a reader of the history sees the
// values as typed.
//
// `All` is the stored description less its nine closing characters (the RTF
// writer's fixed closing sequence), the history lines each followed by CR LF,
// and "\par }". A description that is empty or that does not end with that
// closing sequence (one written by another program) is first rewritten by
// the RTF codec, so the cut always removes exactly the closing sequence.
#pragma once

#include <array>
#include <functional>
#include <string>

namespace veltra {

class TDataSet;

class TTicketHistory {
public:
    // The history field list: the first eight are compared at every post.
    static constexpr std::array<const char*, 9> kFieldList = {
        "Title", "Submitter", "Submit date", "State", "Priority",
        "Close date", "Category", "Owner", "Description"};
    static constexpr const char* kHeading = "\\par \\par Change History\\par";

    // The before-edit step: stores the display text of each compared field
    // of the table's active record.
    void TakeSnapshot(const TDataSet& table);

    // The before-post step on a table in Edit or Insert state. user is the
    // current user name (UTF-8); descriptionModified tells whether the edit
    // window's description was changed. Raises what the fields raise.
    void BeforePost(TDataSet& table, const std::string& user, bool descriptionModified);

    // Today's date and the time of day as the step writes them; tests
    // replace them to pin the texts (UTF-8).
    std::function<std::string()> TodayText;
    std::function<std::string()> TimeText;

    // Exposed for tests: the changed-field line without its "\par", before
    // escaping, for texts in Windows-1252.
    static std::string ChangedLine(const std::string& prefix, const std::string& field,
                                   const std::string& oldText, const std::string& newText);

private:
    std::array<std::string, 8> m_Snapshot;
};

// Escapes Windows-1252 text for an RTF document: "\", "{", "}" and bytes
// beyond ASCII.
std::string RtfEscapeCp1252(const std::string& text);

}  // namespace veltra
