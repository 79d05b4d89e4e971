// The rich-text editor bound to a formatted-memo field: showing the stored
// RTF, typing into Edit, writing RTF at the post, every toolbar formatting
// surviving the write and the reading again, null fields and read-only use.
#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>
#include <QWidget>

#include "platform/qt/controls/db_edit.h"
#include "platform/qt/controls/db_rich_edit.h"
#include "platform/qt/rtf/rtf_text_document.h"
#include "platform/rtf/rtf.h"
#include "tests/qt/qt_fixture.h"

namespace veltra_test {
namespace {

using namespace veltra;

// Types text as the keyboard would, for characters QTest's key names lack.
void TypeText(QWidget* w, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &press);
        QApplication::sendEvent(w, &release);
    }
}

// Stores `text` in plain paragraphs as the first record's Notes.
std::string StoreNotes(TVeltraTable& table, const QString& text) {
    QTextDocument doc;
    doc.setPlainText(text);
    const std::string rtf = TextDocumentToRtf(doc);
    table.First();
    table.Edit();
    table.WriteBlob(table.FieldByName("Notes"), rtf);
    table.Post();
    return rtf;
}

class RichEdit : public TQtTableTest {
protected:
    void Bind() {
        auto* layout = new QVBoxLayout(&Window);
        Editor = new TDBRichEdit(&Window);
        Other = new TDBEdit(&Window);
        layout->addWidget(Editor);
        layout->addWidget(Other);
        Editor->SetDataSource(&Source);
        Editor->SetDataField("Notes");
        Other->SetDataSource(&Source);
        Other->SetDataField("Name");
        Window.show();
        Window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Window));
    }
    // Selects characters [from, to) of the editor's text.
    void Select(int from, int to) {
        QTextCursor c = Editor->textCursor();
        c.setPosition(from);
        c.setPosition(to, QTextCursor::KeepAnchor);
        Editor->setTextCursor(c);
    }
    void PlaceCaret(int at) { Select(at, at); }
    std::string StoredNotes() { return StoredValue(1, "Notes"); }

    QWidget Window;
    TDBRichEdit* Editor = nullptr;
    TDBEdit* Other = nullptr;
};

TEST_F(RichEdit, ShowsTheStoredDocumentAndNullAsEmpty) {
    OpenPeople(ThreePeople());
    StoreNotes(Table, "First line\nSecond line");
    Bind();
    EXPECT_EQ(Editor->toPlainText(), "First line\nSecond line");
    EXPECT_FALSE(Editor->Modified());
    EXPECT_EQ(Editor->BaseFont().family(), "Arial");
    EXPECT_EQ(Editor->BaseFont().pointSize(), 10);
    Table.Next();
    EXPECT_EQ(Editor->toPlainText(), "");
    Table.First();
    EXPECT_EQ(Editor->toPlainText(), "First line\nSecond line");
    Editor->SetDataField("");
    EXPECT_EQ(Editor->toPlainText(), "") << "unbound";
}

TEST_F(RichEdit, TypingEditsAndThePostStoresRtf) {
    OpenPeople(ThreePeople());
    Bind();
    Editor->setFocus();
    QTest::keyClicks(Editor, "Hello");
    QTest::keyClick(Editor, Qt::Key_Return);
    TypeText(Editor, QString::fromUtf8("caf\u00e9 \u20ac"));
    EXPECT_EQ(Table.State(), TDataSetState::Edit);
    EXPECT_TRUE(Editor->Modified());
    bool modifiedAtPost = false;
    Table.BeforePost = [&](TDataSet&) { modifiedAtPost = Editor->Modified(); };
    Table.Post();
    Table.BeforePost = nullptr;
    EXPECT_TRUE(modifiedAtPost) << "the post step sees that the user changed the text";
    const std::string stored = StoredNotes();
    ASSERT_GE(stored.size(), kRtfClosing.size());
    EXPECT_EQ(stored.substr(stored.size() - kRtfClosing.size()), kRtfClosing);
    for (unsigned char c : stored) EXPECT_LT(c, 0x80) << "7-bit RTF";
    EXPECT_EQ(QString::fromStdString(RtfPlainText(stored)).trimmed(), QString("Hello\ncaf\u00e9 \u20ac"));
}

TEST_F(RichEdit, FocusLossWritesAndCancelRestoresTheDocument) {
    OpenPeople(ThreePeople());
    StoreNotes(Table, "Kept");
    Bind();
    PlaceCaret(4);
    Editor->setFocus();
    QTest::keyClicks(Editor, " changed");
    Other->setFocus();  // written on focus loss
    EXPECT_EQ(Table.State(), TDataSetState::Edit);
    Table.Cancel();
    EXPECT_EQ(Editor->toPlainText(), "Kept");
    EXPECT_FALSE(Editor->Modified());
    EXPECT_EQ(QString::fromStdString(RtfPlainText(StoredNotes())).trimmed(), "Kept");
}

TEST_F(RichEdit, EveryToolbarFormattingSurvivesThePost) {
    struct TCase {
        const char* Name;
        std::function<bool(TDBRichEdit&)> Apply;
        std::function<bool(const TDBRichEdit&)> Holds;
    };
    const std::vector<TCase> cases = {
        {"font name", [](TDBRichEdit& e) { return e.SetFontName("Courier New"); },
         [](const TDBRichEdit& e) { return e.CurrentFontName() == "Courier New"; }},
        {"font size", [](TDBRichEdit& e) { return e.SetFontSize(18); },
         [](const TDBRichEdit& e) { return e.CurrentFontSize() == 18; }},
        {"bold", [](TDBRichEdit& e) { return e.SetBold(true); }, [](const TDBRichEdit& e) { return e.CurrentBold(); }},
        {"italic", [](TDBRichEdit& e) { return e.SetItalic(true); },
         [](const TDBRichEdit& e) { return e.CurrentItalic(); }},
        {"underline", [](TDBRichEdit& e) { return e.SetUnderline(true); },
         [](const TDBRichEdit& e) { return e.CurrentUnderline(); }},
        {"colour", [](TDBRichEdit& e) { return e.SetColour(QColor(200, 0, 30)); },
         [](const TDBRichEdit& e) { return e.CurrentColour() == QColor(200, 0, 30); }},
        {"centre", [](TDBRichEdit& e) { return e.SetParagraphAlignment(Qt::AlignHCenter); },
         [](const TDBRichEdit& e) { return e.CurrentAlignment() == Qt::AlignHCenter; }},
        {"right", [](TDBRichEdit& e) { return e.SetParagraphAlignment(Qt::AlignRight); },
         [](const TDBRichEdit& e) { return e.CurrentAlignment() == Qt::AlignRight; }},
        {"bullets", [](TDBRichEdit& e) { return e.SetBullets(true); },
         [](const TDBRichEdit& e) { return e.CurrentBullets(); }},
    };
    OpenPeople(ThreePeople());
    Bind();
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        StoreNotes(Table, "plain words here\nsecond");
        ASSERT_EQ(Editor->toPlainText(), "plain words here\nsecond");
        Select(6, 11);  // "words"
        EXPECT_FALSE(c.Holds(*Editor));
        ASSERT_TRUE(c.Apply(*Editor));
        EXPECT_EQ(Table.State(), TDataSetState::Edit);
        EXPECT_TRUE(c.Holds(*Editor));
        Table.Post();
        Table.First();  // shown again from the stored RTF
        PlaceCaret(8);
        EXPECT_TRUE(c.Holds(*Editor)) << "inside the formatted word";
        PlaceCaret(21);
        EXPECT_FALSE(c.Holds(*Editor)) << "the second paragraph keeps its plain format";
        EXPECT_EQ(QString::fromStdString(RtfPlainText(StoredNotes())).trimmed(), "plain words here\nsecond");
    }
    // Bullets and styles off again.
    Select(0, 5);
    ASSERT_TRUE(Editor->SetBullets(true));
    ASSERT_TRUE(Editor->SetBullets(false));
    EXPECT_FALSE(Editor->CurrentBullets());
    Table.Cancel();
}

TEST_F(RichEdit, ReadOnlyPaneRefusesChanges) {
    OpenPeople(ThreePeople());
    StoreNotes(Table, "Shown only");
    Bind();
    Editor->SetReadOnly(true);
    EXPECT_TRUE(Editor->isReadOnly());
    Editor->setFocus();
    QTest::keyClicks(Editor, "typed");
    EXPECT_FALSE(Editor->SetBold(true));
    EXPECT_EQ(Editor->toPlainText(), "Shown only");
    EXPECT_EQ(Table.State(), TDataSetState::Browse);
    Table.Next();
    EXPECT_EQ(Editor->toPlainText(), "") << "the pane still follows the record";
}

}  // namespace
}  // namespace veltra_test
