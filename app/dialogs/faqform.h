// Tfaqform: the FAQ viewer, caption "faqform".
//
// A read-only rich-text viewer with a vertical scroll bar filling the
// window, and the buttons Close and "Print". Each showing loads `faq.txt` of
// the program folder: a file that begins as rich text ("{\rtf") is shown
// formatted, any other file as plain text (UTF-8 when it is valid UTF-8,
// Windows-1252 otherwise). A file that cannot be read is reported in the
// default error box ("Cannot open <path>: <reason>") and the viewer is
// emptied. "Print" prints the viewer's content as one print job titled
// "FAQ" on Printer() (the default printer unless a caller or a test sets it
// up otherwise, for instance to write a PDF file).
//
// The main window creates it once with the program folder and shows it
// (Dialogs().Exec) from Help, FAQ.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>

class QPrinter;
class QPushButton;
class QTextBrowser;

namespace veltra {

class Tfaqform : public QDialog {
    Q_OBJECT
  public:
    explicit Tfaqform(const QString& programFolder, QWidget* parent = nullptr);
    ~Tfaqform() override;

    QString FaqFile() const { return m_FaqFile; }
    // Loads FaqFile() into the viewer; raises std::runtime_error when it
    // cannot be read (the viewer is emptied first).
    void Load();
    // Prints the viewer's content on Printer(), job title "FAQ".
    void Print();

    QPrinter& Printer();
    QTextBrowser* Viewer() const { return m_Viewer; }
    QPushButton* PrintButton() const { return m_Print; }
    QPushButton* CloseButton() const { return m_Close; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QString m_FaqFile;
    QTextBrowser* m_Viewer = nullptr;
    QPushButton* m_Print = nullptr;
    QPushButton* m_Close = nullptr;
    std::unique_ptr<QPrinter> m_Printer;  // made at the first use
};

}  // namespace veltra
