#pragma once
// The state files: Data.dat (the price store's snapshot), Orderlist.xml with its journal and
// the notification list; the saves, the background auto-save and its snapshot, the notes on
// files set aside or not read, and the leftovers of saves that were killed.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "desk/core/controls.h"
#include "desk/core/orderlist.h"
#include "desk/core/pricestore.h"
#include "desk/core/savewriter.h"
#include "desk/core/view.h"

namespace quorvel {

// Where the state files live; the program block decides. There are no defaults: a desk
// never writes into a folder nobody named.
struct DeskPaths {
    std::string configIni;
    std::string dataDat;
    std::string orderList;
    std::string notifications;
    // Orderlist.journal beside Orderlist.xml; empty: no journal.
    std::string orderJournal;
    // config.ini in `configDir`, the other files in `dataDir` (an empty `dataDir` gives their
    // bare names, relative to the current directory).
    static DeskPaths In(const std::string& configDir, const std::string& dataDir);
};

// What the state files may touch: the order list, the price store, the "Standby" box, the
// view (notifications, the stop box) and the paths.
struct FilesContext {
    OrderList& orders;
    PriceStore& prices;
    IDeskControls& controls;
    IDeskView& view;
    const DeskPaths& paths;
};

class StateFiles {
public:
    explicit StateFiles(FilesContext ctx) : m_ctx(ctx) {}

    // Data.dat, Orderlist.xml, the notification list: each save runs whatever became of the
    // ones before it; the errors of all that failed are thrown together afterwards, one line each.
    void SaveData();
    // The shut-down save: the journal to disk, then SaveData. A failure marks the data at risk.
    void ShutDownSave();

    // ---- auto-save ---------------------------------------------------------------------------
    // The auto-save tick: the files SaveData writes, in its order, written on a thread of their
    // own. Here only what they hold is taken: the price store's bytes, a snapshot of the order
    // list, a copy of the notification list. While a save is still being written, the tick is
    // queued (once): the next save starts when that one has ended, from what is there then.
    void AutoSave();
    // Once the background save has ended (wait: waits for it): its errors are thrown together,
    // one line each, as FileError, after a queued save was started. wait also drops a queued
    // save: the shut-down save follows.
    void FinishAutoSave(bool wait = false);
    bool AutoSaveRunning() const { return m_saveWriter.Started(); }
    // Called on the writer's thread when a background save has ended; the main window posts
    // FinishAutoSave to its loop from here.
    std::function<void()> OnAutoSaveEnded;

    // ---- Data.dat ------------------------------------------------------------------------------
    // Data.dat reader: false when there is no file to read. A file that is not regular, or
    // cannot be read, is set aside and not read; one whose size is not 13,600 bytes is read as
    // far as it holds and then set aside. Values no quote can produce are taken as missing.
    // When a file that should go aside cannot be moved, m_bPricesFileKept stops every save.
    bool LoadPriceSnapshot();
    // Data.dat writer. Throws FileError when the file cannot be replaced.
    void SavePriceSnapshot();
    // Whether the snapshot was loaded; what was never loaded is never saved.
    bool m_bPricesLoaded = false;
    bool m_bPricesFileKept = false;

    // ---- the order list and its journal -------------------------------------------------------
    // Opens Orderlist.xml and replays its journal; what the journal had to say goes into the
    // file notes, a journal that cannot be written to JournalFailed.
    void OpenOrderList();
    // Writes the changes of the order list made since the last call, in one write; the
    // journal's flusher takes them to disk. Nothing when there are none. When the journal
    // cannot be written: JournalFailed.
    // boxLater: where no box may open (the link's batch end), the stop box's text is kept for
    // TakeJournalBox instead.
    void CommitJournal(bool boxLater = false);
    // As CommitJournal, and waits until the changes are on disk (the shut-down).
    void SyncJournal();
    // For the link: the position that covers every change so far (written first), and the
    // position on disk. Once the journal has failed, or without one, everything counts as on
    // disk (nothing can become more so): the held answers go out. A failure found here is
    // told as by JournalFailed, its box kept for TakeJournalBox.
    uint64_t JournalTicket();
    uint64_t JournalDurable();
    // The journal cannot be written: "Standby" is set, and the operator is told at once (a
    // notification, stderr and the stop box). Once per run; the run then ends non-zero.
    void JournalFailed(const std::string& error, bool boxLater = false);
    // The stop box text a commit kept (empty: none).
    std::string TakeJournalBox() { return std::move(m_journalBox); }
    // What the run could not keep: the journal failed, or the shut-down save did. The program
    // ends non-zero then.
    bool DataAtRisk() const { return m_bJournalFailed || m_bFinalSaveFailed; }

    // ---- notes -----------------------------------------------------------------------------------
    // What the operator must learn about a state file (one set aside, one not read): written
    // to stderr at once, and kept until the window takes the texts to show them.
    void NoteFileProblem(const std::string& text);
    std::vector<std::string> TakeFileNotes() { return std::move(m_fileNotes); }
    const std::vector<std::string>& FileNotes() const { return m_fileNotes; }

    // Removes what saves killed in the middle left beside the state files. Only while this
    // desk holds the link, so that no other desk of this user can be saving them.
    std::vector<std::string> RemoveLeftoverTempFiles();

private:
    FilesContext m_ctx;
    std::vector<std::string> m_fileNotes;
    bool m_bJournalFailed = false;
    bool m_bFinalSaveFailed = false;
    std::string m_journalBox;
    // While the order list is opened at start-up: the window does not exist yet.
    bool m_creating = false;

    // The background save: the list snapshot it writes (dropped on this thread only), a tick
    // that came while it ran, the notification list to be saved here when the view has no
    // writer for another thread. The writer goes first when the files do: it waits.
    std::unique_ptr<TableSnapshot> m_savingList;
    // What the background save wrote of the list, for the journal's new start.
    struct SavedList {
        OrderJournal::Mark mark;
        ListFileId id;
        bool written = false; // set on the writer's thread before it ends
    };
    std::shared_ptr<SavedList> m_savedList;
    bool m_autoSaveQueued = false;
    bool m_saveNotificationsHere = false;
    SaveWriter m_saveWriter;
};

} // namespace quorvel
