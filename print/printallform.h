// Tprintallform: the print choice dialog: detail or summary print of every ticket of the current view.
//
// Created once at program start with every other window and reused. This
// window carries its caption, component name and help topic; its controls
// and behaviour come with the feature it serves, and until then showing it
// shows an empty window with that caption.
#pragma once

#include <QDialog>

namespace veltra {

class Tprintallform : public QDialog {
    Q_OBJECT
public:
    explicit Tprintallform(QWidget* parent = nullptr);
};

}  // namespace veltra
