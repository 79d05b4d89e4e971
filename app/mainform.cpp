#include "app/mainform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>

#include "app/edit/editform.h"
#include "app/forms.h"
#include "app/program_folder.h"
#include "platform/qt/app/application.h"
#include "platform/qt/app/hints.h"
#include "platform/qt/controls/db_grid.h"
#include "platform/qt/controls/db_navigator.h"
#include "platform/qt/controls/db_rich_edit.h"
#include "platform/qt/dialogs/dialogs.h"
#include "platform/qt/help/help_viewer.h"
#include "users/getuserform2.h"
#include "users/user_context.h"

namespace veltra {

namespace {

constexpr int kStatusWidths[4] = {100, 300, 150, 50};

const char* const kWindowStyle =
    "QMainWindow, #toppanel, #bottompanel { background: gray; }"
    "#toppanel QLabel, #bottompanel QLabel { color: white; }"
    "#Panel2, #rightpanel { background: rgb(192, 220, 192); }"
    "#FileListBox1, #ComboBox1 { background: silver; color: black; }"
    "#hintline { background: gray; color: white; }"
    "#StatusBar1, #StatusBar1 QLabel { background: silver; color: black; }";

QPushButton* TopButton(const QString& caption, QStyle::StandardPixmap icon, QWidget* parent) {
    auto* button = new QPushButton(parent->style()->standardIcon(icon), caption, parent);
    button->setFlat(true);
    button->setFixedSize(129, 33);
    button->setStyleSheet("QPushButton { color: white; }");
    return button;
}

}  // namespace

Tmainform::Tmainform(QWidget* parent) : QMainWindow(parent) {
    setObjectName("mainform");
    setWindowTitle("Veltra Log");
    QFont font("Arial");
    font.setPixelSize(13);
    setFont(font);
    setStyleSheet(kWindowStyle);
    // Wide enough for the log list beside the navigator and "Close Query".
    resize(820, 494);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    m_DataSource.SetDataSet(&m_Table);

    BuildMenus();
    BuildTopBar();
    BuildLeftPanel();
    BuildRightPanel();
    BuildStatusBars();

    m_LeftSplitter = new QSplitter(Qt::Horizontal, this);
    m_LeftSplitter->setObjectName("Splitter1");
    m_LeftSplitter->addWidget(m_LeftPanel);
    m_LeftSplitter->addWidget(m_RightPanel);
    // While no log is open the left panel keeps its width and the rest of
    // the window shows its own background.
    m_Filler = new QWidget(m_LeftSplitter);
    m_Filler->setObjectName("filler");
    m_LeftSplitter->addWidget(m_Filler);
    m_LeftSplitter->setStretchFactor(0, 0);
    m_LeftSplitter->setStretchFactor(1, 1);
    m_LeftSplitter->setStretchFactor(2, 1);
    m_LeftSplitter->setSizes({140, 602, 602});
    m_LeftSplitter->setChildrenCollapsible(false);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_TopPanel);
    layout->addWidget(m_LeftSplitter, 1);
    layout->addWidget(m_StatusBar);
    setCentralWidget(central);

    FormCreate();
    table1AfterClose();
}

Tmainform::~Tmainform() {
    SetHintHandler({});
    // The controls follow the table through the data source: unbind them
    // before the table goes.
    m_Table.Close();
}

void Tmainform::BuildTopBar() {
    m_TopPanel = new QWidget(this);
    m_TopPanel->setObjectName("toppanel");
    m_TopPanel->setAutoFillBackground(true);
    auto* sorting = new QLabel("Sorting", m_TopPanel);
    sorting->setStyleSheet("QLabel { color: white; }");
    m_SortBox = new QComboBox(m_TopPanel);
    m_SortBox->setObjectName("ComboBox1");
    m_SortBox->setEditable(false);
    m_SortBox->setMinimumWidth(120);
    m_SortBox->setAccessibleName("Sorting");
    sorting->setBuddy(m_SortBox);
    SetHint(m_SortBox, "Select logical sort order");
    // The sort-order setting, kept by the layout settings as this label's
    // caption; never shown.
    m_SortLabel = new QLabel("ID", m_TopPanel);
    m_SortLabel->setObjectName("Labelindex");
    m_SortLabel->hide();
    auto* sortColumn = new QVBoxLayout;
    sortColumn->setSpacing(1);
    sortColumn->addWidget(sorting);
    sortColumn->addWidget(m_SortBox);

    m_PrintAll = TopButton("Print &All", QStyle::SP_FileDialogListView, m_TopPanel);
    m_PrintAll->setObjectName("printallbtn");
    SetHint(m_PrintAll, "Print all records, detail or summary");
    m_PrintSelected = TopButton("&Print Selected", QStyle::SP_FileIcon, m_TopPanel);
    m_PrintSelected->setObjectName("printselbtn");
    SetHint(m_PrintSelected, "Print the current record");
    m_Search = TopButton("&Search", QStyle::SP_FileDialogContentsView, m_TopPanel);
    m_Search->setObjectName("searchbtn");
    SetHint(m_Search, "Perform a text search on title and description ");
    m_Query = TopButton("&Query", QStyle::SP_FileDialogDetailedView, m_TopPanel);
    m_Query->setObjectName("querybtn");
    SetHint(m_Query, "Build/open a query on the current open log");

    auto* layout = new QHBoxLayout(m_TopPanel);
    layout->setContentsMargins(6, 3, 6, 3);
    layout->addLayout(sortColumn);
    layout->addSpacing(8);
    for (QPushButton* b : {m_PrintAll, m_PrintSelected, m_Search, m_Query}) layout->addWidget(b);
    layout->addStretch();
    connect(m_Search, &QPushButton::clicked, this, [this] { RunGuarded([this] { searchbtnClick(); }); });
    connect(m_Query, &QPushButton::clicked, this, [this] { RunGuarded([this] { querybtnClick(); }); });
    connect(m_PrintAll, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { SpeedButton1Click(false); }); });
    connect(m_PrintSelected, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { SpeedButton1Click(true); }); });
    connect(m_SortBox, &QComboBox::activated, this,
            [this](int entry) { RunGuarded([this, entry] { SortOrderClick(entry); }); });
}

void Tmainform::BuildLeftPanel() {
    m_LeftPanel = new QWidget(this);
    m_LeftPanel->setObjectName("Panel2");
    m_LeftPanel->setAutoFillBackground(true);
    m_LeftPanel->setMinimumWidth(60);
    auto* caption = new QLabel("Double click a log to open.", m_LeftPanel);
    caption->setWordWrap(true);
    m_LogList = new QListWidget(m_LeftPanel);
    m_LogList->setObjectName("FileListBox1");
    m_LogList->setAccessibleName("Logs");
    caption->setBuddy(m_LogList);
    SetHint(m_LogList, "Double click on the desired log to open");
    auto* layout = new QVBoxLayout(m_LeftPanel);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(caption);
    layout->addWidget(m_LogList, 1);
    connect(m_LogList, &QListWidget::itemActivated, this,
            [this] { RunGuarded([this] { LogListDblClick(); }); });
}

void Tmainform::BuildRightPanel() {
    m_RightPanel = new QWidget(this);
    m_RightPanel->setObjectName("rightpanel");
    m_RightPanel->setAutoFillBackground(true);

    m_Grid = new TDBGrid(m_RightPanel);
    m_Grid->setObjectName("DBGrid1");
    m_Grid->setAccessibleName("Tickets");
    m_Grid->SetDataSource(&m_DataSource);
    m_Grid->SetColumns({{"ID", "", 55, true},
                        {"Title", "", 267, true},
                        {"Submitter", "", 0, true},
                        {"Submit date", "", 81, true},
                        {"State", "", 0, true},
                        {"Priority", "", 0, true},
                        {"Close date", "", 0, true},
                        {"Category", "", 0, true},
                        {"Owner", "", 0, true},
                        {"Other", "", 0, false},
                        {"Last update", "", 0, false}});
    m_Grid->setStyleSheet("QTableView { background: silver; color: black; }"
                          "QHeaderView::section { background: gray; color: white; }");
    SetHint(m_Grid,
            "Click and drag column headers to move or resize.  Double click highlighted "
            "record to edit.");
    // The read-only text pane: the current ticket's "All" or "Description".
    m_TextPane = new TDBRichEdit(m_RightPanel);
    m_TextPane->setObjectName("DBRichEdit1");
    m_TextPane->setAccessibleName("Ticket text");
    m_TextPane->SetReadOnly(true);
    m_TextPane->SetDataSource(&m_DataSource);
    m_TextPane->setStyleSheet("QTextEdit { background: white; color: black; }");
    SetHint(m_TextPane, "Click edit button to edit this text");
    m_RightSplitter = new QSplitter(Qt::Vertical, m_RightPanel);
    m_RightSplitter->setObjectName("Splitter2");
    m_RightSplitter->addWidget(m_Grid);
    m_RightSplitter->addWidget(m_TextPane);
    m_RightSplitter->setChildrenCollapsible(false);
    m_RightSplitter->setSizes({220, 120});

    auto* bottom = new QWidget(m_RightPanel);
    bottom->setObjectName("bottompanel");
    bottom->setAutoFillBackground(true);
    m_Navigator = new TDBNavigator(bottom);
    m_Navigator->setObjectName("navigator1");
    m_Navigator->SetDataSource(&m_DataSource);
    m_Navigator->SetVisibleButtons({TNavigateButton::First, TNavigateButton::Prior,
                                    TNavigateButton::Next, TNavigateButton::Last,
                                    TNavigateButton::Insert, TNavigateButton::Delete,
                                    TNavigateButton::Edit});
    m_Navigator->SetCaption(TNavigateButton::Insert, "Submit");
    m_Navigator->SetConfirmDelete(true);
    // The navigator step runs after the button's own table action.
    m_Navigator->OnClick = [this](TNavigateButton button) { navigator1Click(button); };
    connect(m_Grid, &TDBGrid::doubleClicked, this,
            [this] { RunGuarded([this] { DBGrid1DblClick(); }); });
    m_CloseQuery = new QPushButton("Close Query", bottom);
    m_CloseQuery->setObjectName("closequerybtn");
    SetHint(m_CloseQuery, "Closes the current query and displays all records");
    m_CloseQuery->hide();
    // The bar never widens the ticket area: showing "Close Query" must not
    // push the splitter into the log list (a narrow window clips the bar).
    bottom->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    auto* bottomLayout = new QHBoxLayout(bottom);
    bottomLayout->setContentsMargins(4, 3, 4, 3);
    bottomLayout->addWidget(m_Navigator);
    bottomLayout->addStretch();
    bottomLayout->addWidget(m_CloseQuery);
    connect(m_CloseQuery, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { closequerybtnClick(); }); });

    auto* layout = new QVBoxLayout(m_RightPanel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_RightSplitter, 1);
    layout->addWidget(bottom);

    m_Table.AfterOpen = [this](TDataSet&) { table1AfterOpen(); };
    m_Table.BeforeClose = [this](TDataSet&) { table1BeforeClose(); };
    m_Table.AfterClose = [this](TDataSet&) { table1AfterClose(); };
    m_Table.AfterScroll = [this](TDataSet&) { table1AfterScroll(); };
    m_Table.BeforeEdit = [this](TDataSet&) { table1BeforeEdit(); };
    m_Table.BeforePost = [this](TDataSet&) { table1BeforePost(); };
    m_DataSource.OnStateChange = [this](TDataSource&) { showstatus(); };
}

void Tmainform::BuildStatusBars() {
    m_StatusBar = new QStatusBar(this);
    m_StatusBar->setObjectName("StatusBar1");
    m_StatusBar->setSizeGripEnabled(false);
    m_StatusBar->setAutoFillBackground(true);
    for (int i = 0; i < 4; ++i) {
        m_StatusPanels[i] = new QLabel(m_StatusBar);
        m_StatusPanels[i]->setObjectName(QString("statuspanel%1").arg(i + 1));
        m_StatusPanels[i]->setFixedWidth(kStatusWidths[i]);
        m_StatusPanels[i]->setFrameShape(QFrame::StyledPanel);
        m_StatusBar->addWidget(m_StatusPanels[i], i == 3 ? 1 : 0);
    }
    m_StatusPanels[3]->setMinimumWidth(kStatusWidths[3]);
    m_StatusPanels[3]->setMaximumWidth(QWIDGETSIZE_MAX);

    auto* hintBar = new QStatusBar(this);
    hintBar->setObjectName("hintbar");
    hintBar->setSizeGripEnabled(true);
    hintBar->setStyleSheet("QStatusBar { background: gray; }");
    m_HintLine = new QLabel(hintBar);
    m_HintLine->setObjectName("hintline");
    hintBar->addWidget(m_HintLine, 1);
    setStatusBar(hintBar);
}

void Tmainform::FormCreate() {
    SetHint(this, "Veltra Log hint area");
    SetHintHandler([this](const QString& hint) { displayhint(hint); });
}

void Tmainform::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_ShowDone) return;
    m_ShowDone = true;
    QMetaObject::invokeMethod(this, [this] { FormShow(); }, Qt::QueuedConnection);
}

void Tmainform::RestoreLaidOut() {
    if (!RestoreLayout) return;
    // The placement first: the window may take another size, which the
    // platform reports as an event.
    RestoreLayout(*this);
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    // Splitter positions are stored in pixels, but a splitter scales the
    // sizes it is given to the size it has when it is next laid out, and
    // the ticket area (grid, text pane, their splitter) is hidden and not
    // laid out while no log is open. So the window is laid out as it is
    // with a log open (top bar, ticket area and status bar shown) and the
    // sizes are restored again: the positions stored are then the ones the
    // user sees when a log opens. Nothing is painted in between.
    const bool open = m_RightPanel->isVisibleTo(this);
    if (!open) {
        m_Filler->hide();
        m_TopPanel->show();
        m_RightPanel->show();
        m_StatusBar->show();
    }
    centralWidget()->layout()->activate();
    m_LeftSplitter->refresh();
    m_RightPanel->layout()->activate();
    m_RightSplitter->refresh();
    RestoreLayout(*this);
    if (!open) {
        m_RightPanel->hide();
        m_Filler->show();
        m_TopPanel->hide();
        m_StatusBar->hide();
    }
}

void Tmainform::FormShow() {
    RestoreLaidOut();
    // Hidden until a log opens, the navigator has not been laid out yet: its
    // width is then the one it takes for all its buttons.
    m_NavigatorWidth = m_Navigator->isVisible() ? m_Navigator->width()
                                                : m_Navigator->sizeHint().width();
    QApplication::setApplicationDisplayName("Veltra Log");
    setWindowTitle("Veltra Log");
    SetProgramFolderFromProgramFile();
    RefreshLogList();
    SetCurrentHint("Veltra Log");
    displayhint(CurrentHint());  // also when the hint text was already this
    SetHelpFile(HelpFilePath());
    TUserContext& context = UserContext();
    context.AdminName.clear();
    context.Admin = false;

    Forms().getuserform2->Run();

    m_AdminMenuAction->setVisible(context.Admin);
    Forms().editform->SetAdministrator(context.Admin);
    if (context.UserName.trimmed().isEmpty()) {
        EndProgram();
        return;
    }
    try {
        getaccesslevel();
    } catch (const std::exception& error) {
        // The groups table could not be read: the engine's message, and the
        // user is treated as having no group.
        Dialogs().Error(this, QString::fromUtf8(error.what()));
        CurrentRights() = TRights{};
    }
    if (CurrentRights().Edit == -1 && !context.Admin) {
        Dialogs().Error(this, "You have not been assigned to a group. Contact the program admin.");
        EndProgram();
        return;
    }
    showstatus();
    m_HistoryFields = {"Title",      "Submitter", "Submit date", "State", "Priority",
                       "Close date", "Category",  "Owner",       "Description"};
    BindTextPane();
}

void Tmainform::EndProgram() {
    m_Ended = true;
    close();
}

void Tmainform::BindTextPane() {
    m_TextPaneField = m_PrintHistory->isChecked() ? "All" : "Description";
    m_TextPane->SetDataField(m_TextPaneField);
}

void Tmainform::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        RunGuarded([this] { RefreshIfChangedOnDisk(); });
}

QString Tmainform::SortOrder() const { return m_SortLabel->text(); }

void Tmainform::SetSortOrder(const QString& name) { m_SortLabel->setText(name); }

QString Tmainform::StatusPanel(int i) const { return m_StatusPanels[i]->text(); }

void Tmainform::showstatus() {
    m_StatusPanels[0]->setText("User: " + UserContext().UserName);
    if (!m_Table.Active()) {
        m_StatusPanels[1]->setText("DB: [none open]");
        m_StatusPanels[2]->clear();
        m_StatusPanels[3]->clear();
        return;
    }
    m_StatusPanels[1]->setText("DB: " + QString::fromStdString(m_Table.TableName()));
    m_StatusPanels[1]->setToolTip(QString::fromStdString(m_Table.TableName()));
    m_StatusPanels[2]->setText(QString("Record Count: %1").arg(m_Table.RecordCount()));
    m_StatusPanels[3]->setText(QString("Current Record: %1").arg(m_Table.RecNo()));
}

void Tmainform::displayhint(const QString& hint) { m_HintLine->setText(hint); }

void Tmainform::closeEvent(QCloseEvent* event) {
    try {
        CloseLog();
    } catch (const std::exception& error) {
        // The ticket could not be posted: keep the window open with the
        // ticket still in its edit state, so that nothing typed is lost.
        Dialogs().Error(this, QString::fromUtf8(error.what()));
        if (!m_Ended) {
            event->ignore();
            return;
        }
    }
    if (SaveLayout) SaveLayout(*this);
    QMainWindow::closeEvent(event);
}

}  // namespace veltra
