// Runs a few independent jobs on the machine's cores: each worker takes the next
// job in the given order (largest first gives the shortest finish), the calling
// thread works too, and once all are done the error of the lowest-numbered job
// that failed is raised, so the report does not depend on timing.
#pragma once

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>
#include <vector>

namespace qm {

template <class Job>
void RunJobs(const std::vector<int>& order, Job job) {
    std::atomic<size_t> next{0};
    std::vector<std::exception_ptr> errors(order.empty() ? 0 : size_t(*std::max_element(order.begin(), order.end())) + 1);
    auto work = [&] {
        for (size_t k; (k = next.fetch_add(1)) < order.size();) {
            try {
                job(order[k]);
            } catch (...) {
                errors[size_t(order[k])] = std::current_exception();
            }
        }
    };
    const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t helpers = std::min(cores, order.size()) - 1;
    std::vector<std::thread> threads;
    for (size_t i = 0; i < helpers; ++i) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // no more threads to be had: the others share the work
        }
    }
    work();
    for (std::thread& t : threads) t.join();
    for (const std::exception_ptr& e : errors)
        if (e) std::rethrow_exception(e);
}

// The indexes 0..sizes.size()-1, largest size first.
inline std::vector<int> LargestFirst(const std::vector<size_t>& sizes) {
    std::vector<int> order(sizes.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = int(i);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return sizes[size_t(a)] > sizes[size_t(b)]; });
    return order;
}

} // namespace qm
