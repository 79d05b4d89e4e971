#include "platform/qt/controls/field_data_link.h"

#include "engine/veltra_table.h"

namespace veltra {

bool DataSetCanModify(const TDataSet* dataSet) {
    if (dataSet == nullptr || !dataSet->Active()) return false;
    if (auto* table = dynamic_cast<const TVeltraTable*>(dataSet)) return !table->ReadOnly();
    return true;
}

TFieldDataLink::~TFieldDataLink() {
    // The callbacks belong to the control being destroyed: nothing may reach
    // them while the base class leaves the data source.
    OnDataChange = nullptr;
    OnEditingChange = nullptr;
    OnUpdateData = nullptr;
    OnActiveChange = nullptr;
}

void TFieldDataLink::SetFieldName(const QString& name) {
    if (name == m_FieldName) return;
    m_FieldName = name;
    ShowField();
}

TField* TFieldDataLink::Field() const {
    TDataSet* ds = DataSet();
    if (ds == nullptr || !ds->Active() || m_FieldName.isEmpty()) return nullptr;
    return ds->FindField(m_FieldName.toStdString());
}

void TFieldDataLink::SetReadOnly(bool readOnly) { m_ReadOnly = readOnly; }

bool TFieldDataLink::CanModify() const {
    const TField* field = Field();
    return field != nullptr && !m_ReadOnly && !field->ReadOnly && DataSetCanModify(DataSet());
}

bool TFieldDataLink::Edit() {
    if (!CanModify()) return false;
    TDataSet* ds = DataSet();
    if (ds->State() == TDataSetState::Edit || ds->State() == TDataSetState::Insert) return true;
    ds->Edit();
    return ds->State() == TDataSetState::Edit || ds->State() == TDataSetState::Insert;
}

void TFieldDataLink::Reset() { ShowField(); }

void TFieldDataLink::UpdateRecord() {
    if (!m_Modified) return;
    if (OnUpdateData) OnUpdateData();
    m_Modified = false;
}

void TFieldDataLink::ShowField() {
    m_Modified = false;
    if (OnDataChange) OnDataChange();
}

void TFieldDataLink::ActiveChanged() {
    if (OnActiveChange) OnActiveChange();
    ShowField();
}

void TFieldDataLink::DataSetChanged() { ShowField(); }

void TFieldDataLink::DataSetScrolled(int) { ShowField(); }

void TFieldDataLink::RecordChanged(TField* field) {
    if (field != nullptr && field != Field()) return;
    ShowField();
}

void TFieldDataLink::EditingChanged() {
    if (OnEditingChange) OnEditingChange();
}

void TFieldDataLink::UpdateData() { UpdateRecord(); }

}  // namespace veltra
