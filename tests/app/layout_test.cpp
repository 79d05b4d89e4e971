// The main window's layout in the settings file, through the real program:
// what the user arranged (splitters, hidden columns, check marks) is there
// again after closing and starting again; a save writes the file once; a
// refused write is shown and the window still closes.
#include <sys/inotify.h>
#include <unistd.h>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QTest>

#include "app/edit/editform.h"
#include "app/mainform.h"
#include "platform/qt/controls/db_grid.h"
#include "platform/qt/controls/db_navigator.h"
#include "tests/app/app_fixture.h"
#include "users/user_context.h"

namespace veltra {
namespace {

class LayoutTest : public TAppTest {
  protected:
    void StartWithLog() {
        AddUsers({{"Admin", "", "", true}});
        MakeLog("tickets", {{"Alpha", "Admin", ""}, {"Beta", "Admin", ""}});
        Restart();
    }
    // Starts the program (again) and opens the log.
    void Restart() {
        if (m_Forms) {
            Main().close();
            m_Forms.reset();
            UserContext() = TUserContext{};
        }
        StartAs("Admin");
        ASSERT_FALSE(Main().Ended());
        OpenFromList("tickets.dat");
        ASSERT_TRUE(Main().table1().Active());
        QApplication::processEvents();
    }
    // Drags the first handle of `splitter` by `delta` pixels along it, as a
    // person does with the mouse.
    static void DragHandle(QSplitter* splitter, int delta) {
        QWidget* handle = splitter->handle(1);
        const QPoint from = handle->rect().center();
        const QPoint to = splitter->orientation() == Qt::Horizontal ? from + QPoint(delta, 0)
                                                                    : from + QPoint(0, delta);
        QTest::mousePress(handle, Qt::LeftButton, {}, from);
        QTest::mouseMove(handle, to);
        QTest::mouseRelease(handle, Qt::LeftButton, {}, to);
    }
    bool ColumnVisible(const QString& field) {
        for (const TGridColumn& c : Main().DBGrid1()->Columns())
            if (c.FieldName == field) return c.Visible;
        ADD_FAILURE() << "no column " << field.toStdString();
        return false;
    }
    QWidget* Panel2() { return Main().findChild<QWidget*>("Panel2"); }
};

TEST_F(LayoutTest, ARestartShowsTheSplittersColumnsAndCheckMarksAsLeft) {
    StartWithLog();
    QSplitter* tickets = Main().Splitter2();
    const int gridBefore = tickets->sizes().at(0);
    const int panelBefore = Panel2()->width();
    DragHandle(tickets, 60);
    DragHandle(Main().Splitter1(), 45);
    const int grid = tickets->sizes().at(0);
    const int panel = Panel2()->width();
    ASSERT_NE(grid, gridBefore) << "the drag moved nothing";
    ASSERT_NE(panel, panelBefore) << "the drag moved nothing";
    Main().MenuItem(Main().columnsmenu(), "Priority")->trigger();
    ASSERT_FALSE(ColumnVisible("Priority"));
    Main().previewitem()->trigger();
    ASSERT_FALSE(Main().previewitem()->isChecked());
    // Another sort order, chosen with the keyboard.
    QComboBox* sorting = Main().ComboBox1();
    ASSERT_GE(sorting->count(), 2);
    sorting->setFocus();
    QTest::keyClick(sorting, Qt::Key_Down);
    const QString order = sorting->currentText();
    ASSERT_NE(order, "ID");
    ASSERT_EQ(Main().SortOrder(), order);

    Restart();
    EXPECT_EQ(Main().SortOrder(), order);
    EXPECT_EQ(Main().ComboBox1()->currentText(), order);
    EXPECT_EQ(QString::fromStdString(Main().table1().IndexName()), order);
    const QByteArray file = ReadFile("config/veltra-log/kesh_1_1.ini");
    EXPECT_TRUE(file.contains("[Tmainform]")) << file.left(200).toStdString();
    EXPECT_TRUE(file.contains("Splitter2_Top=")) << file.left(400).toStdString();
    EXPECT_EQ(Main().Splitter2()->sizes().at(0), grid);
    EXPECT_EQ(Panel2()->width(), panel);
    EXPECT_FALSE(ColumnVisible("Priority"));
    EXPECT_TRUE(ColumnVisible("Title"));
    EXPECT_FALSE(Main().MenuItem(Main().columnsmenu(), "Priority")->isChecked());
    EXPECT_FALSE(Main().previewitem()->isChecked());
    EXPECT_TRUE(Main().historyitem()->isChecked());
    EXPECT_TRUE(m_Dialogs.Unexpected().isEmpty())
        << m_Dialogs.Unexpected().join("\n").toStdString();
}

TEST_F(LayoutTest, TheEditWindowKeepsItsSplitOverARestart) {
    StartWithLog();
    const auto editTicket = [this](std::function<void(Teditform&)> step) {
        m_Dialogs.Drive([step](QDialog& d) { step(static_cast<Teditform&>(d)); });
        QTest::mouseClick(Main().navigator1()->Button(TNavigateButton::Edit), Qt::LeftButton);
        EXPECT_EQ(m_Dialogs.Pending(), 0u);
    };
    int before = 0, moved = 0;
    editTicket([&](Teditform& edit) {
        before = edit.Panel1()->height();
        DragHandle(edit.Splitter1(), 40);
        moved = edit.Panel1()->height();
        QTest::mouseClick(edit.OkButton(), Qt::LeftButton);
    });
    ASSERT_NE(moved, before) << "the drag moved nothing";
    EXPECT_TRUE(ReadFile("config/veltra-log/kesh_1_1.ini").contains("[Teditform]"));

    Restart();
    int shown = 0;
    editTicket([&](Teditform& edit) {
        shown = edit.Panel1()->height();
        QTest::mouseClick(edit.CancelButton(), Qt::LeftButton);
    });
    EXPECT_EQ(shown, moved);
    EXPECT_TRUE(m_Dialogs.Unexpected().isEmpty())
        << m_Dialogs.Unexpected().join("\n").toStdString();
}

TEST_F(LayoutTest, ClosingWritesTheSettingsFileOnce) {
    StartWithLog();
    const QString folder = QFileInfo(LayoutFile()).absolutePath();
    ASSERT_TRUE(QDir().mkpath(folder));
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, QFile::encodeName(folder).constData(),
                                IN_MOVED_TO | IN_CLOSE_WRITE),
              0);
    Main().close();
    int replaced = 0;
    alignas(inotify_event) char buffer[64 * 1024];
    ssize_t n;
    while ((n = read(watch, buffer, sizeof buffer)) > 0) {
        for (char* p = buffer; p < buffer + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(p);
            if ((event->mask & IN_MOVED_TO) && event->len > 0 &&
                QString::fromUtf8(event->name) == "kesh_1_1.ini")
                ++replaced;
            p += sizeof(inotify_event) + event->len;
        }
    }
    close(watch);
    EXPECT_EQ(replaced, 1);
    EXPECT_TRUE(ReadFile("config/veltra-log/kesh_1_1.ini").contains("DBGrid1_Columns.Count=11"));
}

TEST_F(LayoutTest, ARefusedWriteIsShownAndTheWindowStillCloses) {
    StartWithLog();
    // A folder where the file should be: the file cannot be written.
    ASSERT_TRUE(QDir().mkpath(LayoutFile()));
    m_Dialogs.ClearRecord();
    m_Dialogs.Answer();
    Main().close();
    EXPECT_EQ(m_Dialogs.Messages(), QStringList{"Unable to write to " + LayoutFile()});
    EXPECT_FALSE(Main().isVisible());
    EXPECT_TRUE(m_Dialogs.Unexpected().isEmpty())
        << m_Dialogs.Unexpected().join("\n").toStdString();
}

}  // namespace
}  // namespace veltra
