#include "platform/qt/controls/db_lookup_combo_box.h"

#include <QKeyEvent>

#include "platform/qt/app/application.h"

namespace veltra {

// Follows the list dataset: any change of its records reads the entries again.
class TDBLookupComboBox::TListLink : public TDataLink {
public:
    explicit TListLink(TDBLookupComboBox& owner) : m_Owner(owner) {}
    void ActiveChanged() override { m_Owner.RefreshList(); }
    void DataSetChanged() override { m_Owner.RefreshList(); }

private:
    TDBLookupComboBox& m_Owner;
};

TDBLookupComboBox::TDBLookupComboBox(QWidget* parent)
    : QComboBox(parent), m_ListLink(new TListLink(*this)) {
    m_Link.OnDataChange = [this] { ShowField(); };
    m_Link.OnUpdateData = [] {};  // written when chosen
    connect(this, &QComboBox::activated, this, [this](int index) { Choose(index); });
}

TDBLookupComboBox::~TDBLookupComboBox() { delete m_ListLink; }

void TDBLookupComboBox::SetDataSource(TDataSource* source) {
    m_Link.SetDataSource(source);
    ShowField();
}

void TDBLookupComboBox::SetDataField(const QString& fieldName) {
    m_Link.SetFieldName(fieldName);
    ShowField();
}

void TDBLookupComboBox::SetReadOnly(bool readOnly) { m_Link.SetReadOnly(readOnly); }

void TDBLookupComboBox::SetListSource(TDataSource* source) {
    m_ListLink->SetDataSource(source);
    RefreshList();
}

TDataSource* TDBLookupComboBox::ListSource() const { return m_ListLink->DataSource(); }

void TDBLookupComboBox::SetKeyField(const QString& fieldName) {
    m_KeyField = fieldName;
    RefreshList();
}

void TDBLookupComboBox::SetListField(const QString& fieldName) {
    m_ListField = fieldName;
    RefreshList();
}

void TDBLookupComboBox::RefreshList() {
    if (m_Reading) return;  // our own walk over the list dataset
    QStringList keys, texts;
    TDataSet* ds = m_ListLink->DataSet();
    if (ds != nullptr && ds->Active() && !m_KeyField.isEmpty()) {
        TField* key = ds->FindField(m_KeyField.toStdString());
        TField* shown = m_ListField.isEmpty() ? key : ds->FindField(m_ListField.toStdString());
        const bool browsing = ds->State() == TDataSetState::Browse;
        if (key != nullptr && shown != nullptr && browsing) {
            m_Reading = true;
            ds->DisableControls();
            try {
                const int64_t current = ds->IsEmpty() ? 0 : ds->RecNo();
                for (ds->First(); !ds->Eof(); ds->Next()) {
                    if (ds->IsEmpty()) break;
                    keys << QString::fromStdString(key->AsString());
                    texts << QString::fromStdString(shown->AsString());
                }
                if (current > 0) ds->SetRecNo(current);
            } catch (...) {
                ds->EnableControls();
                m_Reading = false;
                throw;
            }
            ds->EnableControls();
            m_Reading = false;
        }
    }
    m_Keys = keys;
    m_Showing = true;
    clear();
    addItems(texts);
    m_Showing = false;
    ShowField();
}

QString TDBLookupComboBox::KeyValue() const {
    const int index = currentIndex();
    return index >= 0 && index < m_Keys.size() ? m_Keys[index] : QString();
}

void TDBLookupComboBox::ShowField() {
    const TField* field = m_Link.Field();
    int index = -1;
    if (field != nullptr && !field->IsNull()) index = int(m_Keys.indexOf(QString::fromStdString(field->AsString())));
    m_Showing = true;
    setCurrentIndex(index);
    m_Showing = false;
}

void TDBLookupComboBox::Choose(int index) {
    if (m_Showing || index < 0 || index >= m_Keys.size()) return;
    const QString key = m_Keys[index];
    bool written = false;
    RunGuarded([&] {
        if (!m_Link.Edit()) return;
        if (TField* field = m_Link.Field()) field->SetAsString(key.toStdString());
        written = true;
    });
    ShowField();
    if (written) Q_EMIT changed();
}

void TDBLookupComboBox::showPopup() {
    if (!m_Link.CanModify()) return;
    QComboBox::showPopup();
}

void TDBLookupComboBox::wheelEvent(QWheelEvent* event) { event->ignore(); }

void TDBLookupComboBox::keyPressEvent(QKeyEvent* event) {
    const bool opens = event->modifiers() & Qt::AltModifier;
    if (!opens && !m_Link.CanModify() && event->key() != Qt::Key_Tab &&
        event->key() != Qt::Key_Backtab && event->key() != Qt::Key_Escape) {
        event->accept();
        return;
    }
    QComboBox::keyPressEvent(event);
}

}  // namespace veltra
