// Long work on a worker thread while the window thread keeps answering: listing,
// copying, verifying, deleting and checking trees can take many seconds, and a window
// that does not answer for a few of them is called hung and offered to be ended.
#pragma once

#include "forms/Form.h"

#include <exception>
#include <thread>

// Runs `job` on a thread of its own and returns its result. Meanwhile the calling
// (window) thread runs `wait`(done), which must handle messages and return only once
// `done` is set: a modal progress display, or a plain message loop. An exception of
// the job is thrown again here.
template <typename Job, typename Wait>
auto RunOnWorker(Job job, Wait wait) -> decltype(job()) {
    decltype(job()) result{};
    std::exception_ptr failure;
    KernelHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!done) return job();  // nothing to wait on: the work is still done, only here
    std::thread worker([&] {
        try {
            result = job();
        } catch (...) {
            failure = std::current_exception();
        }
        SetEvent(done.Get());
    });
    wait(done.Get());
    // Whatever `wait` did, the work is not cut short.
    forms::application::HandleMessagesUntil(done.Get());
    worker.join();
    if (failure) std::rethrow_exception(failure);
    return result;
}

template <typename Job>
auto RunOnWorker(Job job) -> decltype(job()) {
    return RunOnWorker(job, [](HANDLE) {});
}
