// The lines of filter text the query builder writes, without any window.
//
// A query list is a list of lines. The first is a bare condition; every
// later line begins with a connective exactly kConnectiveWidth characters
// wide ("OR      ", "AND     " or "AND NOT ") followed by a condition. A
// condition is "[Field] op value": the bracketed field name, a blank, the
// operator ("=", "<>", ">" or "<"), a blank and the value. The whole list,
// each line followed by CR LF, is filter text of the table engine's filter
// language.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace veltra {

constexpr int kConnectiveWidth = 8;

// How the query builder asks for the value of a field entry ("[Title]").
enum class TQueryValueKind {
    None,     // a field the builder does not know: no line is made
    Text,     // [Title], [Other]: a text prompt, quoted, "*" after "=" text
    Integer,  // [ID], [Priority]: a text prompt, null when blank
    Date,     // [Submit date], [Close date], [Last update]: the date dialog
    Pick,     // [Submitter], [Owner], [State], [Category]: the pick dialog
};
TQueryValueKind QueryValueKind(const QString& fieldEntry);

// The edit window's list that fills the pick dialog for a Pick field.
enum class TQueryPickList { Submitter, State, Category };
TQueryPickList QueryPickList(const QString& fieldEntry);

// `text` in single quotes with every single quote inside doubled.
QString QuotedConstant(const QString& text);

// The value of a Text field: the answer trimmed, "*" appended when the
// operator is "=" and the trimmed answer is not empty, quoted.
QString TextValue(const QString& op, const QString& answer);
// The value of an Integer field: "null" for a blank answer, else the trimmed
// answer when it reads as a 32-bit integer in decimal; nullopt otherwise.
std::optional<QString> IntegerValue(const QString& answer);
// The value of a Date field from the date field's text: "null" when it
// begins with a blank (no date entered), else the text quoted.
QString DateValue(const QString& shownText);
// The value of a Pick field: the trimmed text, quoted.
QString PickValue(const QString& text);

// "field op value".
QString Condition(const QString& fieldEntry, const QString& op, const QString& value);
// The line a new condition adds to a list of `existingLines` lines: the
// condition alone for the first line, "OR      " and the condition after.
QString NewQueryLine(int existingLines, const QString& condition);

// A connective button's caption padded with blanks and cut to the width.
QString Connective(const QString& caption);
// `line` with its first kConnectiveWidth characters replaced by the
// connective of `caption`.
QString WithConnective(const QString& line, const QString& caption);
// `lines` without line `index` (ignored when out of range); a first line
// left beginning with "AND", "OR" or "AND NOT" loses its connective.
QStringList RemoveQueryLine(QStringList lines, int index);

// The filter text of a query list: every line followed by CR LF.
QString QueryFilterText(const QStringList& lines);

// Saved query files: the lines, each ended by CR LF, nothing else. Text is
// UTF-8. Raise std::runtime_error naming the file when it cannot be written
// or read. Reading accepts CR LF or LF line ends and gives no empty last
// line for a file ending with a line end.
void WriteQueryFile(const QString& path, const QStringList& lines);
QStringList ReadQueryFile(const QString& path);

}  // namespace veltra
