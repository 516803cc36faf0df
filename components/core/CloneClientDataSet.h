#pragma once
// A client dataset that code reacting to data changes can ask to stay quiet.
//
// The suspension is a counter raised and lowered along the chain of clone sources: a batch
// brackets its work with DisableDataChange and EnableDataChange (or posts with Post(true), or
// refreshes with RefreshAllDataSets passing itself), and an observer asks DataChangeDisabled,
// passing itself, before it reacts. DisableExport forbids exporting the dataset.
//
// A clone's source may be destroyed first: the clone then forgets it, and its chain ends
// there. Cloning in a circle is refused by the cursor, so walking a chain always ends.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/clientdataset.h"

namespace quorvel {

// The silent abort: ends an operation after its message has been shown ("Operation
// abgebrochen" is the text of the abort that follows apply errors).
class EAbort : public DataSetError {
public:
    EAbort() : DataSetError("Operation abgebrochen") {}
};

// What the dataset operations show the user. The class knows no widgets: a program hands in
// its boxes and screen cursor; without one, messages go nowhere and the cursor stays.
class IDataSetUi {
public:
    virtual ~IDataSetUi() = default;
    virtual void ShowMessage(const std::string& text) = 0; // a plain message box
    virtual void ShowError(const std::string& text) = 0;   // an error box with OK, centred
    virtual void BeginWait() = 0;                          // the hourglass cursor
    virtual void EndWait() = 0;                            // the cursor as it was
};

// Stands in for a remote application server: it names the providers a dataset may apply its
// changes to and refresh from. Each provider here is a data packet file on this machine.
class TLocalDataServer {
public:
    void AddProvider(const std::string& name, const std::string& path) { m_files[name] = path; }
    // The provider's file; DataSetError when the server holds no provider of that name.
    const std::string& ProviderFile(const std::string& name) const;

private:
    std::map<std::string, std::string> m_files;
};

class TCloneClientDataSet : public ClientDataSet {
public:
    explicit TCloneClientDataSet(std::string name = {});
    ~TCloneClientDataSet() override;

    // ---- data-change suspension ------------------------------------------------------------
    int DisableCount() const { return m_nDisableCount; }
    // Raises this dataset's counter and, through its clone source, that of the whole chain.
    void DisableDataChange();
    // Lowers them again; a counter at 0 stays there, on the chain too.
    void EnableDataChange();
    // Whether a reaction to a data change should be skipped: this dataset or its clone source
    // is suspended; or, with bCheckUpdateCount, a notification of an update is still to be
    // swallowed (it is used up); or Receiver started the refresh now running.
    bool DataChangeDisabled(const void* Receiver, bool bCheckUpdateCount);
    // The root of the clone chain: the last member whose source is no TCloneClientDataSet.
    TCloneClientDataSet* GetBaseDataSet();
    // Refreshes the root with Sender recorded as the refresh's initiator.
    void RefreshAllDataSets(const void* Sender);
    // Posts; with bDisableDataChange the suspension is held through the post and given back
    // right before the application's after-post handler runs, exactly once, also when the post
    // fails. A handler that posts again this way nests: each post keeps its own handler.
    using ClientDataSet::Post;
    void Post(bool bDisableDataChange);

    // ---- clone operations --------------------------------------------------------------------
    // A new dataset cloned from SourceDataSet with its design settings; both suspension
    // counters end where they began.
    static std::unique_ptr<TCloneClientDataSet> CreateClone(TCloneClientDataSet& SourceDataSet, bool bReset,
                                                            bool bKeepSettings, std::string name = {});
    // Clones SourceDataSet's cursor and takes its export lock, filter options, the events this
    // dataset has not set and, by field name, its fields' display settings.
    void CloneDB(TCloneClientDataSet& SourceDataSet, bool bReset, bool bKeepSettings,
                 bool bDisableDataChange);
    // The same; bKeepMasterDetailSettings keeps this dataset's own index and master link.
    void CloneCursorWithDesignSettings(TCloneClientDataSet& SourceDataSet, bool bKeepMasterDetailSettings,
                                       bool bReset, bool bKeepSettings, bool bDisableDataChange);
    // Copies the current record's values, nulls included, into the fields of the same name
    // that are not read-only. This dataset must be in edit or insert state.
    void CopyCurrentDataSet(TCloneClientDataSet& SourceDataSet);

    // ---- files, provider, updates ----------------------------------------------------------
    std::string FileName;
    std::string ProviderName;
    TLocalDataServer* RemoteServer = nullptr;
    // Told of each change the provider could not take; the apply counts it as an error.
    std::function<void(TCloneClientDataSet&, const std::string& message)> OnReconcileError;

    void OpenDB(const std::string& sFilename, bool bDisableDataChange, bool bReadOnly, bool bDisableExport);
    // Saves to FileName (no provider) or applies to the provider, then closes.
    void CloseDB(bool bDisableDataChange);
    // Applies the root's changes (no provider: there is no change log to apply), cancels them
    // (provider, read-only) or applies them and, with bRefresh, refreshes keeping "id".
    void CDSUpdate(bool bRefresh);
    void RefreshDataSet();
    void RefreshRootDataSet();
    // Deletes every record the dataset shows (no AfterDelete for them), or has the provider
    // delete them when the root has a remote server and this dataset no master.
    void EmptyDataSet(bool bDontRefreshRootDataset, bool bUpdateDataset, const std::string& sFilterSQL);

    // The engine keeps no change log: every posted change is already the data. Merging has
    // nothing to do; applying writes the data to the provider's file.
    void MergeChangeLog() {}
    int ApplyUpdates(int MaxErrors);
    // Goes back to the data the provider holds.
    void CancelUpdates();
    // A request to the provider: kind 0 deletes the records that `text` (a filter expression;
    // empty: every record) matches.
    void DataRequest(int kind, const std::string& text);
    // Reads the data again: from the provider when there is one.
    void RefreshData();

    // ---- number searches -------------------------------------------------------------------
    // The next free integer above iLastNumber in the integer field sReferenceField among the
    // records sFilterString shows (the record in edit does not count).
    int FreieNummerSuchen(const std::string& sReferenceField, int iLastNumber,
                          const std::string& sFilterString);
    // Whether no record shown by sFilterString (the record iCurrentDataSetID aside, in edit
    // state) holds iNumber in sReferenceField.
    bool IstNummerFrei(const std::string& sReferenceField, const std::string& iNumber, int iCurrentDataSetID,
                       const std::string& sFilterString);
    // The next free number of the form "ppp-nnn" under the first three characters of
    // sCurrentValue ("303" when it is shorter).
    std::string FreieTarvikNummerSuchen(const std::string& sReferenceField, int iLastNumber,
                                        const std::string& sCurrentValue, const std::string& sFilterString);

    // Where the operations show their messages and wait cursor (null: nowhere).
    static void SetUi(IDataSetUi* ui);

    // ---- export lock -----------------------------------------------------------------------
    bool DisableExport = false;

    // Notifications of an update that are still to be swallowed (set by an update that
    // refreshes, counted down by DataChangeDisabled).
    int m_nUpdateCount = 0;

    // The number of live instances (the refresh initiators are kept while there is one).
    static int Instances();

private:
    TCloneClientDataSet* CloneParent() const;
    const std::string& ProviderFile() const;
    void ReloadFromProvider();
    // A temporary clone for the number searches, filtered by `filter`, ordered by `field`.
    std::unique_ptr<TCloneClientDataSet> SearchClone(const std::string& field, const std::string& filter);
    struct PostFrame;

    int m_nDisableCount = 0;
    PostFrame* m_postFrame = nullptr; // innermost Post(true) running
};

} // namespace quorvel
