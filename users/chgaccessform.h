// Tchgaccessform: the user-to-group assignment dialog.
//
// Created once at program start with every other window and reused. This
// window carries its caption, component name and help topic; its controls
// and behaviour come with the feature it serves, and until then showing it
// shows an empty window with that caption.
#pragma once

#include <QDialog>

namespace veltra {

class Tchgaccessform : public QDialog {
    Q_OBJECT
public:
    explicit Tchgaccessform(QWidget* parent = nullptr);
};

}  // namespace veltra
