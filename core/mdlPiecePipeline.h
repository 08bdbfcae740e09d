// SPDX-License-Identifier: MIT
#pragma once

// The one pipeline behind every long write: piece k + 1 is worked on a second thread (memory
// only) while this thread delivers piece k, so that working and writing overlap and the whole
// result is never held at once. The library's objects stay on this thread.
//
//   const PipelineEnd end = RunPiecePipeline(pieces,
//       [&](std::int64_t k) { return ReadWindow(k); },  // this thread, before piece k's work
//       [&](std::int64_t k) { Pick(k); },               // the worker: memory only
//       [&](std::int64_t k) { return Write(k); });      // this thread, in order

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <semaphore>
#include <system_error>
#include <thread>

namespace metronel {

// How a pipeline ended.
enum class PipelineEnd {
    Done,          // every piece delivered
    PrepareFailed, // a prepare returned false
    WorkFailed,    // a work raised; nothing leaves the worker, so the pipeline tells
    DeliverFailed, // a deliver returned false
};

// Number of pieces in flight: the callers' buffers hold this many slots, piece k in slot
// k % kPipelineSlots.
inline constexpr std::size_t kPipelineSlots = 2;

// Runs pieces 0..pieces - 1 through prepare (this thread), work (a worker thread) and deliver
// (this thread, in order), at most kPipelineSlots pieces in flight: prepare(k + 1) runs only
// after work(k - 1) is done, deliver(k) after work(k), work(k + 2) after deliver(k). Stops
// at the first failure and always joins the worker, whatever is raised on this thread. With
// no thread to be had, the same steps run one after the other. Raises what prepare or
// deliver raise.
template <typename Prepare, typename Work, typename Deliver>
PipelineEnd RunPiecePipeline(std::int64_t pieces, Prepare&& prepare, Work&& work,
                             Deliver&& deliver) {
    auto guardedWork = [&](std::int64_t k) {
        try {
            work(k);
            return true;
        } catch (...) {
            return false;
        }
    };
    if (pieces < 1)
        return PipelineEnd::Done;
    if (!prepare(0))
        return PipelineEnd::PrepareFailed;
    std::counting_semaphore<> ready(0), done(0);
    std::atomic<bool> stop{false};
    std::atomic<bool> workFailed{false};
    std::thread worker;
    try {
        worker = std::thread([&] {
            for (std::int64_t k = 0; k < pieces; ++k) {
                ready.acquire();
                if (stop.load(std::memory_order_relaxed))
                    return;
                if (!guardedWork(k))
                    workFailed.store(true);
                done.release();
            }
        });
    } catch (const std::system_error&) {
        for (std::int64_t k = 0; k < pieces; ++k) {
            if (k > 0 && !prepare(k))
                return PipelineEnd::PrepareFailed;
            if (!guardedWork(k))
                return PipelineEnd::WorkFailed;
            if (!deliver(k))
                return PipelineEnd::DeliverFailed;
        }
        return PipelineEnd::Done;
    }
    // Lets the worker go and waits for it however this ends, a raised error included.
    struct Join {
        std::thread& worker;
        std::atomic<bool>& stop;
        std::counting_semaphore<>& ready;
        ~Join() {
            stop.store(true, std::memory_order_relaxed);
            ready.release(); // after stop: the worker sees it once it wakes
            worker.join();
        }
    } join{worker, stop, ready};
    ready.release();
    for (std::int64_t k = 0; k < pieces; ++k) {
        // Piece k + 1 is prepared while the worker works on piece k: its slot held piece
        // k - 1, which was delivered last time round.
        if (k + 1 < pieces) {
            if (!prepare(k + 1))
                return PipelineEnd::PrepareFailed;
            ready.release();
        }
        done.acquire();
        if (workFailed.load())
            return PipelineEnd::WorkFailed;
        if (!deliver(k))
            return PipelineEnd::DeliverFailed;
    }
    return PipelineEnd::Done;
}

} // namespace metronel
