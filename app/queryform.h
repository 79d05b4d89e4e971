// Tqueryform: the query builder: composes a filter on the open log from the grid's fields, saves and opens query files.
//
// Created once at program start with every other window and reused. This
// window carries its caption, component name and help topic; its controls
// and behaviour come with the feature it serves, and until then showing it
// shows an empty window with that caption.
#pragma once

#include <QDialog>

namespace veltra {

class Tqueryform : public QDialog {
    Q_OBJECT
public:
    explicit Tqueryform(QWidget* parent = nullptr);
};

}  // namespace veltra
