// Tcboxform: the pick-list dialog of the query builder; its caller sets the caption to the field being queried.
//
// Created once at program start with every other window and reused. This
// window carries its caption, component name and help topic; its controls
// and behaviour come with the feature it serves, and until then showing it
// shows an empty window with that caption.
#pragma once

#include <QDialog>

namespace veltra {

class Tcboxform : public QDialog {
    Q_OBJECT
public:
    explicit Tcboxform(QWidget* parent = nullptr);
};

}  // namespace veltra
