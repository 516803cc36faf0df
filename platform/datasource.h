#pragma once
// A data source joins a dataset to the controls that show it: whether they may put it into
// edit state by themselves, and the data-change event, raised when the dataset's current
// record moves or its data changes (Sender is the data source then; a control may raise it
// too, naming itself).
#include <functional>

#include "platform/clientdataset.h"

namespace quorvel {

class TDataSource : private IDataSetObserver {
public:
    using DataChangeEvent = std::function<void(const void* Sender, Field* field)>;

    TDataSource() = default;
    ~TDataSource() { SetDataSet(nullptr); }
    TDataSource(const TDataSource&) = delete;
    TDataSource& operator=(const TDataSource&) = delete;

    ClientDataSet* DataSet() const { return m_dataSet; }
    void SetDataSet(ClientDataSet* ds) {
        if (m_dataSet == ds) return;
        if (m_dataSet) m_dataSet->RemoveObserver(this);
        m_dataSet = ds;
        if (m_dataSet) m_dataSet->AddObserver(this);
    }
    bool AutoEdit = true;
    DataChangeEvent OnDataChange;

    // Puts the dataset into edit state when automatic editing is on and it is browsing;
    // whether it is in edit or insert state afterwards.
    bool Edit() {
        if (!m_dataSet || !m_dataSet->Active()) return false;
        const DataSetState st = m_dataSet->State();
        if (st == DataSetState::Browse && AutoEdit) m_dataSet->Edit();
        return m_dataSet->State() == DataSetState::Edit || m_dataSet->State() == DataSetState::Insert;
    }

private:
    void DataChanged(Change, int) override { Raise(); }
    void Scrolled() override { Raise(); }
    void Raise() {
        if (OnDataChange) {
            const DataChangeEvent handler = OnDataChange;
            handler(this, nullptr);
        }
    }
    ClientDataSet* m_dataSet = nullptr;
};

} // namespace quorvel
