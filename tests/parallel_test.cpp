// The chunk workers: which failure is raised, and that a failure stops the work
// whose result can no longer matter while earlier work runs to its end.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "errors.h"
#include "parallel.h"
#include "zblocks.h"

namespace {

// Waits until done() holds, for at most ten seconds; false on time-out.
template <class Done>
bool WaitFor(Done done) {
    for (int i = 0; i < 10000; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

std::string RaisedBy(const std::vector<int>& order, const std::function<void(int, const std::function<bool()>&)>& job) {
    try {
        qm::RunJobs(order, [&](int i, const auto& stop) { job(i, stop); });
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

TEST(RunJobs, TheLowestNumberedFailureIsRaisedWhateverTheTiming) {
    for (const std::vector<int>& order : {std::vector<int>{0, 1, 2, 3}, {3, 2, 1, 0}, {2, 0, 3, 1}}) {
        EXPECT_EQ(RaisedBy(order, [](int i, const auto&) { if (i == 1 || i == 3) throw std::runtime_error("job " + std::to_string(i)); }),
                  "job 1");
        EXPECT_EQ(RaisedBy(order, [](int, const auto&) {}), "");
    }
}

TEST(RunJobs, AFailureStopsLaterJobsButNotEarlierOnes) {
    if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "needs two cores to run jobs side by side";
    // Job 1 starts first and runs until told to stop; job 0 fails meanwhile.
    std::atomic<bool> started{false}, stopped{false};
    EXPECT_EQ(RaisedBy({1, 0}, [&](int i, const auto& stop) {
                  if (i == 1) {
                      started = true;
                      stopped = WaitFor(stop);
                      throw std::runtime_error("job 1 gave up");
                  }
                  WaitFor([&] { return started.load(); });
                  throw std::runtime_error("job 0");
              }),
              "job 0");
    EXPECT_TRUE(stopped) << "the later job was not told to stop";

    // Job 1 fails while job 0 still runs: job 0 is never told to stop, and its
    // own, earlier failure is the one raised.
    std::atomic<bool> failed{false}, toldToStop{false};
    EXPECT_EQ(RaisedBy({0, 1}, [&](int i, const auto& stop) {
                  if (i == 1) {
                      failed = true;
                      throw std::runtime_error("job 1");
                  }
                  WaitFor([&] { return failed.load(); });
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
                  toldToStop = stop();
                  throw std::runtime_error("job 0");
              }),
              "job 0");
    EXPECT_FALSE(toldToStop);
}

TEST(DecompressBlock, AStopTestEndsALongInflate) {
    // 64 MiB of zeros packs into some 64 KiB; once stopped, the inflate
    // ends long before it has produced them.
    const std::vector<uint8_t> zeros(size_t{64} << 20);
    const auto packed = qm::CompressBlock(zeros.data(), zeros.size());
    int asked = 0;
    EXPECT_THROW(qm::DecompressBlock(packed.data(), packed.size(), 0, "in a test", [&] { return ++asked > 2; }),
                 qm::EDecompressionError);
    EXPECT_LE(asked, 4) << "the stop test was asked after it had answered";
    EXPECT_EQ(qm::DecompressBlock(packed.data(), packed.size(), 0, "in a test", [] { return false; }).size(), zeros.size());
}

} // namespace
