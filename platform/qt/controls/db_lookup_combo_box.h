// TDBLookupComboBox: a fixed pick list whose entries come from another
// dataset (the list source): one entry per record of the list dataset, in its
// order, showing ListField and standing for KeyField. The control is bound
// to a field of its own data source (DataField) and shows the entry whose key
// equals that field's value (none when no key matches).
//
// Choosing an entry puts the data source's dataset into Edit and writes the
// entry's key into the field at once. The entries are read when the list
// dataset opens, re-reads its records or changes; reading walks the list
// dataset with its controls disabled and puts it back on its current record.
#pragma once

#include <QComboBox>
#include <QStringList>

#include "platform/qt/controls/field_data_link.h"

namespace veltra {

class TDBLookupComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TDBLookupComboBox(QWidget* parent = nullptr);
    ~TDBLookupComboBox() override;

    void SetDataSource(TDataSource* source);
    TDataSource* DataSource() const { return m_Link.DataSource(); }
    void SetDataField(const QString& fieldName);
    QString DataField() const { return m_Link.FieldName(); }
    TField* Field() const { return m_Link.Field(); }
    void SetReadOnly(bool readOnly);

    // The list: a data source over the dataset that supplies the entries,
    // the field whose value is stored, and the field that is shown (the key
    // field when empty).
    void SetListSource(TDataSource* source);
    TDataSource* ListSource() const;
    void SetKeyField(const QString& fieldName);
    void SetListField(const QString& fieldName);
    // Reads the entries from the list dataset again.
    void RefreshList();

    // The key of the entry shown ("" when none).
    QString KeyValue() const;
    QStringList Keys() const { return m_Keys; }

Q_SIGNALS:
    // An entry was chosen by the user and its key written.
    void changed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void showPopup() override;

private:
    class TListLink;
    void ShowField();
    void Choose(int index);

    TFieldDataLink m_Link;
    TListLink* m_ListLink;
    QString m_KeyField;
    QString m_ListField;
    QStringList m_Keys;
    bool m_Showing = false;
    bool m_Reading = false;
};

}  // namespace veltra
