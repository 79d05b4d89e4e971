// The Columns menu: one checkable item per ticket field (the rich-text
// fields excepted) that shows or hides the grid columns of that field.
#include <QAction>
#include <QMenu>

#include "app/mainform.h"
#include "platform/qt/app/application.h"
#include "platform/qt/app/hints.h"
#include "platform/qt/controls/db_grid.h"

namespace veltra {

void Tmainform::buildcolumsmenu() {
    m_ColumnsMenu->clear();
    for (const auto& field : m_Table.Fields()) {
        const QString name = QString::fromStdString(field->FieldName());
        if (name == "Description" || name == "History" || name == "All") continue;
        // The caption is the field name exactly: no accelerator is made of
        // an "&" in it.
        QAction* item = m_ColumnsMenu->addAction(QString(name).replace("&", "&&"));
        item->setData(name);
        item->setCheckable(true);
        SetHint(item, "Check to show column, uncheck to hide");
        connect(item, &QAction::triggered, this,
                [this, item] { RunGuarded([this, item] { ColumnItemClick(item); }); });
    }
    const QList<TGridColumn> columns = m_Grid->Columns();
    for (QAction* item : m_ColumnsMenu->actions()) {
        bool checked = false;
        for (const TGridColumn& column : columns)
            if (column.FieldName.trimmed() == item->data().toString().trimmed() && column.Visible)
                checked = true;
        item->setChecked(checked);
    }
    m_ColumnsMenu->setEnabled(!m_ColumnsMenu->actions().isEmpty());
}

void Tmainform::ColumnItemClick(QAction*) {
    // The click has already inverted the check mark. Every item, from the
    // last to the first, then decides the visibility of its columns; an item
    // without a column changes only its mark.
    const QList<QAction*> items = m_ColumnsMenu->actions();
    for (auto it = items.rbegin(); it != items.rend(); ++it)
        m_Grid->SetFieldVisible((*it)->data().toString(), (*it)->isChecked());
}

}  // namespace veltra
