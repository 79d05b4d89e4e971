// Tdelfileform: the delete-log dialog: lists the logs of the data folder and removes the table files of the one chosen.
//
// Created once at program start with every other window and reused. This
// window carries its caption, component name and help topic; its controls
// and behaviour come with the feature it serves, and until then showing it
// shows an empty window with that caption.
#pragma once

#include <QDialog>

namespace veltra {

class Tdelfileform : public QDialog {
    Q_OBJECT
public:
    explicit Tdelfileform(QWidget* parent = nullptr);
};

}  // namespace veltra
