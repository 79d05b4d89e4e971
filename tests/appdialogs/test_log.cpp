#include "tests/appdialogs/test_log.h"

#include <stdlib.h>

#include <QDir>
#include <QTest>
#include <filesystem>

#include "platform/rtf/rtf.h"

namespace veltra_test {

namespace fs = std::filesystem;

TTestLog::TTestLog(const std::string& name) : m_Name(name) {
    std::string tmpl = (fs::temp_directory_path() / "veltra-dialogs-XXXXXX").string();
    if (mkdtemp(tmpl.data()) != nullptr) m_Root = tmpl;
    fs::create_directory(fs::path(m_Root) / "data");
    for (const char* ext : {".dat", ".idx", ".blb"})
        fs::copy_file(std::string(VELTRA_PROGRAM_DIR) + "/datamast" + ext, File(ext).toStdString());
}

TTestLog::~TTestLog() {
    try {
        m_Table.Close();
    } catch (...) {
    }
    std::error_code ec;
    if (!m_Root.empty()) fs::remove_all(m_Root, ec);
}

QString TTestLog::ProgramFolder() const { return QString::fromStdString(m_Root) + "/"; }
QString TTestLog::DataFolder() const { return QString::fromStdString(m_Root) + "/data"; }
QString TTestLog::File(const std::string& ext) const {
    return DataFolder() + "/" + QString::fromStdString(m_Name + ext);
}

void TTestLog::Open() {
    if (m_Table.Active()) return;
    m_Table.SetTableName(File(".dat").toStdString());
    m_Table.SetExclusive(false);
    m_Table.Open();
    m_Table.SetIndexName("ID");
}

void TypeText(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x80) {
            QTest::keyClick(widget, char(c.unicode()));
        } else {
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
}

std::string DescriptionRtf(const std::string& text) {
    return veltra::WriteRtf(veltra::ReadRtf("{\\rtf1 " + text + "\\par}"));
}

void TTestLog::Add(const TTicket& t) {
    Open();
    m_Table.Insert();
    m_Table.FieldByName("Title").SetAsString(t.Title);
    m_Table.FieldByName("State").SetAsString(t.State);
    m_Table.FieldByName("Submitter").SetAsString(t.Submitter);
    m_Table.FieldByName("Category").SetAsString(t.Category);
    if (!t.SubmitDate.empty()) m_Table.FieldByName("Submit date").SetAsString(t.SubmitDate);
    if (t.Priority) m_Table.FieldByName("Priority").SetAsInteger(*t.Priority);
    if (!t.Description.empty())
        m_Table.WriteBlob(m_Table.FieldByName("Description"), DescriptionRtf(t.Description));
    m_Table.Post();
}

void TTestLog::AddMany(int count) {
    m_Table.Close();
    m_Table.SetTableName(File(".dat").toStdString());
    m_Table.SetExclusive(true);
    m_Table.Open();
    const std::string rtf = DescriptionRtf("Nothing to see in this ticket");
    for (int i = 1; i <= count; ++i) {
        m_Table.Insert();
        m_Table.FieldByName("Title").SetAsString("Ticket " + std::to_string(i));
        m_Table.FieldByName("State").SetAsString("Open");
        m_Table.WriteBlob(m_Table.FieldByName("Description"), rtf);
        m_Table.Post();
    }
    m_Table.Close();
    m_Table.SetExclusive(false);
}

void TTestLog::GoTo(int id) {
    Open();
    m_Table.SetIndexName("ID");
    m_Table.FindKey({std::to_string(id)});
}

int TTestLog::CurrentId() {
    return m_Table.IsEmpty() ? 0 : int(m_Table.FieldByName("ID").AsInteger());
}

}  // namespace veltra_test
