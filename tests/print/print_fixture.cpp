#include "tests/print/print_fixture.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTextDocumentFragment>
#include <filesystem>

#include "platform/format_settings.h"
#include "platform/rtf/rtf.h"

namespace veltra_test {

using namespace veltra;

namespace {

QString Run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

}  // namespace

std::vector<TPdfWord> PdfWords(const QString& path) {
    const QString html = Run("pdftotext", {"-bbox", path, "-"});
    std::vector<TPdfWord> words;
    static const QRegularExpression tag(
        R"re(<page\b|<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
    int page = 0;
    for (auto match = tag.globalMatch(html); match.hasNext();) {
        const QRegularExpressionMatch m = match.next();
        if (m.captured(0).startsWith("<page")) {
            ++page;
            continue;
        }
        words.push_back({page, QTextDocumentFragment::fromHtml(m.captured(5)).toPlainText(),
                         m.captured(1).toDouble(), m.captured(2).toDouble(),
                         m.captured(3).toDouble(), m.captured(4).toDouble()});
    }
    return words;
}

TPdfInfo PdfInfo(const QString& path) {
    const QString text = Run("pdfinfo", {path});
    TPdfInfo info;
    static const QRegularExpression pages(R"(Pages:\s+(\d+))");
    static const QRegularExpression size(R"(Page size:\s+([\d.]+) x ([\d.]+))");
    if (auto m = pages.match(text); m.hasMatch()) info.Pages = m.captured(1).toInt();
    if (auto m = size.match(text); m.hasMatch()) {
        info.Width = m.captured(1).toDouble();
        info.Height = m.captured(2).toDouble();
    }
    return info;
}

QString PageText(const std::vector<TPdfWord>& words, int page) {
    QStringList texts;
    for (const TPdfWord& word : words)
        if (word.Page == page) texts << word.Text;
    return texts.join(' ');
}

const TPdfWord* FindWord(const std::vector<TPdfWord>& words, const QString& text, int page) {
    for (const TPdfWord& word : words)
        if (word.Text == text && (page == 0 || word.Page == page)) return &word;
    return nullptr;
}

int CountWord(const std::vector<TPdfWord>& words, const QString& text) {
    int count = 0;
    for (const TPdfWord& word : words) count += word.Text == text;
    return count;
}

std::string RtfOf(const std::string& text) {
    std::string rtf = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0\\fs20 ";
    for (char c : text) rtf += c == '\n' ? std::string("\\par ") : std::string(1, c);
    return WriteRtf(ReadRtf(rtf + "\\par}"));
}

void TPrintTest::SetUp() {
    InstallFormatSettings(UsFormatSettings());
    for (const char* ext : {".dat", ".idx", ".blb"})
        std::filesystem::copy_file(std::string(VELTRA_PROGRAM_DIR) + "/datamast" + ext,
                                   m_Dir / (std::string("log") + ext));
    m_Main.SetTableName(m_Dir / "log.dat");
    m_Main.SetIndexName("ID");
    m_Main.Open();
}

void TPrintTest::TearDown() {
    EXPECT_TRUE(m_Dialogs.Unexpected().isEmpty()) << m_Dialogs.Unexpected().join("\n").toStdString();
    EXPECT_EQ(m_Dialogs.Pending(), 0u);
}

void TPrintTest::AddTickets(const std::vector<TTicket>& tickets) {
    for (const TTicket& t : tickets) {
        m_Main.Insert();
        m_Main.FieldByName("Title").SetAsString(t.Title);
        m_Main.FieldByName("Submitter").SetAsString(t.Submitter);
        m_Main.FieldByName("Submit date").SetAsString("3/14/2026");
        m_Main.FieldByName("State").SetAsString(t.State);
        m_Main.FieldByName("Priority").SetAsInteger(t.Priority);
        m_Main.FieldByName("Category").SetAsString(t.Category);
        m_Main.FieldByName("Owner").SetAsString(t.Owner);
        m_Main.FieldByName("Other").SetAsString(t.Other);
        m_Main.FieldByName("Last update").SetAsString("3/15/2026");
        m_Main.WriteBlob(m_Main.FieldByName("Description"), RtfOf(t.Description));
        m_Main.WriteBlob(m_Main.FieldByName("All"),
                         RtfOf(t.Description + "\n\nChange History\n" + t.History));
        m_Main.Post();
    }
    m_Main.First();
}

QList<TGridColumn> TPrintTest::InitialColumns() {
    const char* fields[] = {"ID",       "Title",    "Submitter", "Submit date",
                            "State",    "Priority", "Close date", "Category",
                            "Owner",    "Other",    "Last update"};
    const int widths[] = {55, 267, 64, 81, 120, 64, 70, 90, 64, 200, 70};
    QList<TGridColumn> columns;
    for (int i = 0; i < 11; ++i)
        columns.append({fields[i], fields[i], widths[i], i < 9});
    return columns;
}

QList<TGridColumn> TPrintTest::OnlyVisible(const QStringList& fields) {
    QList<TGridColumn> columns = InitialColumns();
    for (TGridColumn& column : columns) column.Visible = fields.contains(column.FieldName);
    return columns;
}

QString TPrintTest::ExpectPdfOffer(const QString& name) {
    const QString path = QString::fromStdString(m_Dir / name.toStdString());
    m_Dialogs.Answer(TMessageAnswer::Yes).AnswerSaveFile(path);
    return path;
}

void TPrintTest::NoPrinter(TReport& report) {
    report.DefaultPrinterName = [] { return QString(); };
    report.MakeProgress = nullptr;
}

TPrintTest::TMainState TPrintTest::MainState() {
    return {m_Main.IndexName(), m_Main.Filter(), m_Main.Filtered(), m_Main.RecNo(), m_Main.State()};
}

}  // namespace veltra_test
