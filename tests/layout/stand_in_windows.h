// Stand-ins for the main and edit windows: the same class names (the
// settings file's sections) and component names, with fixed sizes so that
// the values the store writes can be worked out by hand. Each closes as the
// real windows do: the layout is saved when the close is allowed, a refused
// write is shown in the error box, and the window closes anyway.
#pragma once

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QSplitter>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QWidget>

#include "app/layout/layout_store.h"
#include "platform/qt/app/application.h"
#include "platform/qt/controls/db_grid.h"

namespace veltra::stand_in {

// Handles of fixed width, so that pane positions are exact.
constexpr int kHandle = 5;

class Tmainform : public QWidget {
    Q_OBJECT
public:
    explicit Tmainform(const QString& layoutFile) : Store(*this, layoutFile) {
        setObjectName("mainform");
        Splitter1 = new QSplitter(Qt::Horizontal, this);
        Splitter1->setObjectName("Splitter1");
        Splitter1->setHandleWidth(kHandle);
        Splitter1->setChildrenCollapsible(false);
        Panel2 = new QWidget;
        Panel2->setObjectName("Panel2");
        Labelindex = new QLabel("Default", Panel2);
        Labelindex->setObjectName("Labelindex");
        auto* left = new QVBoxLayout(Panel2);
        left->addWidget(Labelindex);
        left->addStretch();
        Splitter2 = new QSplitter(Qt::Vertical);
        Splitter2->setObjectName("Splitter2");
        Splitter2->setHandleWidth(kHandle);
        Splitter2->setChildrenCollapsible(false);
        DBGrid1 = new TDBGrid;
        DBGrid1->setObjectName("DBGrid1");
        DBGrid1->SetColumns({{"ID", "ID", 40, true},
                             {"Title", "Title", 200, true},
                             {"State", "State", 90, true}});
        DBRichEdit1 = new QTextEdit;
        DBRichEdit1->setObjectName("DBRichEdit1");
        Splitter2->addWidget(DBGrid1);
        Splitter2->addWidget(DBRichEdit1);
        Splitter1->addWidget(Panel2);
        Splitter1->addWidget(Splitter2);
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(Splitter1);
        Preview1 = new QAction("Preview", this);
        Preview1->setObjectName("Preview1");
        Preview1->setCheckable(true);
        Preview1->setChecked(true);
        PrintChangeHistory1 = new QAction("Print Change History", this);
        PrintChangeHistory1->setObjectName("PrintChangeHistory1");
        PrintChangeHistory1->setCheckable(true);
        addAction(Preview1);
        addAction(PrintChangeHistory1);
        Store.SetMainWindow(true);
        setGeometry(10, 20, 742, 500);
        Splitter1->setSizes({150, 587});
        Splitter2->setSizes({300, 195});
    }
    // Shows the window as the program does: the layout restored first.
    void ShowRestored() {
        Store.Restore();
        show();
    }

    TLayoutStore Store;
    QSplitter* Splitter1;
    QSplitter* Splitter2;
    QWidget* Panel2;
    QLabel* Labelindex;
    TDBGrid* DBGrid1;
    QTextEdit* DBRichEdit1;
    QAction* Preview1;
    QAction* PrintChangeHistory1;

protected:
    void closeEvent(QCloseEvent* event) override {
        RunGuarded([this] { Store.Save(); });
        event->accept();
    }
};

class Teditform : public QWidget {
    Q_OBJECT
public:
    explicit Teditform(const QString& layoutFile) : Store(*this, layoutFile) {
        setObjectName("editform");
        Splitter1 = new QSplitter(Qt::Vertical, this);
        Splitter1->setObjectName("Splitter1");
        Splitter1->setHandleWidth(kHandle);
        Splitter1->setChildrenCollapsible(false);
        Panel1 = new QTextEdit;
        Panel1->setObjectName("Panel1");
        Panel4 = new QWidget;
        Panel4->setObjectName("Panel4");
        Splitter1->addWidget(Panel1);
        Splitter1->addWidget(Panel4);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(Splitter1);
        setGeometry(30, 40, 500, 485);
        Splitter1->setSizes({260, 220});
    }

    TLayoutStore Store;
    QSplitter* Splitter1;
    QTextEdit* Panel1;
    QWidget* Panel4;

protected:
    void closeEvent(QCloseEvent* event) override {
        RunGuarded([this] { Store.Save(); });
        event->accept();
    }
};

}  // namespace veltra::stand_in
