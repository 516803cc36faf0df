#include "components/DataSetModel.h"

#include <algorithm>

namespace quorvel {

DataSetModel::DataSetModel(ClientDataSet& cursor, QObject* parent)
    : QAbstractTableModel(parent), m_cursor(cursor) {
    Rebuild();
    m_cursor.AddObserver(this);
}

DataSetModel::~DataSetModel() {
    m_cursor.RemoveObserver(this);
}

void DataSetModel::Rebuild() {
    m_rows = m_cursor.Active() ? m_cursor.RecordCount() : 0;
    m_columns.clear();
    for (const auto& f : m_cursor.Fields())
        if (f->Visible) m_columns.push_back(f.get());
}

int DataSetModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int DataSetModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant DataSetModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !m_cursor.Active() || index.column() >= static_cast<int>(m_columns.size()))
        return {};
    Field* f = m_columns[static_cast<size_t>(index.column())];
    if (role == Qt::TextAlignmentRole) {
        const Qt::Alignment h = f->alignment == Alignment::Left    ? Qt::AlignLeft
                                : f->alignment == Alignment::Right ? Qt::AlignRight
                                                                   : Qt::AlignHCenter;
        return QVariant::fromValue(h | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole) return {};
    QString text;
    try {
        m_cursor.PeekRecord(index.row() + 1, [&] { text = QString::fromStdString(f->DisplayText()); });
    } catch (const std::exception&) {
        return {};
    }
    return text;
}

QVariant DataSetModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return section + 1;
    if (section < 0 || section >= static_cast<int>(m_columns.size())) return {};
    return QString::fromStdString(m_columns[static_cast<size_t>(section)]->DisplayName());
}

int DataSetModel::CurrentRow() const {
    if (!m_cursor.Active()) return -1;
    const int r = m_cursor.RecNo();
    return r > 0 ? r - 1 : -1;
}

void DataSetModel::DataChanging(Change change, int row) {
    switch (change) {
    case Change::Appended:
        beginInsertRows({}, row - 1, row - 1);
        m_inserting = true;
        break;
    case Change::Deleted:
        beginRemoveRows({}, row - 1, row - 1);
        m_removing = true;
        break;
    case Change::Edited:
        m_editedFrom = row - 1;
        break;
    case Change::Reset:
        break;
    }
}

void DataSetModel::DataChanged(Change change, int row) {
    switch (change) {
    case Change::Appended:
        if (m_inserting) {
            m_inserting = false;
            ++m_rows;
            endInsertRows();
        } else {
            beginResetModel();
            Rebuild();
            endResetModel();
        }
        break;
    case Change::Deleted:
        if (m_removing) {
            m_removing = false;
            --m_rows;
            endRemoveRows();
        } else {
            beginResetModel();
            Rebuild();
            endResetModel();
        }
        break;
    case Change::Edited: {
        // A record that moved in the index shifts every row between its old and new place.
        const int to = row - 1;
        const int from = m_editedFrom < 0 ? to : m_editedFrom;
        m_editedFrom = -1;
        if (columnCount() > 0 && to >= 0 && to < m_rows)
            emit dataChanged(index(std::min(from, to), 0), index(std::max(from, to), columnCount() - 1));
        break;
    }
    case Change::Reset:
        beginResetModel();
        Rebuild();
        endResetModel();
        break;
    }
    emit CurrentRowChanged(CurrentRow());
}

void DataSetModel::Scrolled() {
    emit CurrentRowChanged(CurrentRow());
}

} // namespace quorvel
