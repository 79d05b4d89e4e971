#include "errors.h"

#include <string_view>

#include "session.h"

namespace veltra {

namespace {

// Message templates. Placeholders: {file} data file name, {field} field name,
// {index} index name, {extra} extra text, {os} OS error number.
struct TMessageRow {
    int Code;
    std::string_view Text;
};

constexpr TMessageRow kMessages[] = {
    {8705, "Beginning of file encountered in data file {file}"},
    {8706, "End of file encountered in data file {file}"},
    {8708, "Key not found in index {index} of data file {file}"},
    {8710, "Record not found in data file {file}"},
    {8711, "End of blob data in data file {file} reached prematurely"},
    {8961, "Header information corrupt in data file {file}"},
    {8962, "Data record buffers corrupt in data file {file}"},
    {8963, "BLOB block buffers corrupt in data file {file}"},
    {8965, "Index page buffers corrupt in data file {file}"},
    {9217, "Error reading from data file {file}"},
    {9218, "Error writing to data file {file}"},
    {9220, "Cannot delete data file {file}"},
    {9221, "Error accessing file header information for data file {file}"},
    {9477, "Maximum record size exceeded in data file {file}"},
    {9479, "The data file {file} is full and cannot contain any more data"},
    {9482, "Too many filters defined for data file {file}"},
    {9487, "Maximum or minimum limits on number of indexes or fields in an index exceeded in data "
           "file {file}"},
    {9492, "Maximum or minimum limits on number of fields or field size exceeded in data file {file}"},
    {9494, "Too many blobs opened in data file {file}"},
    {9498, "Too many blob fields or invalid blob block size specified for data file {file}"},
    {9729, "Duplicate key found in index {index} of data file {file}"},
    {9730, "The value for the field {field} in data file {file} is below the minimum allowable value"},
    {9731, "The value for the field {field} in data file {file} is above the maximum allowable value"},
    {9732, "A value must be provided for the field {field} in data file {file}"},
    {9985, "Invalid field number or name {field} specified for data file {file}"},
    {9993, "A primary index is already defined for data file {file} and cannot be added again"},
    {9998, "Invalid blob offset into data file {file} specified"},
    {10000, "Invalid field definition specified for the field {field} in data file {file}"},
    {10006, "Invalid default, min or max validity check, or expression specified for {field} in data "
            "file {file}"},
    {10010, "The secondary index name is missing or not specified for data file {file}"},
    {10015, "Password provided for data file {file}is invalid"},
    {10022, "Invalid secondary index name {index} specified for data file {file}"},
    {10023, "Invalid field number {field} specified in index {index} for data file {file}"},
    {10026, "Invalid key size specified in index {index} for data file {file}"},
    {10027, "The secondary index {index} already exists for data file {file}"},
    {10029, "Invalid blob length in data file {file}"},
    {10030, "Invalid blob handle for data file {file} specified"},
    {10031, "Data file {file} is already in use"},
    {10038, "Invalid or duplicate field name {field} specified for data file {file}"},
    {10050, "Invalid filter handle specified for data file {file}"},
    {10051, "Invalid filter expression specified for data file {file}"},
    {10055, "The primary index cannot be removed from data file {file}"},
    {10241, "The data file {file} is already locked by another user"},
    {10242, "Cannot unlock data file or record in data file {file}"},
    {10249, "General lock failure with data file {file}"},
    {10253, "Data file {file} must be opened exclusively"},
    {10258, "Record in data file {file} is in use by another user"},
    {10498, "Insufficient rights to data file {file}, a password is required"},
    {10753, "Invalid blob field {field} specified for data file {file}"},
    {10758, "Veltra engine not initialized"},
    {11010, "Invalid path or file name for data file {file}"},
    {11012, "Too many files open while attempting to open data file {file}"},
    {11013, "Access denied to data file {file}"},
    {11014, "Invalid file handle for data file {file}"},
    {11016, "There is insufficient operating system memory available for the current operation"},
    {11017, "Invalid length for in-memory data file {file}"},
    {11023, "Access denied to logical operating system device for data file {file}"},
    {11025, "Data file {file} has been moved"},
    {11047, "An unknown operating system error #{os} occurred with data file {file}"},
    {11949, "SQL - {extra}"},
    {12035, "Data file {file} is not the correct version"},
    {12292, "Invalid field type specified for index {index} in data file {file}"},
    {15878, "The language driver for data file {file} is not available or installed"},
};

constexpr std::string_view kUnknownMessage = "Unknown error occurred with data file {file}";

std::string_view TemplateFor(int code) {
    for (const auto& row : kMessages)
        if (row.Code == code) return row.Text;
    return kUnknownMessage;
}

std::string Expand(std::string_view tmpl, const TErrorContext& ctx) {
    std::string out;
    out.reserve(tmpl.size() + ctx.FileName.size());
    size_t i = 0;
    while (i < tmpl.size()) {
        if (tmpl[i] == '{') {
            size_t close = tmpl.find('}', i);
            std::string_view name = tmpl.substr(i + 1, close - i - 1);
            if (name == "file") out += ctx.FileName;
            else if (name == "field") out += ctx.FieldName;
            else if (name == "index") out += ctx.IndexName;
            else if (name == "extra") out += ctx.ExtraText;
            else if (name == "os") out += std::to_string(ctx.OsError);
            i = close + 1;
        } else {
            out += tmpl[i++];
        }
    }
    return out;
}

std::string BuildMessage(int code, const std::string& text) {
    return "Veltra Engine Error # " + std::to_string(code) + " " + text;
}

}  // namespace

EVeltraEngineError::EVeltraEngineError(int code, const std::string& text)
    : EDatabaseError(BuildMessage(code, text)),
      m_Errors{TVeltraError{code, text.substr(0, kMaxErrorText)}} {}

std::string EngineErrorText(int code, const TErrorContext& context) {
    std::string text = Expand(TemplateFor(code), context);
    if (text.size() > kMaxErrorText) text.resize(kMaxErrorText);
    return text;
}

std::string EngineErrorText(int code) {
    if (code == ecNotInitialized || !EngineStarted()) return EngineErrorText(code, TErrorContext{});
    return EngineErrorText(code, CurrentSession().ErrorContext);
}

void RaiseEngineError(int code, const std::string& fileName, const std::string& fieldName,
                      const std::string& indexName, const std::string& extraText) {
    if (code == ecNotInitialized || !EngineStarted()) {
        TErrorContext ctx;
        if (code != ecNotInitialized) {
            ctx.FileName = ShortString(fileName);
            ctx.FieldName = ShortString(fieldName);
            ctx.IndexName = ShortString(indexName);
            ctx.ExtraText = ShortString(extraText);
        }
        throw EVeltraEngineError(code, EngineErrorText(code, ctx));
    }
    StoreEngineErrorContext(code, fileName, fieldName, indexName, extraText);
    throw EVeltraEngineError(code, EngineErrorText(code, CurrentSession().ErrorContext));
}

void StoreEngineErrorContext(int code, const std::string& fileName, const std::string& fieldName,
                             const std::string& indexName, const std::string& extraText) {
    if (!EngineStarted()) return;
    TErrorContext& ctx = CurrentSession().ErrorContext;
    uint16_t os = ctx.OsError;
    ctx = TErrorContext{};
    ctx.OsError = os;
    ctx.ErrorCode = uint16_t(code);
    ctx.FileName = ShortString(fileName);
    ctx.FieldName = ShortString(fieldName);
    ctx.IndexName = ShortString(indexName);
    ctx.ExtraText = ShortString(extraText);
}

void CheckEngineResult(int code, const std::string& fileName) {
    if (code == ecOK) return;
    if (!EngineStarted()) RaiseEngineError(code, fileName);
    // The operation that reported the code left its names in the context:
    // the field, index or other name the message quotes goes with it. A
    // context left by another code says nothing about this one.
    const TErrorContext ctx = CurrentSession().ErrorContext;
    const std::string file = fileName.empty() ? ctx.FileName : fileName;
    if (ctx.ErrorCode != uint16_t(code)) RaiseEngineError(code, file);
    RaiseEngineError(code, file, ctx.FieldName, ctx.IndexName, ctx.ExtraText);
}

int LastEngineErrorCode() {
    if (!EngineStarted()) return 0;
    return CurrentSession().ErrorContext.ErrorCode;
}

}  // namespace veltra
