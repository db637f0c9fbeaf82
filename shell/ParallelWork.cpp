#include "shell/ParallelWork.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// A thread costs more than a few quick calls: short lists stay on fewer.
constexpr size_t kItemsPerThread = 64;

}  // namespace

size_t ForEachInParallel(size_t count, size_t threads, const std::function<bool(size_t)>& work) {
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex guard;
    size_t first = count;
    const auto run = [&] {
        for (;;) {
            if (stop) return;
            const size_t i = next++;
            if (i >= count) return;
            if (work(i)) continue;
            std::lock_guard<std::mutex> lock(guard);
            first = std::min(first, i);
            stop = true;
        }
    };
    const size_t used = std::max<size_t>(1, std::min(threads, count / kItemsPerThread + 1));
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < used; ++t) helpers.emplace_back(run);
    run();
    for (auto& helper : helpers) helper.join();
    return first;
}
