#pragma once
// A read-only table model over a cursor of a client dataset: one row per record in the
// cursor's order, one column per visible field with its title, display text and alignment.
// Appends and deletes are signalled as the one row inserted or removed, edits as the rows whose
// contents changed (one row, or the rows between the old and new place when an edit moves the
// record in the cursor's index); only a reopen, a new index or the end of disabled controls
// resets the model.
#include <QAbstractTableModel>

#include "platform/clientdataset.h"

namespace quorvel {

class DataSetModel : public QAbstractTableModel, private IDataSetObserver {
    Q_OBJECT
public:
    explicit DataSetModel(ClientDataSet& cursor, QObject* parent = nullptr);
    ~DataSetModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The row of the cursor's current record (-1 when there is none).
    int CurrentRow() const;
    ClientDataSet& Cursor() { return m_cursor; }
    // The field shown in a column (null outside the columns).
    Field* FieldAt(int column) const {
        return column >= 0 && column < static_cast<int>(m_columns.size())
                   ? m_columns[static_cast<size_t>(column)]
                   : nullptr;
    }

signals:
    // The cursor's current record moved (also after changes that move it).
    void CurrentRowChanged(int row);

private:
    void DataChanging(Change change, int row) override;
    void DataChanged(Change change, int row) override;
    void Scrolled() override;
    void Rebuild();

    ClientDataSet& m_cursor;
    std::vector<Field*> m_columns;
    int m_rows = 0;        // the row count the views were told of
    int m_editedFrom = -1; // the row an edit's record had before the edit
    bool m_inserting = false;
    bool m_removing = false;
};

} // namespace quorvel
