#pragma once
// One table's tab: broker list, order box, result labels and the two grids.
#include <QFrame>

namespace quorvel {

class TFrameTable : public QFrame {
    Q_OBJECT
public:
    explicit TFrameTable(QWidget* parent = nullptr);
};

} // namespace quorvel
