// Teditcategoryform: the category list editor of a log, caption "Edit
// Categories".
//
// One category per line in a text area (vertical scroll bar, no word wrap).
// The caller sets the category file (SetFile: a log's N.txt, the table name
// with ".dat" replaced by ".txt") and fills the text area (LoadFile reads the
// file's lines when it exists and empties the area otherwise; SetLines sets
// them directly), then shows the window (Dialogs().Exec).
//
// OK cuts every line to its first 15 characters, writes all lines to the file
// (each ended by CR LF, Windows-1252, empty lines kept as empty categories)
// and calls OnSaved with the lines, through which the main window replaces
// the Category list of the ticket edit window at once. The file is written
// whole to a temporary file that is renamed into place, so a failed write
// leaves the previous list as it was; the failure is shown in the default
// error box and the window stays open. Cancel closes without writing.
//
// The main window creates it once and sets OnSaved to replace the edit
// window's Category items; nothing else needs handing over.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>

class QPlainTextEdit;
class QPushButton;

namespace veltra {

class Teditcategoryform : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kCategoryLength = 15;

    explicit Teditcategoryform(QWidget* parent = nullptr);

    // The category list file the editor works on (a log's N.txt).
    void SetFile(const QString& path) { m_File = path; }
    const QString& File() const { return m_File; }
    // Fills the text area with the lines of File() (Windows-1252, CR LF or LF
    // line ends), or empties it when the file does not exist. A file that
    // exists but cannot be read raises std::runtime_error naming it.
    void LoadFile();
    void SetLines(const QStringList& lines);
    QStringList Lines() const;

    // Called after OK wrote the file, with the lines written.
    std::function<void(const QStringList&)> OnSaved;

    QPlainTextEdit* TextArea() const { return m_Text; }
    QPushButton* OkButton() const { return m_Ok; }
    QPushButton* CancelButton() const { return m_Cancel; }

    // The category file's lines as the text area's lines are written: each cut
    // to kCategoryLength characters. An empty area gives no lines; a last
    // line end adds no empty line after it.
    static QStringList CutLines(const QString& text);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void Save();

    QString m_File;
    QPlainTextEdit* m_Text = nullptr;
    QPushButton* m_Ok = nullptr;
    QPushButton* m_Cancel = nullptr;
};

// Writes `lines` to `path`, each ended by CR LF, in Windows-1252, through a
// temporary file renamed into place. Raises std::runtime_error naming the
// file when it cannot be written; the previous file is then untouched.
void WriteCategoryFile(const QString& path, const QStringList& lines);
// The lines of a category file (Windows-1252; CR LF or LF). A missing file
// gives no lines; one that cannot be read raises std::runtime_error.
QStringList ReadCategoryFile(const QString& path);

}  // namespace veltra
