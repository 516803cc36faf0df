#include "desk/windows/uMessageBox.h"

namespace quorvel {

TMessageBox::TMessageBox(QWidget* parent) : QWidget(parent, Qt::Tool) {}

} // namespace quorvel
