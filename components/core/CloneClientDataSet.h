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
#include <vector>

#include "platform/clientdataset.h"

namespace quorvel {

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

    // ---- export lock -----------------------------------------------------------------------
    bool DisableExport = false;

    // Notifications of an update that are still to be swallowed (set by an update that
    // refreshes, counted down by DataChangeDisabled).
    int m_nUpdateCount = 0;

    // The number of live instances (the refresh initiators are kept while there is one).
    static int Instances();

private:
    TCloneClientDataSet* CloneParent() const;
    struct PostFrame;

    int m_nDisableCount = 0;
    PostFrame* m_postFrame = nullptr; // innermost Post(true) running
};

} // namespace quorvel
