// SPDX-License-Identifier: GPL-3.0-or-later
// A few lookup tables kept between calls, most recently used first, shared
// by the passes that use them. Used by both correction methods' kernels.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>

namespace lumivane {

template <typename Table>
class KeptTables {
public:
    explicit KeptTables(std::size_t kept) : kept_(kept) {}

    // The kept table `matches` accepts; otherwise a table passed through
    // `reset` (the least recently used one's storage when no pass holds it,
    // since its pages are already mapped, else a new one). `prepare` then
    // runs on it; all under the lock, so concurrent callers see it ready.
    template <typename Matches, typename Reset, typename Prepare>
    std::shared_ptr<const Table> acquire(const Matches& matches, const Reset& reset, const Prepare& prepare)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::shared_ptr<Table> table;
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (matches(**it)) {
                table = *it;
                entries_.erase(it);
                break;
            }
        }
        if (!table) {
            if (entries_.size() >= kept_ && entries_.back().use_count() == 1) {
                table = entries_.back();
                entries_.pop_back();
            } else {
                table = std::make_shared<Table>();
            }
            reset(*table);
        }
        entries_.push_front(table);
        while (entries_.size() > kept_)
            entries_.pop_back();
        prepare(*table);
        return table;
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.clear();
    }

private:
    const std::size_t kept_;
    std::mutex mutex_;
    std::list<std::shared_ptr<Table>> entries_;
};

} // namespace lumivane
