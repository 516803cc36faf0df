#include "components/core/CloneClientDataSet.h"

#include <cstdint>
#include <limits>

#include "platform/files.h"
#include "platform/numbers.h"

namespace quorvel {

namespace {
int g_instances = 0;
IDataSetUi* g_ui = nullptr;
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
    if (auto* master = dynamic_cast<TCloneClientDataSet*>(MasterSource()))
        if (master->DataChangeDisabled(nullptr, false)) return true;
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

// ---- clone operations ------------------------------------------------------------------------

namespace {

// Joins two filter texts so that neither can reach into the other: an OR in one stays inside
// its own parentheses.
std::string JoinFilters(const std::string& a, const std::string& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    return "(" + a + ") AND (" + b + ")";
}

// A text as a literal of a filter expression: in single quotes, a quote inside doubled.
std::string QuotedText(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

void TakeEvent(ClientDataSet::Notify& mine, const ClientDataSet::Notify& theirs) {
    if (!mine && theirs) mine = theirs;
}

} // namespace

void TCloneClientDataSet::SetUi(IDataSetUi* ui) {
    g_ui = ui;
}

const std::string& TLocalDataServer::ProviderFile(const std::string& name) const {
    const auto it = m_files.find(name);
    if (it == m_files.end()) throw DataSetError("Provider '" + name + "' not found");
    return it->second;
}

std::unique_ptr<TCloneClientDataSet> TCloneClientDataSet::CreateClone(TCloneClientDataSet& SourceDataSet,
                                                                      bool bReset, bool bKeepSettings,
                                                                      std::string name) {
    auto clone = std::make_unique<TCloneClientDataSet>(std::move(name));
    clone->DisableDataChange();
    SourceDataSet.DisableDataChange();
    clone->CloneDB(SourceDataSet, bReset, bKeepSettings, true);
    // Now a clone of the source, so this also gives back the source's extra step.
    clone->EnableDataChange();
    return clone;
}

void TCloneClientDataSet::CloneDB(TCloneClientDataSet& SourceDataSet, bool bReset, bool bKeepSettings,
                                  bool bDisableDataChange) {
    CloneCursorWithDesignSettings(SourceDataSet, false, bReset, bKeepSettings, bDisableDataChange);
}

void TCloneClientDataSet::CloneCursorWithDesignSettings(TCloneClientDataSet& SourceDataSet,
                                                        bool bKeepMasterDetailSettings, bool bReset,
                                                        bool bKeepSettings, bool bDisableDataChange) {
    if (bDisableDataChange) SourceDataSet.DisableDataChange();
    Close();
    DisableControls();
    const std::string keptIndex = IndexFieldNames();
    ClientDataSet* const keptMaster = MasterSource();
    const std::string keptMasterFields = MasterFields();
    try {
        CloneCursor(SourceDataSet, bReset, bKeepSettings);
    } catch (...) {
        EnableControls();
        if (bDisableDataChange) SourceDataSet.EnableDataChange();
        throw;
    }
    if (bReset) {
        RemoteServer = nullptr;
        ProviderName.clear();
    } else if (!bKeepSettings) {
        RemoteServer = SourceDataSet.RemoteServer;
        ProviderName = SourceDataSet.ProviderName;
    }
    DisableExport = SourceDataSet.DisableExport;
    if (bKeepMasterDetailSettings) {
        if (keptIndex != IndexFieldNames()) SetIndexFieldNames(keptIndex);
        if (keptMaster != this) SetMasterSource(keptMaster, keptMasterFields);
    }
    SetFilterCaseInsensitive(SourceDataSet.FilterCaseInsensitive());
    TakeEvent(AfterDelete, SourceDataSet.AfterDelete);
    TakeEvent(AfterPost, SourceDataSet.AfterPost);
    TakeEvent(BeforePost, SourceDataSet.BeforePost);
    TakeEvent(OnCalcFields, SourceDataSet.OnCalcFields);
    if (!OnReconcileError && SourceDataSet.OnReconcileError)
        OnReconcileError = SourceDataSet.OnReconcileError;
    for (const auto& f : Fields()) {
        const Field* src = SourceDataSet.FindField(f->FieldName());
        if (!src) continue;
        f->DisplayLabel = src->DisplayLabel;
        f->DisplayWidth = src->DisplayWidth;
        f->EditMask = src->EditMask;
        f->alignment = src->alignment;
        const bool dateTime = f->DataType() == FieldType::DateTime;
        const bool srcDateTime = src->DataType() == FieldType::DateTime;
        if (f->DataType() == FieldType::Boolean) {
            if (src->DataType() == FieldType::Boolean) f->DisplayValues = src->DisplayValues;
        } else if (f->IsNumeric() ? src->IsNumeric() : dateTime && srcDateTime) {
            f->DisplayFormat = src->DisplayFormat;
        }
        if (!f->OnGetText && src->OnGetText) f->OnGetText = src->OnGetText;
        if (!f->OnSetText && src->OnSetText) f->OnSetText = src->OnSetText;
        if (!src->Visible) f->Visible = false;
        if (src->Required) f->Required = true;
    }
    EnableControls();
    // (The clone is open: CloneCursor opened it.)
    if (bDisableDataChange) SourceDataSet.EnableDataChange();
}

void TCloneClientDataSet::CopyCurrentDataSet(TCloneClientDataSet& SourceDataSet) {
    for (const auto& f : Fields()) {
        if (f->ReadOnly || f->Calculated()) continue;
        const Field* src = SourceDataSet.FindField(f->FieldName());
        if (src) f->SetValue(src->Value());
    }
}

// ---- files, provider, updates ---------------------------------------------------------------

const std::string& TCloneClientDataSet::ProviderFile() const {
    if (!RemoteServer) throw DataSetError(Name() + ": Missing data provider or data packet");
    return RemoteServer->ProviderFile(ProviderName);
}

void TCloneClientDataSet::ReloadFromProvider() {
    auto data = ReadWholeFile(ProviderFile());
    if (!data) throw DataSetError("Cannot open file \"" + ProviderFile() + "\"");
    ReloadFromString(std::move(*data));
}

void TCloneClientDataSet::RefreshData() {
    if (!ProviderName.empty() && RemoteServer) ReloadFromProvider();
    Refresh();
}

int TCloneClientDataSet::ApplyUpdates(int MaxErrors) {
    (void)MaxErrors; // one write: it fails or not
    if (State() == DataSetState::Edit || State() == DataSetState::Insert) ClientDataSet::Post();
    if (ProviderName.empty()) return 0;
    try {
        SaveToFile(ProviderFile());
    } catch (const std::exception& e) {
        if (OnReconcileError) OnReconcileError(*this, e.what());
        return 1;
    }
    return 0;
}

void TCloneClientDataSet::CancelUpdates() {
    if (State() == DataSetState::Edit || State() == DataSetState::Insert) Cancel();
    if (!ProviderName.empty()) ReloadFromProvider();
}

void TCloneClientDataSet::DataRequest(int kind, const std::string& text) {
    if (kind != 0) throw DataSetError(Name() + ": Unknown provider request " + std::to_string(kind));
    const std::string& path = ProviderFile();
    ClientDataSet file(Name() + ".provider");
    file.LoadFromFile(path);
    file.SetFilter(text);
    file.SetFiltered(true);
    file.First();
    while (!file.Eof()) file.Delete();
    file.SetFiltered(false);
    file.SaveToFile(path);
}

void TCloneClientDataSet::OpenDB(const std::string& sFilename, bool bDisableDataChange, bool bReadOnly,
                                 bool bDisableExport) {
    if (bDisableDataChange) DisableDataChange();
    Close();
    FileName = sFilename;
    LoadFromFile(FileName, Index());
    MergeChangeLog();
    ReadOnly = bReadOnly;
    if (!DisableExport) DisableExport = bDisableExport;
    if (bDisableDataChange) EnableDataChange();
}

void TCloneClientDataSet::CloseDB(bool bDisableDataChange) {
    TCloneClientDataSet* root = GetBaseDataSet();
    if (bDisableDataChange) root->DisableDataChange();
    if (Active()) {
        if (ProviderName.empty()) {
            if (!FileName.empty()) {
                if (State() == DataSetState::Edit || State() == DataSetState::Insert) ClientDataSet::Post();
                MergeChangeLog();
                SaveToFile(FileName);
            }
        } else {
            ApplyUpdates(0);
        }
        Close();
    }
    if (bDisableDataChange) root->EnableDataChange();
}

void TCloneClientDataSet::CDSUpdate(bool bRefresh) {
    if (g_ui) g_ui->BeginWait();
    const bool disabled = !ControlsDisabled();
    if (disabled) DisableControls();
    auto restore = [&] {
        if (disabled) EnableControls();
        if (g_ui) g_ui->EndWait();
    };
    TCloneClientDataSet* root = GetBaseDataSet();
    try {
        if (root->ProviderName.empty()) {
            root->MergeChangeLog();
            root->ApplyUpdates(0);
        } else if (root->ReadOnly) {
            root->CancelUpdates();
        } else {
            try {
                if (root->ApplyUpdates(0) != 0) throw EAbort();
                if (bRefresh) {
                    const int32_t key = FieldByName("id").AsInteger();
                    root->m_nUpdateCount = 1;
                    root->RefreshData();
                    Locate("id", Variant(key));
                }
            } catch (const std::exception& e) {
                if (g_ui)
                    g_ui->ShowMessage(
                        std::string("Beim Aktualisieren der Daten ist ein Fehler aufgetreten! (") + e.what() +
                        ")");
                throw EAbort();
            }
        }
    } catch (...) {
        restore();
        throw;
    }
    restore();
}

void TCloneClientDataSet::RefreshDataSet() {
    const int32_t key = FieldByName("id").AsInteger();
    RefreshData();
    Locate("id", Variant(key));
}

void TCloneClientDataSet::RefreshRootDataSet() {
    TCloneClientDataSet* root = GetBaseDataSet();
    if (root->RemoteServer) root->RefreshData();
}

void TCloneClientDataSet::EmptyDataSet(bool bDontRefreshRootDataset, bool bUpdateDataset,
                                       const std::string& sFilterSQL) {
    DisableDataChange();
    TCloneClientDataSet* root = GetBaseDataSet();
    if (!root->RemoteServer || MasterSource()) {
        const Notify afterDelete = std::move(AfterDelete);
        AfterDelete = nullptr;
        const bool disabled = !ControlsDisabled();
        if (disabled) DisableControls();
        auto restore = [&] {
            if (disabled) EnableControls();
            AfterDelete = afterDelete;
        };
        try {
            if (!bDontRefreshRootDataset) RefreshRootDataSet();
            First();
            while (!Eof()) Delete();
        } catch (...) {
            restore();
            EnableDataChange();
            throw;
        }
        restore();
        if (bUpdateDataset) CDSUpdate(true);
    } else {
        const std::string text = !Filtered() ? std::string() : sFilterSQL.empty() ? Filter() : sFilterSQL;
        root->DataRequest(0, text);
        RefreshRootDataSet();
    }
    EnableDataChange();
}

// ---- number searches ------------------------------------------------------------------------

std::unique_ptr<TCloneClientDataSet> TCloneClientDataSet::SearchClone(const std::string& field,
                                                                      const std::string& filter) {
    auto temp = std::make_unique<TCloneClientDataSet>(Name() + ".search");
    temp->CloneDB(*this, true, false, true);
    temp->SetIndexFieldNames(field);
    temp->SetFilter(filter);
    temp->SetFiltered(true);
    return temp;
}

int TCloneClientDataSet::FreieNummerSuchen(const std::string& sReferenceField, int iLastNumber,
                                           const std::string& sFilterString) {
    // Counted in 64 bits: "last + 1" of the largest integer does not wrap.
    const int64_t last = iLastNumber < 0 ? 0 : iLastNumber;
    std::string filter = sFilterString;
    if (State() == DataSetState::Edit && !FieldByName("id").IsNull())
        filter = JoinFilters(filter, "id<>" + FieldByName("id").AsString());
    int64_t r = 0;
    std::unique_ptr<TCloneClientDataSet> temp;
    try {
        temp = SearchClone(sReferenceField, filter);
        temp->AddAggregate("MinNumber", "Min(" + sReferenceField + ")").Active = true;
        temp->AddAggregate("MaxNumber", "Max(" + sReferenceField + ")").Active = true;
        temp->AggregatesActive = true;
        const Variant minValue = temp->Aggregates()[0]->Value();
        const int64_t min = minValue.IsNull() ? 0 : minValue.AsInteger();
        if (min > 0 && last + 1 < min) {
            r = last + 1;
        } else {
            temp->First();
            temp->GotoNearest(Variant(static_cast<int64_t>(last)));
            const Field& ref = temp->FieldByName(sReferenceField);
            r = ref.AsInteger();
            if (last + 1 < r) r = last + 1;
            while (!temp->Eof() && ref.AsInteger() == r) {
                temp->Next();
                if (temp->Eof() || ref.AsInteger() != r) ++r;
            }
            if (r <= last) r = last + 1;
        }
        if (r > std::numeric_limits<int32_t>::max())
            throw DataSetError("No free number above " + std::to_string(std::numeric_limits<int32_t>::max()));
    } catch (const std::exception& e) {
        if (g_ui) g_ui->ShowError(e.what());
        if (r > std::numeric_limits<int32_t>::max()) r = 0;
    }
    if (temp) temp->CloseDB(true);
    return static_cast<int>(r);
}

bool TCloneClientDataSet::IstNummerFrei(const std::string& sReferenceField, const std::string& iNumber,
                                        int iCurrentDataSetID, const std::string& sFilterString) {
    std::string filter;
    if (State() == DataSetState::Edit) filter = "id<>" + std::to_string(iCurrentDataSetID);
    filter = JoinFilters(filter, sFilterString);
    auto temp = SearchClone(sReferenceField, filter);
    // The number is given as text; it is compared in the field's own type.
    const Field& ref = temp->FieldByName(sReferenceField);
    Variant key;
    if (ref.DataType() == FieldType::Integer || ref.DataType() == FieldType::AutoInc) {
        const auto n = ParseInt32(iNumber);
        if (!n) {
            temp->CloseDB(true);
            return true; // no integer field holds a text that is no integer
        }
        key = Variant(*n);
    } else if (ref.DataType() == FieldType::String) {
        key = Variant(iNumber); // a text reference ("303-101") is looked up as it stands
    } else {
        const auto d = ParseDouble(iNumber, '.');
        if (!d) throw DataSetError("'" + iNumber + "' is not a valid number");
        key = Variant(*d);
    }
    const bool free = temp->Lookup(sReferenceField, key, sReferenceField).IsNull();
    temp->CloseDB(true);
    return free;
}

std::string TCloneClientDataSet::FreieTarvikNummerSuchen(const std::string& sReferenceField, int iLastNumber,
                                                         const std::string& sCurrentValue,
                                                         const std::string& sFilterString) {
    std::string prefix = sCurrentValue.size() < 3 ? std::string("303") : sCurrentValue.substr(0, 3);
    prefix += '-';
    int n = iLastNumber < 0 ? 0 : iLastNumber >= 998 ? 100 : iLastNumber;
    int candidate = n + 1;
    std::string cond = sReferenceField + "=" + QuotedText(prefix + "*");
    if (State() == DataSetState::Edit) cond = JoinFilters("id<>" + FieldByName("id").AsString(), cond);
    auto temp = SearchClone(sReferenceField, JoinFilters(sFilterString, cond));
    const Field& ref = temp->FieldByName(sReferenceField);
    for (temp->First(); !temp->Eof(); temp->Next()) {
        if (ref.IsNull()) continue;
        const std::string text = ref.AsString();
        const auto k = ParseInt32(text.size() > 4 ? std::string_view(text).substr(4, 3) : std::string_view());
        if (!k) continue;
        if (*k == candidate) ++candidate;
        if (*k > candidate) break;
    }
    temp->CloseDB(true);
    return prefix + std::to_string(candidate);
}

} // namespace quorvel
