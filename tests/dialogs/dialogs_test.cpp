// The scripted dialogs service: answers in order, records what was asked,
// refuses what the script did not foresee, and drives modal windows without
// blocking.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include "platform/qt/dialogs/scripted_dialogs.h"

namespace veltra {
namespace {

// A small modal window that refuses OK while its line is empty, telling the
// user so through the dialogs service, as the program's dialogs do.
class TNameDialog : public QDialog {
public:
    TNameDialog() {
        setWindowTitle("Name");
        auto* layout = new QVBoxLayout(this);
        Line = new QLineEdit(this);
        Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        layout->addWidget(Line);
        layout->addWidget(Buttons);
        connect(Buttons, &QDialogButtonBox::accepted, this, &TNameDialog::accept);
        connect(Buttons, &QDialogButtonBox::rejected, this, &TNameDialog::reject);
    }
    void accept() override {
        if (Line->text().isEmpty()) {
            Dialogs().Error(this, "Name required");
            return;
        }
        QDialog::accept();
    }
    QPushButton* Ok() const { return Buttons->button(QDialogButtonBox::Ok); }
    QPushButton* Cancel() const { return Buttons->button(QDialogButtonBox::Cancel); }
    QLineEdit* Line;
    QDialogButtonBox* Buttons;
};

TEST(ScriptedDialogs, AnswersInOrderAndRecords) {
    TScriptedDialogs dialogs;
    dialogs.Answer(TMessageAnswer::No).AnswerPrompt(QString("typed")).Answer(TMessageAnswer::Ok);
    EXPECT_FALSE(Dialogs().ConfirmYesNo(nullptr, "Delete?"));
    EXPECT_EQ(Dialogs().Prompt(nullptr, "Caption", "Prompt", "def", true), QString("typed"));
    EXPECT_TRUE(Dialogs().ConfirmOkCancel(nullptr, "Go on?"));
    EXPECT_EQ(dialogs.Messages(), (QStringList{"Delete?", "Go on?"}));
    ASSERT_EQ(dialogs.Requests().size(), 3u);
    EXPECT_TRUE(dialogs.Requests()[1].Masked);
    EXPECT_EQ(dialogs.Requests()[1].Default, "def");
    EXPECT_EQ(dialogs.Requests()[2].Buttons, TMessageButtons::OkCancel);
    EXPECT_TRUE(dialogs.Unexpected().isEmpty());
    EXPECT_EQ(dialogs.Pending(), 0u);
}

TEST(ScriptedDialogs, UnforeseenRequestsAreRecordedAndAnsweredNegatively) {
    TScriptedDialogs dialogs;
    dialogs.AnswerPrompt(QString("x"));
    // A confirmation where a prompt was scripted: refused, the step stays.
    EXPECT_FALSE(Dialogs().ConfirmYesNo(nullptr, "Sure?"));
    EXPECT_EQ(dialogs.Pending(), 1u);
    EXPECT_EQ(Dialogs().Prompt(nullptr, "", "", "", false), QString("x"));
    // Nothing left: OK-only boxes still answer OK, confirmations Cancel.
    EXPECT_FALSE(Dialogs().ConfirmOkCancel(nullptr, "More?"));
    EXPECT_FALSE(Dialogs().SaveFileName(nullptr, "Save", "/tmp", "*.qry", "qry").has_value());
    EXPECT_EQ(dialogs.Unexpected().size(), 3);
    // An answer that does not fit the buttons is refused too.
    dialogs.Answer(TMessageAnswer::Yes);
    EXPECT_FALSE(Dialogs().ConfirmOkCancel(nullptr, "Fits?"));
    EXPECT_EQ(dialogs.Unexpected().size(), 4);
}

TEST(ScriptedDialogs, DrivesAModalWindowAndItsOwnMessages) {
    TScriptedDialogs dialogs;
    TNameDialog dialog;
    dialogs
        .Drive([&](QDialog& shown) {
            EXPECT_EQ(&shown, &dialog);
            EXPECT_TRUE(shown.isVisible());
            QTest::mouseClick(dialog.Ok(), Qt::LeftButton);  // refused: empty
            EXPECT_TRUE(shown.isVisible());
            QTest::keyClicks(dialog.Line, "Ann");
            QTest::mouseClick(dialog.Ok(), Qt::LeftButton);
        })
        .Answer();  // the "Name required" box raised inside the window
    EXPECT_EQ(Dialogs().Exec(dialog), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.Line->text(), "Ann");
    EXPECT_EQ(dialogs.Messages(), QStringList{"Name required"});
    EXPECT_TRUE(dialogs.Unexpected().isEmpty());
}

TEST(ScriptedDialogs, AWindowLeftOpenIsRejectedAndReported) {
    TScriptedDialogs dialogs;
    TNameDialog dialog;
    dialogs.Drive([](QDialog&) {});
    EXPECT_EQ(Dialogs().Exec(dialog), QDialog::Rejected);
    EXPECT_FALSE(dialog.isVisible());
    ASSERT_EQ(dialogs.Unexpected().size(), 1);
    EXPECT_TRUE(dialogs.Unexpected()[0].contains("left open"));
    // A window cancelled by its step reports Rejected with nothing unexpected.
    dialogs.ClearRecord();
    dialogs.Drive([&](QDialog&) { QTest::mouseClick(dialog.Cancel(), Qt::LeftButton); });
    EXPECT_EQ(Dialogs().Exec(dialog), QDialog::Rejected);
    EXPECT_TRUE(dialogs.Unexpected().isEmpty());
}

TEST(ScriptedDialogs, RestoresThePreviousServiceWhenDestroyed) {
    TDialogs* real = &Dialogs();
    {
        TScriptedDialogs outer;
        EXPECT_EQ(&Dialogs(), &outer);
        {
            TScriptedDialogs inner;
            EXPECT_EQ(&Dialogs(), &inner);
        }
        EXPECT_EQ(&Dialogs(), &outer);
    }
    EXPECT_EQ(&Dialogs(), real);
}

}  // namespace
}  // namespace veltra
