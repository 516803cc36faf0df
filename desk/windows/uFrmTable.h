#pragma once
// One table's tab: broker list, order box, result labels and the two grids.
#include <QFrame>
#include <QString>
#include <map>

#include "desk/core/controls.h"

class QLineEdit;
class QAbstractButton;
class QListWidget;

namespace quorvel {

class TFrameTable : public QFrame {
    Q_OBJECT
public:
    explicit TFrameTable(QWidget* parent = nullptr);

    // The order box as the desk core reads and writes it.
    QString Text(FrameCtl c) const;
    void SetText(FrameCtl c, const QString& text);
    bool Checked(FrameCtl c) const;
    void SetChecked(FrameCtl c, bool on);

    QListWidget* m_lbBrokerIDs1 = nullptr;

private:
    std::map<FrameCtl, QLineEdit*> m_edits;
    std::map<FrameCtl, QAbstractButton*> m_buttons;
};

} // namespace quorvel
