#include "desk/core/savewriter.h"

#include <exception>
#include <stdexcept>
#include <sys/resource.h>
#include <unistd.h>

namespace quorvel {

namespace {
constexpr int kWriterNice = 10;
} // namespace

SaveWriter::~SaveWriter() {
    if (m_thread.joinable()) m_thread.join();
}

void SaveWriter::Start(std::vector<Step> steps, std::function<void()> ended) {
    if (Started()) throw std::logic_error("A save is still being written");
    m_steps = std::move(steps);
    m_errors.clear();
    m_ended.store(false, std::memory_order_relaxed);
    m_thread = std::thread([this, ended = std::move(ended)] {
        // The writer yields the processor to the thread that answers the EAs: on a busy
        // machine they would otherwise share it evenly while a long list is formatted. On
        // Linux the nice value is the thread's own.
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kWriterNice);
        std::vector<std::string> errors;
        for (const Step& step : m_steps) {
            try {
                step();
            } catch (const std::exception& e) {
                errors.emplace_back(e.what());
            } catch (...) {
                errors.emplace_back("Unknown error");
            }
        }
        m_errors = std::move(errors);
        m_ended.store(true, std::memory_order_release);
        if (ended) ended();
    });
}

std::vector<std::string> SaveWriter::Collect() {
    if (!m_thread.joinable()) return {};
    m_thread.join();
    m_steps.clear();
    return std::move(m_errors);
}

} // namespace quorvel
