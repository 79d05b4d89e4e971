// TDBRadioGroup: a captioned group of radio buttons bound to a field. Item i
// stands for the value Values()[i], or for its own caption when no value is
// given for it; the button whose value equals the field's text is checked,
// none when no value matches (a null field included).
//
// Choosing a button puts the dataset into Edit and writes its value into the
// field at once (a change the dataset refuses leaves the buttons showing the
// field). The buttons cannot be chosen while the field cannot be modified.
#pragma once

#include <QGroupBox>
#include <QList>
#include <QStringList>

#include "platform/qt/controls/field_data_link.h"

class QButtonGroup;
class QRadioButton;
class QVBoxLayout;

namespace veltra {

class TDBRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit TDBRadioGroup(QWidget* parent = nullptr);
    explicit TDBRadioGroup(const QString& caption, QWidget* parent = nullptr);

    void SetDataSource(TDataSource* source);
    TDataSource* DataSource() const { return m_Link.DataSource(); }
    void SetDataField(const QString& fieldName);
    QString DataField() const { return m_Link.FieldName(); }
    TField* Field() const { return m_Link.Field(); }
    void SetReadOnly(bool readOnly);

    // The buttons' captions, top to bottom (the buttons are made anew).
    void SetItems(const QStringList& items);
    QStringList Items() const { return m_Items; }
    void SetValues(const QStringList& values);
    QStringList Values() const { return m_Values; }

    // The checked button's index, -1 when none.
    int ItemIndex() const;
    // The value that item `index` stands for.
    QString ValueOf(int index) const;
    QRadioButton* Button(int index) const;

Q_SIGNALS:
    // A button was chosen by the user and its value written.
    void changed();

private:
    void ShowField();
    void Choose(int index);
    void UpdateReadOnly();

    TFieldDataLink m_Link;
    QStringList m_Items;
    QStringList m_Values;
    QList<QRadioButton*> m_Buttons;
    QButtonGroup* m_Group = nullptr;
    QVBoxLayout* m_Layout = nullptr;
    bool m_Showing = false;
};

}  // namespace veltra
