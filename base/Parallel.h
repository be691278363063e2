// Work on many files spread over every core while everything the user sees stays in file
// order: each item's preparation (decoding, encoding, reading) runs on a pool of threads ahead
// of the caller, who takes the results one by one in order and does what must stay in order
// (writing files, messages) itself.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace pelfry {

// The number of threads the system can run at once (at least 1): what --jobs defaults to.
inline unsigned DefaultJobs() {
    return std::max(1u, std::thread::hardware_concurrency());
}

// Prepares items 0 to count - 1 with `prepare` on `jobs` threads, at most a few items per
// thread ahead of the item taken last, and hands the results out in order through Take. With
// one job no thread is started: Take prepares each item itself, exactly as a plain loop would.
// An item for which `deferred` is true is also prepared by Take, once the items before it are
// done: an item that reads what an earlier one writes. `prepare` must not write anything the
// caller reads, nor touch shared state: it runs while the caller works on earlier items.
// With `held` (the bytes a result holds), no thread begins an item while the results ready and
// not yet taken hold more than `budget` bytes, so that large results the caller is slow to take
// do not pile up: the memory of the work is then the items under way (one a thread) and the
// budget.
template <typename T> class OrderedWork {
public:
    OrderedWork(size_t count, unsigned jobs, std::function<T(size_t)> prepare,
                std::function<bool(size_t)> deferred = {},
                std::function<uint64_t(const T&)> held = {}, uint64_t budget = 0)
        : prepare_(std::move(prepare)), deferred_(std::move(deferred)), held_(std::move(held)),
          budget_(budget), slots_(count), ahead_(4 * static_cast<size_t>(jobs)) {
        // No more threads than items; one item or one job needs none.
        const size_t threads = count > 1 && jobs > 1 ? std::min<size_t>(jobs, count) : 0;
        try {
            for (size_t t = 0; t < threads; ++t)
                threads_.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
            // The system gave fewer threads: those work alone, and without any Take does.
        }
    }

    // Stops the threads; items not begun are never prepared (a command that failed at one
    // file does nothing for the files after it).
    ~OrderedWork() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        space_.notify_all();
        for (std::thread& thread : threads_)
            thread.join();
    }

    OrderedWork(const OrderedWork&) = delete;
    OrderedWork& operator=(const OrderedWork&) = delete;

    // The result of item `index`, which is the item after the one taken last (0 first):
    // waits for it, or prepares it here. Raises what its preparation raised.
    T Take(size_t index) {
        Slot slot;
        if (!threads_.empty()) {
            std::unique_lock<std::mutex> lock(mutex_);
            taken_ = index + 1;
            // Idle threads are woken once half the items ahead may be begun, not for each
            // one: items that take no time to prepare would otherwise cost two switches each.
            if (idle_ > 0 && taken_ + ahead_ >= next_ + ahead_ / 2) space_.notify_all();
            waiting_ = index;
            ready_.wait(lock, [&] { return slots_[index].done; });
            waiting_ = NotWaiting;
            slot = std::move(slots_[index]);
            const bool over = readyBytes_ > budget_;
            readyBytes_ -= slot.bytes;
            if (over && readyBytes_ <= budget_ && idle_ > 0) space_.notify_all();
        }
        if (!slot.done || slot.deferred) return prepare_(index);
        if (slot.error) std::rethrow_exception(slot.error);
        return std::move(*slot.result);
    }

private:
    struct Slot {
        bool done = false;
        bool deferred = false;
        std::optional<T> result;
        std::exception_ptr error;
        uint64_t bytes = 0; // what `held` says of the result
    };
    static constexpr size_t NotWaiting = ~size_t{0};

    void Work() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (true) {
            ++idle_;
            space_.wait(lock, [&] {
                return stop_ ||
                       (next_ < slots_.size() && next_ < taken_ + ahead_ && readyBytes_ <= budget_);
            });
            --idle_;
            if (stop_) return;
            const size_t index = next_++;
            Slot& slot = slots_[index];
            if (deferred_ && deferred_(index)) {
                slot.deferred = true;
            } else {
                lock.unlock();
                std::optional<T> result;
                std::exception_ptr error;
                try {
                    result.emplace(prepare_(index));
                } catch (...) {
                    error = std::current_exception();
                }
                const uint64_t bytes = held_ && result ? held_(*result) : 0;
                lock.lock();
                slot.result = std::move(result);
                slot.error = error;
                slot.bytes = bytes;
                readyBytes_ += bytes;
            }
            slot.done = true;
            if (index == waiting_) ready_.notify_one();
        }
    }

    std::function<T(size_t)> prepare_;
    std::function<bool(size_t)> deferred_;
    std::function<uint64_t(const T&)> held_;
    uint64_t budget_;
    uint64_t readyBytes_ = 0; // held by the results done and not yet taken
    std::vector<Slot> slots_;
    size_t ahead_;
    std::mutex mutex_;
    std::condition_variable space_; // threads wait here for an item to begin
    std::condition_variable ready_; // the caller waits here for the item it takes
    size_t next_ = 0;               // the next item a thread begins
    size_t taken_ = 0;              // items the caller has taken (or is waiting for)
    size_t waiting_ = NotWaiting;   // the item the caller waits for
    size_t idle_ = 0;               // threads waiting for an item to begin
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

} // namespace pelfry
