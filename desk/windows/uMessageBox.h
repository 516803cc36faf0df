#pragma once
// The notifications window.
#include <QWidget>

namespace quorvel {

class TMessageBox : public QWidget {
    Q_OBJECT
public:
    explicit TMessageBox(QWidget* parent = nullptr);
};

} // namespace quorvel
