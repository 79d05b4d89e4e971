// The main window's "Export View..." command: the open log's view (order,
// query, visible grid columns) written to a CSV or JSON-lines file, with a
// progress window that can cancel it (app/export_view.h).
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QProgressDialog>
#include <algorithm>
#include <climits>

#include "app/export_view.h"
#include "app/mainform.h"
#include "platform/qt/controls/db_grid.h"
#include "platform/qt/dialogs/dialogs.h"

namespace veltra {

namespace {
const QString kDescriptionField = "Description";
}  // namespace

void Tmainform::ExportViewClick() {
    if (!m_Table.Active()) return;
    const QString log = QFileInfo(QString::fromStdString(m_Table.TableName())).completeBaseName();
    const std::optional<QString> path =
        Dialogs().SaveFileName(this, "Export View", QDir::home().filePath(log + ".csv"),
                               "CSV files (*.csv);;JSON lines (*.jsonl);;All files (*)", "csv");
    if (!path) return;

    TViewExport view;
    view.TableName = m_Table.TableName();
    view.IndexName = m_Table.IndexName();
    view.Filter = m_Table.Filter();
    view.Options = m_Table.FilterOptions();
    view.Filtered = m_Table.Filtered();
    for (const TGridColumn& column : m_Grid->Columns()) {
        if (column.Visible) view.Fields << column.FieldName;
    }
    // The grid never shows the description; the export ends with it.
    if (!view.Fields.contains(kDescriptionField) &&
        m_Table.FindField(kDescriptionField.toStdString()))
        view.Fields << kDescriptionField;
    view.Format = ExportFormatFor(*path);

    QProgressDialog progress("Exporting tickets...", "Cancel", 0, 0, this);
    progress.setObjectName("exportprogress");
    progress.setWindowTitle("Export View");
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    const std::optional<int64_t> written =
        ExportView(view, *path, [&](int64_t done, int64_t total) {
            progress.setMaximum(int(std::min<int64_t>(total, INT_MAX)));
            progress.setValue(int(std::min<int64_t>(done, progress.maximum())));
            // A window-modal progress window handles its events in setValue; the
            // check keeps the Cancel button answering when it is not shown yet.
            QApplication::processEvents();
            return !progress.wasCanceled();
        });
    progress.close();
    if (!written) return;
    Dialogs().Information(
        this, QString("Exported %1 tickets to %2.")
                  .arg(QLocale().toString(qlonglong(*written)), QDir::toNativeSeparators(*path)));
}

}  // namespace veltra
