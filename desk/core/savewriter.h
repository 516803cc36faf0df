#pragma once
// Writes the state files of one save on a thread of its own, so that the thread that answers
// the EAs does not wait for the disk. The owner takes everything a step writes before it
// starts (a snapshot, a copy), so a step reads nothing that the owner's thread changes.
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace quorvel {

class SaveWriter {
public:
    // One file's write; throws (FileError) when the file cannot be written.
    using Step = std::function<void()>;

    SaveWriter() = default;
    SaveWriter(const SaveWriter&) = delete;
    SaveWriter& operator=(const SaveWriter&) = delete;
    // Waits for a save that is still being written.
    ~SaveWriter();

    // Runs the steps in this order on a new thread; every step runs, whatever became of the
    // ones before it. `ended` (may be empty) is called on that thread once all have run.
    // Only when nothing is started: a second writer never runs beside the first.
    void Start(std::vector<Step> steps, std::function<void()> ended);
    // A save was started and not yet collected.
    bool Started() const { return m_thread.joinable(); }
    // Its steps have all run.
    bool Ended() const { return m_ended.load(std::memory_order_acquire); }
    // Waits for the save to end and returns the errors of the steps that failed, in their
    // order (none when every file was written). The steps are destroyed here, on the caller's
    // thread.
    std::vector<std::string> Collect();

private:
    std::thread m_thread;
    std::atomic<bool> m_ended{false};
    std::vector<Step> m_steps;
    std::vector<std::string> m_errors; // written by the thread before m_ended
};

} // namespace quorvel
