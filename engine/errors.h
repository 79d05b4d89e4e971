// Engine errors. Every failure inside the table engine is raised as one
// exception type, EVeltraEngineError, carrying a 16-bit engine error code and
// an English message built from the code and the current session's error
// context (file, field and index names, an extra text, the OS error number).
//
// Message format: "Veltra Engine Error # " + decimal code + " " + entry text,
// where the entry text comes from the message table in errors.cpp and is cut
// to 127 characters.
//
// The high byte of a code groups related errors: 0x22 positioning, 0x23 damaged
// files and buffers, 0x24 reading and writing, 0x25 limits, 0x26 values and keys,
// 0x27 invalid requests, 0x28 locks, 0x29 passwords, 0x2A BLOBs and engine state,
// 0x2B operating system, 0x2E query text, 0x2F version, 0x30 index definitions,
// 0x3E locale.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/db_error.h"

namespace veltra {

// Engine error codes used by name in the engine.
enum : uint16_t {
    ecOK = 0,
    ecBOF = 8705,
    ecEOF = 8706,
    ecKeyNotFound = 8708,
    ecRecordNotFound = 8710,
    ecEndOfBlob = 8711,
    ecHeaderCorrupt = 8961,
    ecRecordBuffersCorrupt = 8962,
    ecBlobBuffersCorrupt = 8963,
    ecIndexBuffersCorrupt = 8965,
    ecReadError = 9217,
    ecWriteError = 9218,
    ecCannotDelete = 9220,
    ecHeaderAccess = 9221,
    ecRecordSizeExceeded = 9477,
    ecFileFull = 9479,
    ecTooManyFilters = 9482,
    ecIndexLimits = 9487,
    ecFieldLimits = 9492,
    ecTooManyBlobs = 9494,
    ecBlobFieldLimits = 9498,
    ecDuplicateKey = 9729,
    ecBelowMinimum = 9730,
    ecAboveMaximum = 9731,
    ecValueRequired = 9732,
    ecInvalidField = 9985,
    ecPrimaryExists = 9993,
    ecInvalidBlobOffset = 9998,
    ecInvalidFieldDefinition = 10000,
    ecInvalidValidityCheck = 10006,
    ecIndexNameMissing = 10010,
    ecInvalidPassword = 10015,
    ecInvalidIndexName = 10022,
    ecInvalidIndexField = 10023,
    ecInvalidKeySize = 10026,
    ecIndexExists = 10027,
    ecInvalidBlobLength = 10029,
    ecInvalidBlobHandle = 10030,
    ecInUse = 10031,
    ecInvalidFieldName = 10038,
    ecInvalidFilterHandle = 10050,
    ecInvalidFilter = 10051,
    ecPrimaryCannotBeRemoved = 10055,
    ecTableLocked = 10241,
    ecCannotUnlock = 10242,
    ecLockFailure = 10249,
    ecMustBeExclusive = 10253,
    ecRecordInUse = 10258,
    ecPasswordRequired = 10498,
    ecInvalidBlobField = 10753,
    ecNotInitialized = 10758,
    ecInvalidPath = 11010,
    ecTooManyFiles = 11012,
    ecAccessDenied = 11013,
    ecInvalidHandle = 11014,
    ecOutOfMemory = 11016,
    ecInvalidMemoryLength = 11017,
    ecDeviceAccessDenied = 11023,
    ecFileMoved = 11025,
    ecUnknownOsError = 11047,
    ecSql = 11949,
    ecWrongVersion = 12035,
    ecInvalidIndexFieldType = 12292,
    ecLanguageDriver = 15878,
};

// One entry of an engine error: code and message text (at most 127 characters).
struct TVeltraError {
    int ErrorCode;
    std::string Message;
};

class EVeltraEngineError : public EDatabaseError {
public:
    EVeltraEngineError(int code, const std::string& text);

    // Code of the first entry; the engine always raises exactly one entry.
    int ErrorCode() const { return m_Errors.front().ErrorCode; }
    const std::vector<TVeltraError>& Errors() const { return m_Errors; }

private:
    std::vector<TVeltraError> m_Errors;
};

// Stores code and texts in the current session's error context (clearing the
// rest except the OS error number) and raises EVeltraEngineError. Code 10758
// stores nothing: there may be no session yet. When the engine was never
// started the message is built from the given texts without storing them.
[[noreturn]] void RaiseEngineError(int code, const std::string& fileName = {},
                                   const std::string& fieldName = {},
                                   const std::string& indexName = {},
                                   const std::string& extraText = {});

// Stores code and texts in the current session's error context as raising
// would (keeping the OS error number), without raising; for operations that
// report codes. Does nothing before EngineStartup.
void StoreEngineErrorContext(int code, const std::string& fileName = {}, const std::string& fieldName = {},
                             const std::string& indexName = {}, const std::string& extraText = {});

// The message text for `code` built from the current session's context, cut
// to 127 characters.
std::string EngineErrorText(int code);
// The same from an explicit context (used by the above and by tests).
std::string EngineErrorText(int code, const struct TErrorContext& context);

// Raises the engine error for a non-zero code returned by an operation that
// reports codes instead of raising. When the context holds that code, the
// field, index and extra names the reporting operation left there go into
// the message, and so does its file name unless one is given here.
void CheckEngineResult(int code, const std::string& fileName = {});

// The code stored in the current session's context (0 when none or no session).
int LastEngineErrorCode();

// Maximum length of one error entry's text.
constexpr size_t kMaxErrorText = 127;

}  // namespace veltra
