// Taccessform: the groups editor, caption "Access Levels", help topic 16.
//
// It owns the shared groups table component: the add-users and assign
// dialogs list group names through it and the rights reader looks the
// current user's group up through it. Each user of the component closes it,
// sets its table name to sys2.dat of the program folder and opens it.
//
// Created once at program start and reused. The editor's controls and
// behaviour come with user administration; until then showing it shows an
// empty window with its caption.
#pragma once

#include <QDialog>
#include <memory>

namespace veltra {

class TVeltraTable;

class Taccessform : public QDialog {
    Q_OBJECT
public:
    explicit Taccessform(QWidget* parent = nullptr);
    ~Taccessform() override;

    // The shared groups table component (closed between uses).
    TVeltraTable& GroupsTable() { return *m_Groups; }

private:
    std::unique_ptr<TVeltraTable> m_Groups;
};

}  // namespace veltra
