// The layout store over the stand-in windows: the file a first run writes,
// key for key; a second run restoring placement, splitters, columns, the
// sort caption and the check marks; screen sizes and densities; the
// columns' count; the minimized main window; a refused write.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include "app/layout/layout_store.h"
#include "platform/profile/profile.h"
#include "platform/qt/dialogs/scripted_dialogs.h"
#include "stand_in_windows.h"

namespace veltra {
namespace {

using stand_in::Teditform;
using stand_in::Tmainform;

QString ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return "(missing)";
    return QString::fromUtf8(file.readAll());
}

void Write(const QString& path, const QString& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.toUtf8());
}

QString Get(const QString& section, const QString& key, const QString& path) {
    return QString::fromStdString(
        GetPrivateProfileString(section.toStdString(), key.toStdString(), "(none)",
                                path.toStdString()));
}

class LayoutStore : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_Dir.isValid()); }
    QString File() const { return m_Dir.path() + "/config/veltra-log/kesh_1_1.ini"; }
    static QString ScreenKey(const char* key) {
        const QSize s = QGuiApplication::primaryScreen()->geometry().size();
        return QString("%1(%2x%3)").arg(key).arg(s.width()).arg(s.height());
    }
    static int Ppi() { return qRound(QGuiApplication::primaryScreen()->logicalDotsPerInchY()); }
    // Shows `window`, waits for it and lets its layout settle.
    template <class W>
    static void Show(W& window) {
        window.Store.Restore();
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QApplication::processEvents();
    }
    QTemporaryDir m_Dir;
    TScriptedDialogs m_Dialogs;
};

TEST_F(LayoutStore, AFirstRunShowsTheDesignedSizesAndWritesTheFileOnClose) {
    Tmainform window(File());
    Show(window);
    EXPECT_FALSE(QFile::exists(File()));
    EXPECT_EQ(window.geometry(), QRect(10, 20, 742, 500));
    EXPECT_TRUE(window.Store.Restored());
    window.close();
    EXPECT_TRUE(QFile::exists(File()));  // its folder made on the way
    EXPECT_TRUE(window.Store.Saved());
}

TEST_F(LayoutStore, TheWrittenFileHoldsThePlacementAndEveryStoredPropertyInOrder) {
    Tmainform window(File());
    Show(window);
    window.Splitter1->setSizes({150, 587});
    window.Splitter2->setSizes({300, 195});
    QApplication::processEvents();
    window.DBGrid1->SetColumns({{"Title", "Title", 200, true}});
    window.close();
    const QString placement = QString(
        "[Tmainform]\r\n"
        "FormVersion=0\r\n"
        "Flags=0\r\n"
        "ShowCmd=1\r\n"
        "PixelsPerInch=%1\r\n"
        "%2=-1,-1,-1,-1\r\n"
        "MinMaxPos=-1,-1,-1,-1\r\n"
        "%3=10,20,752,520\r\n"
        "NormPos=10,20,752,520\r\n"
        "Visible=0\r\n").arg(Ppi()).arg(ScreenKey("MinMaxPos"), ScreenKey("NormPos"));
    const QString expected = placement +
        "Splitter1_Left=150\r\n"
        "Splitter1_Top=0\r\n"
        "Splitter2_Top=300\r\n"
        "Splitter2_Left=0\r\n"
        "Panel2_Width=150\r\n"
        "DBRichEdit1_Height=195\r\n"
        "DBRichEdit1_Width=587\r\n"
        "DBGrid1_Height=300\r\n"
        "DBGrid1_Width=587\r\n"
        "DBGrid1_Columns.Count=1\r\n"
        "Labelindex_Caption=Default\r\n"
        "Preview1_Checked=True\r\n"
        "PrintChangeHistory1_Checked=False\r\n"
        "[Tmainform.DBGrid1_Columns]\r\n"
        "Item0_Alignment=taLeftJustify\r\n"
        "Item0_ButtonStyle=cbsAuto\r\n"
        "Item0_Color=-16777211\r\n"
        "Item0_DropDownRows=7\r\n"
        "Item0_Expanded=True\r\n"
        "Item0_FieldName=Title\r\n"
        "Item0_FontCharset=1\r\n"
        "Item0_FontColor=-16777208\r\n"
        "Item0_FontHeight=-11\r\n"
        "Item0_FontName=Arial\r\n"
        "Item0_FontPitch=fpDefault\r\n"
        "Item0_FontSize=8\r\n"
        "Item0_FontStyle=[]\r\n"
        "Item0_ImeMode=imDontCare\r\n"
        "Item0_ImeName=\r\n"
        "Item0_PopupMenu=(null)\r\n"
        "Item0_ReadOnly=False\r\n"
        "Item0_TitleAlignment=taLeftJustify\r\n"
        "Item0_TitleCaption=Title\r\n"
        "Item0_TitleColor=-16777201\r\n"
        "Item0_TitleFontCharset=1\r\n"
        "Item0_TitleFontColor=-16777208\r\n"
        "Item0_TitleFontHeight=-11\r\n"
        "Item0_TitleFontName=Arial\r\n"
        "Item0_TitleFontPitch=fpDefault\r\n"
        "Item0_TitleFontSize=8\r\n"
        "Item0_TitleFontStyle=[]\r\n"
        "Item0_Width=200\r\n"
        "Item0_Visible=True\r\n";
    EXPECT_EQ(ReadAll(File()), expected);
}

TEST_F(LayoutStore, TheEditWindowWritesItsSplitInOrder) {
    Teditform window(File());
    Show(window);
    window.Splitter1->setSizes({260, 220});
    QApplication::processEvents();
    window.close();
    const QString text = ReadAll(File());
    const QString tail = text.mid(text.indexOf("Visible=0\r\n") + 11);
    EXPECT_EQ(tail,
              "Splitter1_Top=260\r\n"
              "Panel1_Top=0\r\n"
              "Panel1_Height=260\r\n"
              "Panel4_Height=220\r\n"
              "Panel4_Top=265\r\n");
    EXPECT_TRUE(text.startsWith("[Teditform]\r\nFormVersion=0\r\n"));
}

TEST_F(LayoutStore, ASecondRunRestoresWhatTheFirstLeft) {
    {
        Tmainform first(File());
        Show(first);
        first.setGeometry(40, 50, 700, 450);
        first.Splitter1->setSizes({200, 495});
        first.Splitter2->setSizes({150, 295});
        // The user drags State before Title, widens ID and hides Title.
        first.DBGrid1->horizontalHeader()->moveSection(2, 1);
        first.DBGrid1->setColumnWidth(0, 55);
        first.DBGrid1->SetFieldVisible("Title", false);
        first.Labelindex->setText("Priority");
        first.Preview1->setChecked(false);
        first.PrintChangeHistory1->setChecked(true);
        QApplication::processEvents();
        first.close();
    }
    Tmainform second(File());
    Show(second);
    EXPECT_EQ(second.geometry(), QRect(40, 50, 700, 450));
    const QList<TGridColumn> columns = second.DBGrid1->Columns();
    ASSERT_EQ(columns.size(), 3);
    EXPECT_EQ(columns[0], (TGridColumn{"ID", "ID", 55, true}));
    EXPECT_EQ(columns[1], (TGridColumn{"State", "State", 90, true}));
    EXPECT_EQ(columns[2].FieldName, "Title");
    EXPECT_FALSE(columns[2].Visible);
    EXPECT_EQ(second.Labelindex->text(), "Priority");
    EXPECT_FALSE(second.Preview1->isChecked());
    EXPECT_TRUE(second.PrintChangeHistory1->isChecked());
}

TEST_F(LayoutStore, ANewScreenSizeUsesThePlainKeyAndWritesItsOwnBesideTheOld) {
    QDir().mkpath(QFileInfo(File()).absolutePath());
    Write(File(), QString("[Tmainform]\r\nPixelsPerInch=%1\r\nNormPos(1x1)=1,2,3,4\r\n"
                          "NormPos=60,70,660,470\r\n").arg(Ppi()));
    Tmainform window(File());
    Show(window);
    EXPECT_EQ(window.geometry(), QRect(60, 70, 600, 400));
    window.close();
    EXPECT_EQ(Get("Tmainform", "NormPos(1x1)", File()), "1,2,3,4");
    EXPECT_EQ(Get("Tmainform", ScreenKey("NormPos"), File()), "60,70,660,470");
    EXPECT_EQ(Get("Tmainform", "NormPos", File()), "60,70,660,470");
}

TEST_F(LayoutStore, TheKeyOfTheCurrentScreenSizeWinsOverThePlainKey) {
    QDir().mkpath(QFileInfo(File()).absolutePath());
    Write(File(), QString("[Tmainform]\r\n%1=60,70,660,470\r\nNormPos=1,2,300,400\r\n")
                      .arg(ScreenKey("NormPos")));
    Tmainform window(File());
    Show(window);
    EXPECT_EQ(window.geometry(), QRect(60, 70, 600, 400));
}

struct TPlacementCase {
    const char* Case;
    QString Lines;  // after the section header; %1 is the screen's pixels per inch
    QRect Expected;
};

TEST_F(LayoutStore, PlacementIsAppliedOnlyWhenItCanBe) {
    const TPlacementCase cases[] = {
        {"another density", "PixelsPerInch=1\r\nNormPos=60,70,660,470\r\n",
         QRect(10, 20, 742, 500)},
        {"right not beyond left", "NormPos=60,70,60,470\r\n", QRect(10, 20, 742, 500)},
        {"missing numbers keep the current ones", "NormPos=60,70\r\n",
         QRect(60, 70, 692, 450)},
        {"version below 0", "FormVersion=-1\r\nNormPos=60,70,660,470\r\n",
         QRect(10, 20, 742, 500)},
    };
    for (const TPlacementCase& c : cases) {
        SCOPED_TRACE(c.Case);
        QDir().mkpath(QFileInfo(File()).absolutePath());
        Write(File(), "[Tmainform]\r\n" + c.Lines);
        Tmainform window(File());
        Show(window);
        EXPECT_EQ(window.geometry(), c.Expected);
    }
}

TEST_F(LayoutStore, PropertiesAreAppliedAtAnotherDensity) {
    QDir().mkpath(QFileInfo(File()).absolutePath());
    Write(File(), "[Tmainform]\r\nPixelsPerInch=1\r\nNormPos=60,70,660,470\r\n"
                  "Labelindex_Caption=Owner\r\nPreview1_Checked=false\r\n");
    Tmainform window(File());
    Show(window);
    EXPECT_EQ(window.geometry(), QRect(10, 20, 742, 500));
    EXPECT_EQ(window.Labelindex->text(), "Owner");
    EXPECT_FALSE(window.Preview1->isChecked());
}

TEST_F(LayoutStore, ADifferentColumnCountRebuildsTheColumnsFromTheFile) {
    QDir().mkpath(QFileInfo(File()).absolutePath());
    Write(File(), "[Tmainform]\r\nDBGrid1_Columns.Count=2\r\n"
                  "[Tmainform.DBGrid1_Columns]\r\n"
                  "Item0_FieldName=Owner\r\nItem0_TitleCaption=Who\r\nItem0_Width=77\r\n"
                  "Item1_FieldName=Priority\r\nItem1_Width=66\r\nItem1_Visible=False\r\n");
    Tmainform window(File());
    Show(window);
    const QList<TGridColumn> columns = window.DBGrid1->Columns();
    ASSERT_EQ(columns.size(), 2);
    EXPECT_EQ(columns[0], (TGridColumn{"Owner", "Who", 77, true}));
    EXPECT_EQ(columns[1].FieldName, "Priority");
    EXPECT_FALSE(columns[1].Visible);
}

TEST_F(LayoutStore, AnEqualColumnCountReadsEachColumnInPlace) {
    QDir().mkpath(QFileInfo(File()).absolutePath());
    Write(File(), "[Tmainform]\r\nDBGrid1_Columns.Count=3\r\n"
                  "[Tmainform.DBGrid1_Columns]\r\nItem1_Width=123\r\nItem2_Width=oops\r\n");
    Tmainform window(File());
    Show(window);
    const QList<TGridColumn> columns = window.DBGrid1->Columns();
    ASSERT_EQ(columns.size(), 3);
    EXPECT_EQ(columns[0], (TGridColumn{"ID", "ID", 40, true}));
    EXPECT_EQ(columns[1], (TGridColumn{"Title", "Title", 123, true}));
    // A width that does not read as a number is 0: the grid's default width.
    EXPECT_EQ(columns[2].FieldName, "State");
    EXPECT_GT(columns[2].Width, 0);
}

TEST_F(LayoutStore, QuotedCaptionsSurviveAWriteAndARead) {
    const QString captions[] = {"'Title'", "\"Title\"", "'", "  Priority  ", "it's", ""};
    for (const QString& caption : captions) {
        SCOPED_TRACE(caption.toStdString());
        {
            Tmainform first(File());
            Show(first);
            first.Labelindex->setText(caption);
            first.DBGrid1->SetColumns({{"Title", caption, 100, true}});
            first.close();
        }
        Tmainform second(File());
        second.Labelindex->setText("before");
        Show(second);
        EXPECT_EQ(second.Labelindex->text(), caption.trimmed());
        // An empty title shows the field's name.
        EXPECT_EQ(second.DBGrid1->Columns().value(0).Title,
                  caption.trimmed().isEmpty() ? "Title" : caption.trimmed());
    }
}

TEST_F(LayoutStore, ShowCmdTwoStartsTheMainWindowMinimized) {
    QDir().mkpath(QFileInfo(File()).absolutePath());
    Write(File(), QString("[Tmainform]\r\nShowCmd=2\r\nPixelsPerInch=%1\r\n"
                          "NormPos=60,70,660,470\r\n").arg(Ppi()));
    Tmainform window(File());
    window.Store.Restore();
    window.show();
    QApplication::processEvents();
    EXPECT_TRUE(window.isMinimized());
    EXPECT_EQ(window.normalGeometry(), QRect(60, 70, 600, 400));
    // Minimized is what the next run finds.
    window.close();
    EXPECT_EQ(Get("Tmainform", "ShowCmd", File()), "2");
}

TEST_F(LayoutStore, ShowCommandsMapToWindowStates) {
    const std::pair<const char*, Qt::WindowStates> cases[] = {
        {"1", Qt::WindowNoState},        {"3", Qt::WindowMaximized},
        {"6", Qt::WindowMinimized},      {"7", Qt::WindowMinimized},
        {"9", Qt::WindowNoState},        {"42", Qt::WindowNoState},
        {"x", Qt::WindowNoState},
    };
    for (const auto& [command, state] : cases) {
        SCOPED_TRACE(command);
        QDir().mkpath(QFileInfo(File()).absolutePath());
        Write(File(), QString("[Tmainform]\r\nShowCmd=%1\r\n").arg(command));
        Tmainform window(File());
        window.Store.Restore();
        EXPECT_EQ(window.windowState() & (Qt::WindowMinimized | Qt::WindowMaximized), state);
    }
}

TEST_F(LayoutStore, AWindowNeverRestoredWritesNothing) {
    Tmainform window(File());
    window.show();
    window.close();
    EXPECT_FALSE(QFile::exists(File()));
    window.Store.SaveAtDestroy();
    EXPECT_FALSE(QFile::exists(File()));
}

TEST_F(LayoutStore, ADestroyedWindowWritesVisibleOnlyWhenNotSavedSinceItsRestore) {
    {
        Tmainform window(File());
        Show(window);
        window.Store.SaveAtDestroy();
    }
    EXPECT_EQ(Get("Tmainform", "Visible", File()), "1");
    Tmainform window(File());
    Show(window);
    window.close();
    EXPECT_EQ(Get("Tmainform", "Visible", File()), "0");
    window.Labelindex->setText("changed after the save");
    window.Store.SaveAtDestroy();  // saved since the restore: nothing written
    EXPECT_EQ(Get("Tmainform", "Visible", File()), "0");
    EXPECT_EQ(Get("Tmainform", "Labelindex_Caption", File()), "Default");
}

TEST_F(LayoutStore, ARefusedWriteIsShownAndTheWindowStillCloses) {
    // A regular file where the settings folder should be: nothing can be
    // written below it.
    Write(m_Dir.path() + "/config", "not a folder");
    const QString file = File();
    Tmainform window(file);
    Show(window);
    m_Dialogs.Answer();
    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(m_Dialogs.Messages(), QStringList{"Unable to write to " + file});
    EXPECT_EQ(m_Dialogs.Requests().back().Kind, TMessageKind::Error);
    EXPECT_FALSE(window.Store.Saved());
    EXPECT_TRUE(m_Dialogs.Unexpected().isEmpty());
}

TEST(LayoutFile, LivesInTheUsersConfigurationFolder) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/somewhere/config");
    EXPECT_EQ(DefaultLayoutFileName(), "/somewhere/config/veltra-log/kesh_1_1.ini");
    qputenv("XDG_CONFIG_HOME", saved);
    if (saved.isEmpty()) qunsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace veltra
