// Runs a few independent jobs on the machine's cores: each worker takes the next
// job in the given order (largest first gives the shortest finish), the calling
// thread works too, and once all are done the error of the lowest-numbered job
// that failed is raised, so the report does not depend on timing.
//
// Once a job has failed, jobs with higher numbers cannot change what is raised:
// those not yet started are skipped, and those running are told through the
// stop test they are given (a long inflate polls it and gives up). Jobs with
// lower numbers run to their end, since one of them may hold an earlier fault.
#pragma once

#include <algorithm>
#include <atomic>
#include <climits>
#include <exception>
#include <thread>
#include <vector>

namespace qm {

// job(index, stop): stop() turns true when the job's result can no longer matter.
// With sideBySide false everything runs on the calling thread (for work too
// small to be worth starting a thread for).
template <class Job>
void RunJobs(const std::vector<int>& order, Job job, bool sideBySide = true) {
    std::atomic<size_t> next{0};
    std::atomic<int> firstFailed{INT_MAX};
    std::vector<std::exception_ptr> errors(order.empty() ? 0 : size_t(*std::max_element(order.begin(), order.end())) + 1);
    auto work = [&] {
        for (size_t k; (k = next.fetch_add(1)) < order.size();) {
            const int index = order[k];
            if (index > firstFailed.load()) continue;
            auto stop = [&firstFailed, index] { return firstFailed.load(std::memory_order_relaxed) < index; };
            try {
                job(index, stop);
            } catch (...) {
                errors[size_t(index)] = std::current_exception();
                int seen = firstFailed.load();
                while (index < seen && !firstFailed.compare_exchange_weak(seen, index)) {
                }
            }
        }
    };
    const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t helpers = sideBySide ? std::min(cores, order.size()) - 1 : 0;
    std::vector<std::thread> threads;
    for (size_t i = 0; i < helpers; ++i) {
        try {
            threads.emplace_back(work);
        } catch (...) {
            break;  // no thread (or no memory for one) to be had: the others share the work
        }
    }
    work();
    for (std::thread& t : threads) t.join();
    for (const std::exception_ptr& e : errors)
        if (e) std::rethrow_exception(e);
}

// Work below this many bytes in all is done on the calling thread: starting a
// thread costs more than inflating or deflating a few hundred KiB.
constexpr size_t SideBySideBytes = size_t{1} << 20;

inline bool WorthThreads(const std::vector<size_t>& sizes) {
    size_t total = 0;
    for (size_t s : sizes) total += std::min(s, SideBySideBytes);
    return total >= SideBySideBytes;
}

// The indexes 0..sizes.size()-1, largest size first.
inline std::vector<int> LargestFirst(const std::vector<size_t>& sizes) {
    std::vector<int> order(sizes.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = int(i);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return sizes[size_t(a)] > sizes[size_t(b)]; });
    return order;
}

} // namespace qm
