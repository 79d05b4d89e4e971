// The rich-text toolbar over the description editor of a ticket being
// submitted: setbuttons follows the format at the caret, and every button and
// list changes the selection or the caret format as a person clicking it
// expects.
#include "app/edit/rich_toolbar.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QListView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTextList>
#include <QToolButton>
#include <QVBoxLayout>

#include <filesystem>
#include <stdexcept>

#include "engine/veltra_table.h"
#include "platform/qt/controls/db_rich_edit.h"
#include "platform/qt/dialogs/scripted_dialogs.h"

namespace veltra {
namespace {

class RichToolbarTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* ext : {".dat", ".idx", ".blb"})
            std::filesystem::copy_file(std::string(VELTRA_PROGRAM_DIR) + "/datamast" + ext,
                                       Path((std::string("log") + ext).c_str()));
        m_Table.SetTableName(Path("log.dat"));
        m_Table.Open();
        m_Source.SetDataSet(&m_Table);
        m_Table.Insert();
        m_Window.setWindowTitle("toolbar");
        auto* layout = new QVBoxLayout(&m_Window);
        m_Editor = new TDBRichEdit;
        m_Editor->SetDataSource(&m_Source);
        m_Editor->SetDataField("Description");
        m_Toolbar = new TRichToolbar(m_Editor);
        layout->addWidget(m_Toolbar);
        layout->addWidget(m_Editor);
        m_Editor->document()->setDefaultFont(QFont("Arial", 10));
        m_Toolbar->SetFontNames({"Arial", "Courier New", "Liberation Serif", "Times New Roman"});
        m_Window.show();
        m_Window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_Window));
        m_Editor->setFocus();
    }

    // Appends a run of text in `format` to the editor.
    void AddRun(const QString& text, const QTextCharFormat& format) {
        QTextCursor cursor(m_Editor->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(text, format);
    }
    void Caret(int position) {
        QTextCursor cursor = m_Editor->textCursor();
        cursor.setPosition(position);
        m_Editor->setTextCursor(cursor);
    }
    void Select(int from, int to) {
        QTextCursor cursor = m_Editor->textCursor();
        cursor.setPosition(from);
        cursor.setPosition(to, QTextCursor::KeepAnchor);
        m_Editor->setTextCursor(cursor);
    }
    // The format of the character at `position` (the one after the caret
    // placed there).
    QTextCharFormat CharAt(int position) {
        QTextCursor cursor(m_Editor->document());
        cursor.setPosition(position + 1);
        return cursor.charFormat();
    }
    QFont FontAt(int position) {
        return CharAt(position).font().resolve(m_Editor->document()->defaultFont());
    }
    // Chooses `text` from a list's drop-down: opened, the entry picked with
    // the arrow keys, Return.
    static void ChooseFromDropDown(QComboBox* box, const QString& text) {
        const int row = box->findText(text);
        ASSERT_GE(row, 0) << text.toStdString();
        box->showPopup();  // what a click on its arrow does
        QAbstractItemView* view = box->view();
        ASSERT_TRUE(view->isVisible());
        while (view->currentIndex().row() != row)
            QTest::keyClick(view, view->currentIndex().row() < row ? Qt::Key_Down : Qt::Key_Up);
        QTest::keyClick(view, Qt::Key_Return);
        EXPECT_FALSE(view->isVisible());
    }

    QTemporaryDir m_Dir;
    std::string Path(const char* name) const { return m_Dir.filePath(name).toStdString(); }
    TScriptedDialogs m_Dialogs;
    TVeltraTable m_Table;
    TDataSource m_Source;
    QWidget m_Window;
    TDBRichEdit* m_Editor = nullptr;
    TRichToolbar* m_Toolbar = nullptr;
};

QTextCharFormat Format(const QString& family, double size, bool bold, bool italic, bool underline) {
    QTextCharFormat format;
    format.setFontFamilies(QStringList{family});
    format.setFontPointSize(size);
    format.setFontWeight(bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(italic);
    format.setFontUnderline(underline);
    return format;
}

TEST_F(RichToolbarTest, TheSizeListHoldsTheSizesInOrder) {
    QStringList entries;
    for (int i = 0; i < m_Toolbar->FontSize()->count(); ++i)
        entries << m_Toolbar->FontSize()->itemText(i);
    EXPECT_EQ(entries, (QStringList{"7", "8", "9", "10", "11", "12", "14", "16", "18", "20", "22",
                                    "24", "26", "28", "36", "48", "72"}));
}

// setbuttons on a caret placed in text of a known format.
TEST_F(RichToolbarTest, SetbuttonsShowsTheCharacterFormatAtTheCaret) {
    struct TCase {
        const char* name;
        QTextCharFormat format;
        bool bold, italic, underline;
        const char* fontShown;
        const char* sizeShown;
    };
    const TCase cases[] = {
        {"plain", Format("Arial", 10, false, false, false), false, false, false, "Arial", "10"},
        {"bold", Format("Arial", 12, true, false, false), true, false, false, "Arial", "12"},
        {"italic underline", Format("Courier New", 14, false, true, true), false, true, true,
         "Courier New", "14"},
        {"all three", Format("Liberation Serif", 72, true, true, true), true, true, true,
         "Liberation Serif", "72"},
        // A font the list does not hold and a size it does not hold leave
        // both lists as they were (here: as set up before the case).
        {"unlisted font, size 13", Format("No Such Face", 13, false, false, false), false, false,
         false, "Times New Roman", "9"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_Editor->clear();
        AddRun("abc", c.format);
        m_Toolbar->FontName()->setCurrentIndex(m_Toolbar->FontName()->findText("Times New Roman"));
        m_Toolbar->FontSize()->setCurrentIndex(m_Toolbar->FontSize()->findText("9"));
        Caret(2);
        m_Toolbar->setbuttons();
        EXPECT_EQ(m_Toolbar->BoldButton()->isChecked(), c.bold);
        EXPECT_EQ(m_Toolbar->ItalicButton()->isChecked(), c.italic);
        EXPECT_EQ(m_Toolbar->UnderlineButton()->isChecked(), c.underline);
        EXPECT_EQ(m_Toolbar->FontName()->currentText(), c.fontShown);
        EXPECT_EQ(m_Toolbar->FontSize()->currentText(), c.sizeShown);
    }
}

TEST_F(RichToolbarTest, SetbuttonsSelectsTheLastEqualFontEntry) {
    m_Toolbar->SetFontNames({"Arial", "Courier New", "Arial", "arial"});
    AddRun("abc", Format("Arial", 10, false, false, false));
    Caret(1);
    m_Toolbar->setbuttons();
    EXPECT_EQ(m_Toolbar->FontName()->currentIndex(), 2);  // exact case, the last one
}

TEST_F(RichToolbarTest, SetbuttonsShowsAlignmentAndBulletsOfTheCaretParagraph) {
    AddRun("left", Format("Arial", 10, false, false, false));
    QTextCursor cursor(m_Editor->document());
    cursor.movePosition(QTextCursor::End);
    QTextBlockFormat centre;
    centre.setAlignment(Qt::AlignHCenter);
    cursor.insertBlock(centre);
    cursor.insertText("centre");
    QTextBlockFormat right;
    right.setAlignment(Qt::AlignRight);
    cursor.insertBlock(right);
    cursor.insertText("right");
    cursor.createList(QTextListFormat::ListDisc);
    const QTextDocument* document = m_Editor->document();

    const struct {
        int block;
        QToolButton* down;
        bool bullets;
    } cases[] = {{0, m_Toolbar->LeftButton(), false},
                 {1, m_Toolbar->CenterButton(), false},
                 {2, m_Toolbar->RightButton(), true},
                 {0, m_Toolbar->LeftButton(), false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.block);
        Caret(document->findBlockByNumber(c.block).position() + 1);
        m_Toolbar->setbuttons();
        for (QToolButton* button :
             {m_Toolbar->LeftButton(), m_Toolbar->CenterButton(), m_Toolbar->RightButton()})
            EXPECT_EQ(button->isChecked(), button == c.down) << button->objectName().toStdString();
        EXPECT_EQ(m_Toolbar->BulletsButton()->isChecked(), c.bullets);
    }
}

TEST_F(RichToolbarTest, TheButtonsFollowTheCaretAsItMovesByKeysAndClicks) {
    AddRun("ab", Format("Arial", 10, false, false, false));
    AddRun("CD", Format("Arial", 16, true, false, false));
    Caret(0);
    EXPECT_FALSE(m_Toolbar->BoldButton()->isChecked());
    QTest::keyClick(m_Editor, Qt::Key_End);
    EXPECT_TRUE(m_Toolbar->BoldButton()->isChecked());
    EXPECT_EQ(m_Toolbar->FontSize()->currentText(), "16");
    QTest::keyClick(m_Editor, Qt::Key_Home);
    EXPECT_FALSE(m_Toolbar->BoldButton()->isChecked());
    EXPECT_EQ(m_Toolbar->FontSize()->currentText(), "10");
    // A click just after the bold run.
    QTextCursor end(m_Editor->document());
    end.movePosition(QTextCursor::End);
    const QRect at = m_Editor->cursorRect(end);
    QTest::mouseClick(m_Editor->viewport(), Qt::LeftButton, {}, at.center() + QPoint(2, 0));
    EXPECT_TRUE(m_Toolbar->BoldButton()->isChecked());
}

// B, I and U add the style to the selection when the button goes down and
// remove it when it comes up; the other styles stay.
TEST_F(RichToolbarTest, StyleButtonsToggleTheStyleOfTheSelection) {
    struct TCase {
        const char* name;
        QToolButton* (TRichToolbar::*button)() const;
        bool (*has)(const QFont&);
    };
    const TCase cases[] = {
        {"bold", &TRichToolbar::BoldButton, [](const QFont& f) { return f.bold(); }},
        {"italic", &TRichToolbar::ItalicButton, [](const QFont& f) { return f.italic(); }},
        {"underline", &TRichToolbar::UnderlineButton, [](const QFont& f) { return f.underline(); }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_Editor->clear();
        AddRun("one two", Format("Arial", 10, false, false, false));
        Select(0, 3);
        QToolButton* button = (m_Toolbar->*c.button)();
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_TRUE(button->isChecked());
        EXPECT_TRUE(c.has(FontAt(0)));
        EXPECT_TRUE(c.has(FontAt(2)));
        EXPECT_FALSE(c.has(FontAt(4)));  // outside the selection
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_FALSE(button->isChecked());
        EXPECT_FALSE(c.has(FontAt(0)));
    }
}

TEST_F(RichToolbarTest, AStyleChosenWithoutSelectionHoldsForTheTextTypedNext) {
    AddRun("ab", Format("Arial", 10, false, false, false));
    Caret(2);
    QTest::mouseClick(m_Toolbar->BoldButton(), Qt::LeftButton);
    m_Editor->setFocus();
    QTest::keyClicks(m_Editor, "X");
    EXPECT_EQ(m_Editor->toPlainText(), "abX");
    EXPECT_TRUE(FontAt(2).bold());
    EXPECT_FALSE(FontAt(1).bold());
    EXPECT_TRUE(m_Toolbar->BoldButton()->isChecked());
}

TEST_F(RichToolbarTest, KeyboardShortcutsClickTheButtons) {
    AddRun("word", Format("Arial", 10, false, false, false));
    Select(0, 4);
    QTest::keyClick(m_Editor, Qt::Key_B, Qt::ControlModifier);
    EXPECT_TRUE(FontAt(1).bold());
    QTest::keyClick(m_Editor, Qt::Key_E, Qt::ControlModifier);
    EXPECT_TRUE(m_Editor->document()->firstBlock().blockFormat().alignment() & Qt::AlignHCenter);
    EXPECT_TRUE(m_Toolbar->CenterButton()->isChecked());
}

TEST_F(RichToolbarTest, ChoosingAFontNameOrSizeFormatsTheSelectionAndReturnsTheFocus) {
    AddRun("hello world", Format("Arial", 10, false, false, false));
    Select(6, 11);
    Select(6, 11);
    ChooseFromDropDown(m_Toolbar->FontName(), "Courier New");
    EXPECT_EQ(FontAt(7).family(), "Courier New");
    EXPECT_EQ(FontAt(1).family(), "Arial");
    EXPECT_TRUE(m_Editor->hasFocus());
    EXPECT_EQ(m_Toolbar->FontName()->currentText(), "Courier New");

    Select(0, 5);
    ChooseFromDropDown(m_Toolbar->FontSize(), "14");
    EXPECT_EQ(FontAt(1).pointSizeF(), 14.0);
    EXPECT_EQ(FontAt(7).pointSizeF(), 10.0);
    EXPECT_TRUE(m_Editor->hasFocus());
    EXPECT_EQ(m_Toolbar->FontSize()->currentText(), "14");
}

TEST_F(RichToolbarTest, TheColourButtonAsksPresetWithTheCaretColourAndSetsTheChosenOne) {
    TScriptedDialogs& dialogs = m_Dialogs;
    AddRun("red", Format("Arial", 10, false, false, false));
    Select(0, 3);
    dialogs.AnswerColour(QColor(Qt::red)).AnswerColour(std::nullopt);
    QTest::mouseClick(m_Toolbar->ColourButton(), Qt::LeftButton);
    EXPECT_EQ(CharAt(1).foreground().color(), QColor(Qt::red));
    // Cancelled: the colour stays.
    QTest::mouseClick(m_Toolbar->ColourButton(), Qt::LeftButton);
    EXPECT_EQ(CharAt(1).foreground().color(), QColor(Qt::red));
    ASSERT_EQ(dialogs.Requests().size(), 2u);
    EXPECT_EQ(dialogs.Requests()[0].What, TDialogRequest::TWhat::Colour);
    EXPECT_TRUE(dialogs.Unexpected().isEmpty());
}

TEST_F(RichToolbarTest, AlignmentButtonsFormOneGroupAndSetTheParagraphs) {
    AddRun("one", Format("Arial", 10, false, false, false));
    QTextCursor cursor(m_Editor->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
    cursor.insertText("two");
    Select(1, 5);  // both paragraphs
    const struct {
        QToolButton* button;
        Qt::Alignment expected;
    } cases[] = {{m_Toolbar->RightButton(), Qt::AlignRight},
                 {m_Toolbar->CenterButton(), Qt::AlignHCenter},
                 {m_Toolbar->LeftButton(), Qt::AlignLeft}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button->objectName().toStdString());
        QTest::mouseClick(c.button, Qt::LeftButton);
        for (QTextBlock block = m_Editor->document()->begin(); block.isValid(); block = block.next())
            EXPECT_TRUE(block.blockFormat().alignment() & c.expected);
        int down = 0;
        for (QToolButton* b :
             {m_Toolbar->LeftButton(), m_Toolbar->CenterButton(), m_Toolbar->RightButton()})
            down += b->isChecked() ? 1 : 0;
        EXPECT_EQ(down, 1);
        EXPECT_TRUE(c.button->isChecked());
        // A second click on the button that is down keeps it down.
        QTest::mouseClick(c.button, Qt::LeftButton);
        EXPECT_TRUE(c.button->isChecked());
    }
}

TEST_F(RichToolbarTest, TheBulletsButtonPutsParagraphsIntoAListAndTakesThemOut) {
    AddRun("one", Format("Arial", 10, false, false, false));
    QTextCursor cursor(m_Editor->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
    cursor.insertText("two");
    cursor.insertBlock();
    cursor.insertText("three");
    Select(1, 6);  // the first two paragraphs
    QTest::mouseClick(m_Toolbar->BulletsButton(), Qt::LeftButton);
    const QTextDocument* document = m_Editor->document();
    EXPECT_NE(document->findBlockByNumber(0).textList(), nullptr);
    EXPECT_EQ(document->findBlockByNumber(0).textList(), document->findBlockByNumber(1).textList());
    EXPECT_EQ(document->findBlockByNumber(2).textList(), nullptr);
    QTest::mouseClick(m_Toolbar->BulletsButton(), Qt::LeftButton);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(document->findBlockByNumber(i).textList(), nullptr) << i;
        EXPECT_EQ(document->findBlockByNumber(i).blockFormat().indent(), 0) << i;
    }
    EXPECT_EQ(m_Editor->toPlainText(), "one\ntwo\nthree");
}

TEST_F(RichToolbarTest, ResettingTheEndFormatKeepsTheFormatOfALastParagraphWithText) {
    // A centred, bulleted last paragraph with text keeps both.
    AddRun("item", Format("Courier New", 14, true, false, false));
    QTextCursor cursor(m_Editor->document());
    QTextBlockFormat centre;
    centre.setAlignment(Qt::AlignHCenter);
    cursor.setBlockFormat(centre);
    cursor.createList(QTextListFormat::ListDisc);
    ResetFormattingAtEnd(*m_Editor);
    const QTextBlock last = m_Editor->document()->lastBlock();
    EXPECT_TRUE(last.blockFormat().alignment() & Qt::AlignHCenter);
    EXPECT_NE(last.textList(), nullptr);
    EXPECT_TRUE(FontAt(1).bold());
    // The format for text added at the end is plain Arial 10.
    const QFont caret =
        m_Editor->currentCharFormat().font().resolve(m_Editor->document()->defaultFont());
    EXPECT_EQ(caret.family(), "Arial");
    EXPECT_EQ(caret.pointSizeF(), 10.0);
    EXPECT_FALSE(caret.bold());
    EXPECT_EQ(m_Editor->textCursor().position(), 4);

    // An empty last paragraph becomes plain, left-aligned and without a bullet.
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
    ASSERT_NE(m_Editor->document()->lastBlock().textList(), nullptr);
    ResetFormattingAtEnd(*m_Editor);
    const QTextBlock empty = m_Editor->document()->lastBlock();
    EXPECT_EQ(empty.textList(), nullptr);
    EXPECT_FALSE(empty.blockFormat().alignment() & Qt::AlignHCenter);
    EXPECT_EQ(empty.charFormat().fontPointSize(), 10.0);
    EXPECT_EQ(m_Editor->toPlainText(), "item\n");
}

TEST_F(RichToolbarTest, AnActionTheDatasetRefusesChangesNothing) {
    AddRun("kept", Format("Arial", 10, false, false, false));
    m_Table.Post();
    m_Table.BeforeEdit = [](TDataSet&) { throw std::runtime_error("Record locked"); };
    m_Dialogs.Answer().Answer();
    Select(0, 4);
    QTest::mouseClick(m_Toolbar->BoldButton(), Qt::LeftButton);
    EXPECT_FALSE(m_Toolbar->BoldButton()->isChecked());
    EXPECT_FALSE(FontAt(1).bold());
    QTest::mouseClick(m_Toolbar->CenterButton(), Qt::LeftButton);
    EXPECT_TRUE(m_Toolbar->LeftButton()->isChecked());
    EXPECT_FALSE(m_Editor->document()->firstBlock().blockFormat().alignment() & Qt::AlignHCenter);
    EXPECT_EQ(m_Dialogs.Messages(), (QStringList{"Record locked", "Record locked"}));
    EXPECT_EQ(m_Table.State(), TDataSetState::Browse);
}

}  // namespace
}  // namespace veltra
