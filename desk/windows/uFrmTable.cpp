#include "desk/windows/uFrmTable.h"

namespace quorvel {

TFrameTable::TFrameTable(QWidget* parent) : QFrame(parent) {}

} // namespace quorvel
