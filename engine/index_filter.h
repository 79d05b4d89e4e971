// Filters attached to a table cursor. A filter is either an expression filter
// (a compiled condition evaluated per record, which may also answer from an
// index) or a callback filter (the dataset's record filter event, always
// answered by reading the records). While active, a filter's bitmap holds the
// records it accepts; the cursor shows only records whose bits are set in
// every active filter.
#pragma once

#include <functional>
#include <memory>

#include "record_bitmap.h"

namespace veltra {

class TDataFile;

// A condition evaluated on a record image.
class TFilterEvaluator {
public:
    virtual ~TFilterEvaluator() = default;
    virtual bool Matches(const uint8_t* record) const = 0;
    // A copy for a second cursor on the same table.
    virtual std::unique_ptr<TFilterEvaluator> Clone() const = 0;
    // Fills `bitmap` (sized for the table's record slots) with the accepted
    // records among `live`, answering what it can from the table's indexes
    // and reading only the records it must; returns false to have every live
    // record read and tested with Matches instead.
    virtual bool BuildBitmap(TDataFile& /*table*/, const TRecordBitmap& /*live*/, TRecordBitmap& /*bitmap*/) {
        return false;
    }
};

using TFilterCallback = std::function<bool(const uint8_t* record)>;

class TFilter {
public:
    TFilter(std::unique_ptr<TFilterEvaluator> expression, TFilterCallback callback)
        : Expression(std::move(expression)), Callback(std::move(callback)) {}

    bool Matches(const uint8_t* record) const {
        return Expression ? Expression->Matches(record) : Callback(record);
    }

    std::unique_ptr<TFilterEvaluator> Expression;
    TFilterCallback Callback;
    TRecordBitmap Bitmap;
    bool Active = false;
};

using TFilterHandle = TFilter*;

}  // namespace veltra
