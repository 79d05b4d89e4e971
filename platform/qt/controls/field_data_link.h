// TFieldDataLink: the link through which a data-aware control follows one
// field of a data source's dataset, as the dataset framework's controls do:
//
//   - the control shows the field of the current record (OnDataChange, called
//     when the dataset opens, closes, scrolls, re-reads its records or
//     changes this field or the whole record);
//   - before the first change of its text the control calls Edit(), which
//     puts the dataset into Edit (or Insert on an empty dataset); when that
//     fails or the field cannot be modified the control refuses the change;
//   - a changed control calls Modified(); its value is written by
//     OnUpdateData when the control loses focus (UpdateRecord) or when the
//     record is posted (the dataset's UpdateData notification);
//   - Reset() throws the pending change away and shows the field again (Esc).
//
// The field is looked up by name each time it is needed, so it never dangles
// when the dataset closes and reopens with new field objects.
#pragma once

#include <QString>
#include <functional>

#include "platform/dataset.h"

namespace veltra {

class TFieldDataLink : public TDataLink {
public:
    TFieldDataLink() = default;
    ~TFieldDataLink() override;

    const QString& FieldName() const { return m_FieldName; }
    // Binds the link to a field by name; the control is told (OnDataChange).
    void SetFieldName(const QString& name);
    // The field in the dataset now; nullptr when the dataset is closed or has
    // no such field.
    TField* Field() const;

    // The control's own read-only flag.
    bool ReadOnly() const { return m_ReadOnly; }
    void SetReadOnly(bool readOnly);
    // Whether the field can be changed now: a field exists, neither it nor the
    // control nor the dataset (a read-only table) is read-only.
    bool CanModify() const;

    // Puts the dataset into Edit when it is not editing yet. False when the
    // field cannot be modified; exceptions of the dataset's Edit (a record
    // another user holds locked) propagate.
    bool Edit();
    bool IsModified() const { return m_Modified; }
    void Modified() { m_Modified = true; }
    // Drops the pending change and shows the field again.
    void Reset();
    // Writes a pending change (OnUpdateData) and clears the modified flag.
    // Exceptions of the write (a text that does not convert) propagate, and
    // the change stays pending.
    void UpdateRecord();

    std::function<void()> OnDataChange;    // show the field's value
    std::function<void()> OnEditingChange;  // the dataset entered or left Edit/Insert
    std::function<void()> OnUpdateData;     // write the control's value into the field
    std::function<void()> OnActiveChange;   // the dataset opened or closed

protected:
    void ActiveChanged() override;
    void DataSetChanged() override;
    void DataSetScrolled(int distance) override;
    void RecordChanged(TField* field) override;
    void EditingChanged() override;
    void UpdateData() override;

private:
    void ShowField();
    QString m_FieldName;
    bool m_ReadOnly = false;
    bool m_Modified = false;
};

// Whether `dataSet` may be changed at all (false for a read-only table).
bool DataSetCanModify(const TDataSet* dataSet);

}  // namespace veltra
