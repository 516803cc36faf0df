#include "components/core/CloneClientDataSet.h"

namespace quorvel {

namespace {
int g_instances = 0;
// The initiators of the refreshes now running, innermost last. Kept while an instance lives.
std::vector<const void*>* g_refreshSenders = nullptr;
} // namespace

// One running Post(true): the application's after-post handler it put aside and whether its
// suspension has been given back. Frames nest when an after-post handler posts again.
struct TCloneClientDataSet::PostFrame {
    Notify oldAfterPost;
    bool resetDone = false;
};

TCloneClientDataSet::TCloneClientDataSet(std::string name) : ClientDataSet(std::move(name)) {
    if (g_instances == 0) g_refreshSenders = new std::vector<const void*>();
    ++g_instances;
}

TCloneClientDataSet::~TCloneClientDataSet() {
    while (m_nDisableCount > 0) EnableDataChange();
    if (--g_instances == 0) {
        delete g_refreshSenders;
        g_refreshSenders = nullptr;
    }
}

int TCloneClientDataSet::Instances() {
    return g_instances;
}

TCloneClientDataSet* TCloneClientDataSet::CloneParent() const {
    return dynamic_cast<TCloneClientDataSet*>(CloneSource());
}

void TCloneClientDataSet::DisableDataChange() {
    ++m_nDisableCount;
    if (TCloneClientDataSet* p = CloneParent()) p->DisableDataChange();
}

void TCloneClientDataSet::EnableDataChange() {
    if (m_nDisableCount == 0) return;
    --m_nDisableCount;
    if (TCloneClientDataSet* p = CloneParent()) p->EnableDataChange();
}

TCloneClientDataSet* TCloneClientDataSet::GetBaseDataSet() {
    TCloneClientDataSet* d = this;
    while (TCloneClientDataSet* p = d->CloneParent()) d = p;
    return d;
}

bool TCloneClientDataSet::DataChangeDisabled(const void* Receiver, bool bCheckUpdateCount) {
    if (m_nDisableCount > 0) return true;
    if (TCloneClientDataSet* p = CloneParent())
        if (p->m_nDisableCount > 0 || p->DataChangeDisabled(nullptr, false)) return true;
    // (The engine has no master-detail links, so there is no master to ask.)
    if (bCheckUpdateCount && m_nUpdateCount > 0) {
        --m_nUpdateCount;
        return true;
    }
    return g_refreshSenders && !g_refreshSenders->empty() && Receiver && g_refreshSenders->back() == Receiver;
}

void TCloneClientDataSet::RefreshAllDataSets(const void* Sender) {
    g_refreshSenders->push_back(Sender);
    struct Pop {
        ~Pop() {
            if (g_refreshSenders && !g_refreshSenders->empty()) g_refreshSenders->pop_back();
        }
    } pop;
    GetBaseDataSet()->Refresh();
}

void TCloneClientDataSet::Post(bool bDisableDataChange) {
    if (!bDisableDataChange) {
        ClientDataSet::Post();
        return;
    }
    DisableDataChange();
    PostFrame frame;
    // The handler to call after the post is the application's: when an outer Post(true) runs,
    // the installed handler is that post's wrapper, and the application's is in its frame.
    frame.oldAfterPost = m_postFrame ? m_postFrame->oldAfterPost : AfterPost;
    PostFrame* outer = m_postFrame;
    Notify installed = AfterPost;
    m_postFrame = &frame;
    AfterPost = [this, f = &frame](ClientDataSet&) {
        if (!f->resetDone) {
            EnableDataChange();
            f->resetDone = true;
        }
        if (f->oldAfterPost) {
            Notify handler = f->oldAfterPost; // the handler may replace itself meanwhile
            handler(*this);
        }
    };
    auto restore = [&] {
        if (!frame.resetDone) {
            EnableDataChange();
            frame.resetDone = true;
        }
        m_postFrame = outer;
        AfterPost = std::move(installed);
    };
    try {
        ClientDataSet::Post();
    } catch (...) {
        restore();
        throw;
    }
    restore();
}

} // namespace quorvel
