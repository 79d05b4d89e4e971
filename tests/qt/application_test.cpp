// The default error box, the application's last-resort handler, hints and
// the help viewer.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QEnterEvent>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QWidget>

#include "engine/errors.h"
#include "platform/qt/app/application.h"
#include "platform/qt/app/hints.h"
#include "platform/qt/dialogs/scripted_dialogs.h"
#include "platform/qt/help/help_viewer.h"
#include "tests/test_util.h"

namespace veltra {
namespace {

TEST(ErrorBox, GuardedCommandsShowWhatEscapesThem) {
    struct TCase {
        const char* Name;
        std::function<void()> Command;
        QStringList Shown;
    };
    const std::vector<TCase> cases = {
        {"engine error", [] { throw EVeltraEngineError(8708, "Record locked"); },
         {QString::fromUtf8(EVeltraEngineError(8708, "Record locked").what())}},
        {"dataset error", [] { throw EDatabaseError("Dataset not in edit or insert mode"); },
         {"Dataset not in edit or insert mode"}},
        {"other std::exception", [] { throw std::runtime_error("disk full"); }, {"disk full"}},
        {"not a std::exception", [] { throw 42; }, {"Unknown error"}},
        {"silent abort", [] { throw EAbortCommand(); }, {}},
        {"no exception", [] {}, {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TScriptedDialogs dialogs;
        for (int i = 0; i < c.Shown.size(); ++i) dialogs.Answer(TMessageAnswer::Ok);
        auto command = Guarded(c.Command);
        EXPECT_NO_THROW(command());
        EXPECT_EQ(dialogs.Messages(), c.Shown);
        for (const TDialogRequest& r : dialogs.Requests()) EXPECT_EQ(r.Kind, TMessageKind::Error);
        EXPECT_TRUE(dialogs.Unexpected().isEmpty());
    }
}

TEST(ErrorBox, GuardedSlotsTakeTheSignalsArgumentsAndTheWindowKeepsItsState) {
    TScriptedDialogs dialogs;
    dialogs.Answer(TMessageAnswer::Ok);
    QWidget window;
    auto* button = new QAction("Go", &window);
    int reached = 0;
    QObject::connect(button, &QAction::triggered, &window, Guarded([&](bool) {
                         ++reached;
                         throw EDatabaseError("Field 'Name' cannot be modified");
                     }));
    window.setWindowTitle("before");
    button->trigger();
    EXPECT_EQ(reached, 1);
    EXPECT_EQ(dialogs.Messages(), QStringList{"Field 'Name' cannot be modified"});
    EXPECT_EQ(window.windowTitle(), "before");
}

// An object whose event handler raises, as an unguarded slot would.
class TThrowingObject : public QObject {
protected:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) throw EDatabaseError("unguarded failure");
        return QObject::event(e);
    }
};

TEST(ErrorBox, TheApplicationShowsWhatEscapesAnEventHandler) {
    ASSERT_NE(qobject_cast<TApplication*>(qApp), nullptr);
    TScriptedDialogs dialogs;
    dialogs.Answer(TMessageAnswer::Ok);
    TThrowingObject object;
    QEvent event(QEvent::User);
    EXPECT_NO_THROW(QCoreApplication::sendEvent(&object, &event));
    EXPECT_EQ(dialogs.Messages(), QStringList{"unguarded failure"});
}

class HintsTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallHintTracking();
        SetCurrentHint(QString());
        Previous = SetHintHandler([this](const QString& h) { Shown << h; });
    }
    void TearDown() override { SetHintHandler(Previous); }
    static void Enter(QWidget* w) {
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QCoreApplication::sendEvent(w, &enter);
    }
    QStringList Shown;
    std::function<void(const QString&)> Previous;
};

TEST_F(HintsTest, HoveringShowsTheHintOfTheControlOrOfItsNearestParent) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* hinted = new QLabel("hinted", &window);
    auto* plain = new QLabel("plain", &window);
    layout->addWidget(hinted);
    layout->addWidget(plain);
    SetHint(&window, "Veltra Log hint area");
    SetHint(hinted, "Double click on the desired log to open");
    EXPECT_EQ(Hint(hinted), "Double click on the desired log to open");
    window.show();

    Enter(hinted);
    Enter(plain);
    Enter(plain);  // unchanged text: the handler is not called again
    EXPECT_EQ(Shown, (QStringList{"Double click on the desired log to open", "Veltra Log hint area"}));
    EXPECT_EQ(CurrentHint(), "Veltra Log hint area");

    QWidget orphan;
    Enter(&orphan);
    EXPECT_EQ(CurrentHint(), "") << "no hint up the chain clears the line";

    SetCurrentHint("Veltra Log");
    EXPECT_EQ(Shown.last(), "Veltra Log") << "the program sets the text too";
}

TEST_F(HintsTest, HighlightingAMenuItemShowsItsHint) {
    QMenu menu;
    QAction* item = menu.addAction("Close Current");
    QAction* other = menu.addAction("No hint");
    SetHint(item, "Close the current log");
    item->hover();
    EXPECT_EQ(CurrentHint(), "Close the current log");
    SetHint(item, "Changed hint");
    item->hover();
    EXPECT_EQ(Shown, (QStringList{"Close the current log", "Changed hint"}));
    other->hover();
    EXPECT_EQ(Shown.size(), 2) << "an item without hint was never wired";
}

class HelpTest : public ::testing::Test {
protected:
    void SetUp() override {
        File = QString::fromStdString(Dir / "veltrahelp.html");
        QFile f(File);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        QString html = "<html><head><title>Veltra Log Help</title></head><body><h1 id=\"contents\">Contents</h1>";
        for (int topic = 1; topic <= 12; ++topic) {
            html += QString("<h2><a name=\"topic-%1\"></a>Topic %1</h2>").arg(topic);
            for (int p = 0; p < 30; ++p) html += QString("<p>Text of topic %1, paragraph %2.</p>").arg(topic).arg(p);
        }
        html += "</body></html>";
        f.write(html.toUtf8());
    }
    void TearDown() override {
        if (HelpBrowser()) HelpBrowser()->close();
    }
    int ScrollPosition() const { return HelpBrowser()->verticalScrollBar()->value(); }
    veltra_test::TTestDir Dir;
    QString File;
};

TEST_F(HelpTest, OpensAtTheContentsOrAtATopicInOneReusedWindow) {
    TScriptedDialogs dialogs;
    ShowHelp(nullptr, File, 0);
    QTextBrowser* browser = HelpBrowser();
    ASSERT_NE(browser, nullptr);
    EXPECT_TRUE(browser->isVisible());
    EXPECT_FALSE(browser->isModal());
    EXPECT_EQ(browser->windowTitle(), "Veltra Log Help");
    EXPECT_EQ(ScrollPosition(), 0);

    ShowHelp(nullptr, File, 8);
    EXPECT_EQ(HelpBrowser(), browser) << "the window is reused";
    const int at8 = ScrollPosition();
    EXPECT_GT(at8, 0);
    ShowHelp(nullptr, File, 4);
    EXPECT_GT(ScrollPosition(), 0);
    EXPECT_LT(ScrollPosition(), at8);
    ShowHelp(nullptr, File, 0);
    EXPECT_EQ(ScrollPosition(), 0);
    EXPECT_TRUE(dialogs.Requests().empty());
}

TEST_F(HelpTest, MissingFileIsReported) {
    TScriptedDialogs dialogs;
    dialogs.Answer(TMessageAnswer::Ok);
    const QString missing = QString::fromStdString(Dir / "none.hlp");
    ShowHelp(nullptr, missing, 3);
    ASSERT_EQ(dialogs.Messages().size(), 1);
    EXPECT_EQ(dialogs.Messages()[0], QString("Cannot open the help file %1.").arg(missing));
}

TEST_F(HelpTest, F1OpensTheWindowsTopic) {
    TScriptedDialogs dialogs;
    SetHelpFile(File);
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* child = new QLabel("field", &window);
    child->setFocusPolicy(Qt::StrongFocus);
    layout->addWidget(child);
    SetHelpTopic(&window, 9);
    EXPECT_EQ(HelpTopic(&window), 9);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    child->setFocus();
    QTest::keyClick(child, Qt::Key_F1);
    ASSERT_NE(HelpBrowser(), nullptr);
    EXPECT_TRUE(HelpBrowser()->isVisible());
    const int at9 = ScrollPosition();
    EXPECT_GT(at9, 0);
    ShowHelp(nullptr, File, 9);
    EXPECT_EQ(ScrollPosition(), at9);
    SetHelpFile(QString());
}

}  // namespace
}  // namespace veltra
