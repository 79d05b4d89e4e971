// Field values of a table as JSON and as command-line text, both ways.
//
// Forms (text is UTF-8 here and Windows-1252 in the files):
//   String, memo and formatted-memo BLOBs   JSON string
//   SmallInt, Integer, AutoInc, Word, Cardinal   JSON integer
//   Float, money, BCD                        JSON number (money and BCD also
//                                            take a decimal string)
//   Boolean                                  true / false
//   Date "YYYY-MM-DD"; Time "HH:MM:SS[.mmm]"; DateTime "YYYY-MM-DDTHH:MM:SS[.mmm]"
//   Bytes, VarBytes, graphic, typed and binary BLOBs   {"base64": "..."}
//   null                                     a null field
//
// Writing is strict where the dataset would be lenient: a text longer than
// the field, a character without a Windows-1252 form, a number out of the
// type's range or a fraction for a whole-number field raise EBadInput naming
// the field instead of being cut, replaced or rounded.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/veltra_table.h"

namespace veltra {

using TJson = nlohmann::ordered_json;

// Input that cannot be stored: malformed JSON, a value of the wrong form,
// text without a Windows-1252 form, an unknown field.
class EBadInput : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// UTF-8 to Windows-1252; EBadInput (naming `what`) for invalid UTF-8 or a
// character the code page lacks.
std::string StrictCp1252(const std::string& utf8, const std::string& what);

std::string Base64Encode(const std::string& bytes);
// EBadInput for anything but standard base64 with optional padding.
std::string Base64Decode(const std::string& text, const std::string& what);

// The engine field type and subtype behind a dataset field.
struct TFieldShape {
    uint8_t Type = 0;
    uint8_t SubType = 0;
    int Size = 0;
};
TFieldShape ShapeOf(TVeltraTable& table, const TField& field);

// The current record's value of `field` (BLOBs read through the table).
// With `plainText`, a formatted-memo BLOB that holds an RTF document (it
// begins with "{\rtf" after any blanks) gives the document's visible text
// (platform/rtf/rtf.h: paragraphs separated by "\n"); one that holds other
// text gives that text as it is.
TJson FieldToJson(TVeltraTable& table, const TField& field, bool plainText = false);
// The value as one line of text for CSV: strings as they are, numbers and
// booleans in JSON form, BLOB bytes as base64, null as empty; `plainText` as
// for FieldToJson.
std::string FieldToText(TVeltraTable& table, const TField& field, bool plainText = false);

// Assigns a JSON value to `field` of the record being edited or inserted, or
// (forKey) of a search record, where the auto-increment field takes a value.
void JsonToField(TVeltraTable& table, TField& field, const TJson& value, bool forKey = false);

// A value given as command-line text, in the JSON form of the field's type:
// numbers and booleans unquoted, dates and times as above, bytes as base64.
TJson TextToJson(TVeltraTable& table, const TField& field, const std::string& text);

}  // namespace veltra
