#pragma once
// A push button as the views and windows build theirs, named: the name is
// what the tests find it by, and stays when a catalogue changes its caption.

#include <QPushButton>

namespace gp {

inline QPushButton* namedButton(const QString& caption, const QString& name, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    return b;
}

} // namespace gp
