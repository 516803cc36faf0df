// The state files: the saves, the background auto-save, Data.dat, the order list's journal
// and the notes on files set aside.
#include "desk/core/statefiles.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <system_error>

#include "platform/files.h"

namespace quorvel {

DeskPaths DeskPaths::In(const std::string& configDir, const std::string& dataDir) {
    auto in = [](const std::string& dir, const char* name) {
        return dir.empty() ? std::string(name) : dir + "/" + name;
    };
    return {in(configDir, "config.ini"), in(dataDir, "Data.dat"), in(dataDir, "Orderlist.xml"),
            in(dataDir, "Notifications.txt"), in(dataDir, "Orderlist.journal")};
}

void StateFiles::OpenOrderList() {
    m_creating = true;
    struct Created {
        bool& flag;
        ~Created() { flag = false; }
    } created{m_creating};
    m_ctx.orders.OpenOrderList();
    for (const std::string& note : m_ctx.orders.TakeJournalNotes()) NoteFileProblem(note);
    const std::string error = m_ctx.orders.TakeJournalError();
    if (!error.empty()) JournalFailed(error);
}

void StateFiles::ShutDownSave() {
    SyncJournal();
    try {
        SaveData();
    } catch (...) {
        m_bFinalSaveFailed = true;
        throw;
    }
}

void StateFiles::CommitJournal(bool boxLater) {
    OrderJournal* journal = m_ctx.orders.Journal();
    if (!journal || !journal->Pending()) return;
    try {
        journal->Write();
    } catch (const std::exception& e) {
        JournalFailed(e.what(), boxLater);
    }
}

void StateFiles::SyncJournal() {
    OrderJournal* journal = m_ctx.orders.Journal();
    if (!journal || journal->Broken()) return;
    try {
        journal->Commit();
    } catch (const std::exception& e) {
        JournalFailed(e.what());
    }
}

uint64_t StateFiles::JournalTicket() {
    CommitJournal(true);
    OrderJournal* journal = m_ctx.orders.Journal();
    return journal ? journal->Written() : 0;
}

uint64_t StateFiles::JournalDurable() {
    OrderJournal* journal = m_ctx.orders.Journal();
    if (!journal) return UINT64_MAX;
    if (journal->Broken()) {
        JournalFailed(journal->LastError(), true);
        return UINT64_MAX;
    }
    return journal->Durable();
}

void StateFiles::JournalFailed(const std::string& error, bool boxLater) {
    if (m_bJournalFailed) return;
    m_bJournalFailed = true;
    m_ctx.controls.SetChecked(Ctl::chkbStandby, true);
    const std::string text = "The order list's journal cannot be written (" + error +
                             "). Standby is set; changes from now on are kept in memory only, until "
                             "Orderlist.xml is saved.";
    if (m_creating) {
        NoteFileProblem(text); // stderr now; a notification once the window exists
    } else {
        std::fprintf(stderr, "%s\n", text.c_str());
        m_ctx.view.ShowNotification(text);
    }
    if (boxLater)
        m_journalBox = StopBoxText(text);
    else
        m_ctx.view.ShowStopBox(StopBoxText(text));
}

void StateFiles::SaveData() {
    std::string errors;
    auto run = [&errors](const auto& save) {
        try {
            save();
        } catch (const std::exception& e) {
            if (!errors.empty()) errors += '\n';
            errors += StopBoxText(e.what()); // each line a sentence of its own
        }
    };
    if (m_bPricesLoaded) run([this] { SavePriceSnapshot(); });
    run([this] { m_ctx.orders.SaveOrderList(); });
    run([this] { m_ctx.view.SaveNotifications(); });
    // Reported like any error of the handler that saved: the stop box.
    if (!errors.empty()) throw FileError(errors);
}

namespace {

// Beyond these no quote goes: a price or spread of 10^12 points, a time after the year 9999
// or before the year 1. Such a value in Data.dat is damage and counts as missing.
constexpr int64_t kMaxStoredPoints = 1'000'000'000'000;
constexpr TDateTime kFirstTime = -693593.0;  // 0001-01-01
constexpr TDateTime kBeyondTime = 2958466.0; // 10000-01-01

void ClearImpossibleValues(PriceStore& p) {
    auto points = [](EAArray<int64_t>& a) {
        for (int64_t& v : a)
            if (v > kMaxStoredPoints || v < -kMaxStoredPoints) v = kNoPoints;
    };
    auto times = [](EAArray<TDateTime>& a) {
        for (TDateTime& v : a)
            if (!std::isfinite(v) || v < kFirstTime || v >= kBeyondTime) v = kNoTime;
    };
    points(p.Spread);
    points(p.Bid);
    points(p.Ask);
    points(p.Min);
    points(p.MinBid);
    points(p.MinAsk);
    times(p.Time);
    times(p.TimeMin);
}

} // namespace

void StateFiles::NoteFileProblem(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    m_fileNotes.push_back(text);
}

void StateFiles::AutoSave() {
    if (m_saveWriter.Started()) {
        m_autoSaveQueued = true;
        return;
    }
    std::vector<SaveWriter::Step> steps;
    // As SavePriceSnapshot: a file that could not be set aside is never overwritten.
    if (m_bPricesLoaded && !m_bPricesFileKept)
        steps.push_back(
            [path = m_ctx.paths.dataDat, bytes = m_ctx.prices.Serialize()] { WriteFileAtomic(path, bytes); });
    m_savingList = m_ctx.orders.SnapshotForSave();
    m_savedList.reset();
    if (m_savingList) {
        // The journal's changes so far are in the snapshot; those that follow stay in it.
        CommitJournal();
        OrderJournal* journal = m_ctx.orders.Journal();
        auto saved = std::make_shared<SavedList>();
        if (journal) saved->mark = journal->TakeMark();
        m_savedList = saved;
        steps.push_back([list = m_savingList.get(), path = m_ctx.orders.Path(), journal, saved] {
            saved->id = WriteOrderList(*list, path, journal, saved->mark);
            saved->written = true;
        });
    }
    std::function<void()> notifications = m_ctx.view.NotificationsWriter();
    m_saveNotificationsHere = !notifications;
    if (notifications) steps.push_back(std::move(notifications));
    try {
        m_saveWriter.Start(std::move(steps), OnAutoSaveEnded);
    } catch (const std::system_error&) {
        // No thread to be had: this thread writes, as the shut-down save does.
        m_savingList.reset();
        m_savedList.reset();
        m_saveNotificationsHere = false;
        SaveData();
    }
}

void StateFiles::FinishAutoSave(bool wait) {
    if (!m_saveWriter.Started() || (!wait && !m_saveWriter.Ended())) return;
    std::string errors;
    auto note = [&errors](const std::string& error) {
        if (!errors.empty()) errors += '\n';
        errors += StopBoxText(error); // each line a sentence of its own, as SaveData's
    };
    for (const std::string& e : m_saveWriter.Collect()) note(e);
    m_savingList.reset();
    // Orderlist.xml now holds what the journal had up to the snapshot: the journal starts anew.
    if (const std::shared_ptr<SavedList> saved = std::move(m_savedList); saved && saved->written) {
        if (OrderJournal* journal = m_ctx.orders.Journal()) {
            try {
                journal->Restart(saved->mark, saved->id);
            } catch (const std::exception& e) {
                JournalFailed(e.what());
            }
        }
    }
    if (OrderJournal* journal = m_ctx.orders.Journal(); journal && journal->Broken())
        JournalFailed(journal->LastError());
    if (m_saveNotificationsHere) {
        m_saveNotificationsHere = false;
        try {
            m_ctx.view.SaveNotifications();
        } catch (const std::exception& e) {
            note(e.what());
        }
    }
    const bool again = m_autoSaveQueued && !wait;
    m_autoSaveQueued = false;
    if (again) {
        try {
            AutoSave();
        } catch (const std::exception& e) {
            note(e.what());
        }
    }
    if (!errors.empty()) throw FileError(errors);
}

bool StateFiles::LoadPriceSnapshot() {
    const std::string& path = m_ctx.paths.dataDat;
    // One byte more than the layout tells a longer file from a whole one.
    FileRead r = ReadStateFile(path, kDataDatSize + 1);
    auto setAside = [&](const std::string& what) {
        const std::string aside = SetFileAside(path);
        if (aside.empty()) {
            m_bPricesFileKept = true;
            NoteFileProblem(path + " " + what +
                            " It could not be set aside, so it is left as it is and not saved.");
        } else {
            NoteFileProblem(path + " " + what + " It was set aside as " + aside + ".");
        }
    };
    switch (r.status) {
    case ReadStatus::Missing:
        return false;
    case ReadStatus::NotRegular:
        setAside("is not a regular file and was not read; the desk starts without it.");
        return false;
    case ReadStatus::Unreadable:
        setAside("cannot be read; the desk starts without it.");
        return false;
    case ReadStatus::Ok:
        break;
    }
    m_ctx.prices.Deserialize(r.bytes);
    ClearImpossibleValues(m_ctx.prices);
    if (r.size != kDataDatSize)
        setAside("holds " + std::to_string(r.size) + " bytes instead of " + std::to_string(kDataDatSize) +
                 "; what it holds was read.");
    return true;
}

void StateFiles::SavePriceSnapshot() {
    if (m_bPricesFileKept) return; // a file that could not be set aside is never overwritten
    WriteFileAtomic(m_ctx.paths.dataDat, m_ctx.prices.Serialize());
}

std::vector<std::string> StateFiles::RemoveLeftoverTempFiles() {
    std::vector<std::string> removed;
    for (const std::string* p : {&m_ctx.paths.configIni, &m_ctx.paths.dataDat, &m_ctx.paths.orderList,
                                 &m_ctx.paths.notifications, &m_ctx.paths.orderJournal})
        if (!p->empty())
            for (std::string& name : quorvel::RemoveLeftoverTempFiles(*p)) removed.push_back(std::move(name));
    return removed;
}

} // namespace quorvel
