#pragma once

#include <memory>
#include <mutex>
#include <utility>

namespace vocalith {

// The one failed job a provider engine keeps, with what it had done, so that it can go
// on from where it failed. Safe from any thread.
template <typename Job> class KeptJob final {
public:
    void keep(std::shared_ptr<Job> job) {
        const std::lock_guard lock(m_mutex);
        m_job = std::move(job);
    }
    std::shared_ptr<Job> take() {
        const std::lock_guard lock(m_mutex);
        return std::exchange(m_job, nullptr);
    }
    bool has() const {
        const std::lock_guard lock(m_mutex);
        return m_job != nullptr;
    }
    // The job's own clean-up (its work files) runs outside the lock.
    void discard() { const std::shared_ptr<Job> gone = take(); }

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<Job> m_job;
};

} // namespace vocalith
