// SPDX-License-Identifier: MIT
// The parallel batch and its report.
#include "cliBatch.h"

#include "mdlFileName.h"
#include "mdlSafeWrite.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace metronel::cli {

namespace {

constexpr int kBarWidth = 30;

// A reason is one line: a line break in a name or a text becomes a space, so that a script
// reading the errors line by line sees one failure per line.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return text;
}

class Report {
public:
    Report(std::size_t total, const char* verb)
        : m_Total(total), m_Verb(verb), m_Terminal(::isatty(STDERR_FILENO) == 1) {}

    void Finished(const QString& input, const FileOutcome& outcome) {
        std::lock_guard lock(m_Mutex);
        ++m_Finished;
        const std::string name = NameBytes(input);
        if (m_Terminal)
            std::fputs("\r\033[K", stderr);
        if (!outcome.warning.empty()) {
            std::fflush(stdout);
            std::fprintf(stderr, "metronel-cli: %s: warning: %s\n", OneLine(name).c_str(),
                         OneLine(outcome.warning).c_str());
        }
        if (!outcome.error.empty()) {
            ++m_Failed;
            std::fflush(stdout);
            std::fprintf(stderr, "metronel-cli: %s: %s\n", OneLine(name).c_str(),
                         OneLine(outcome.error).c_str());
        } else if (!m_Terminal) {
            std::printf("%s: %s\n", name.c_str(), outcome.done.c_str());
            std::fflush(stdout);
        }
        if (m_Terminal)
            DrawBar();
    }

    void Summary() {
        if (m_Terminal)
            std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        std::printf("%zu %s: %zu %s, %zu failed\n", m_Total, m_Total == 1 ? "file" : "files",
                    m_Total - m_Failed, m_Verb, m_Failed);
        std::fflush(stdout);
    }

    bool AllSucceeded() const { return m_Failed == 0; }

private:
    void DrawBar() {
        const auto filled =
            static_cast<int>(m_Finished * kBarWidth / std::max<std::size_t>(m_Total, 1));
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.resize(kBarWidth, ' ');
        std::fprintf(stderr, "[%s] %zu/%zu", bar.c_str(), m_Finished, m_Total);
        std::fflush(stderr);
    }

    std::mutex m_Mutex;
    std::size_t m_Total = 0;
    std::size_t m_Finished = 0;
    std::size_t m_Failed = 0;
    const char* m_Verb;
    bool m_Terminal = false;
};

// Lets work start only while what is running and it fit in the limit.
class MemoryBudget {
public:
    MemoryBudget() {
        const long pages = ::sysconf(_SC_PHYS_PAGES);
        const long pageSize = ::sysconf(_SC_PAGESIZE);
        if (pages > 0 && pageSize > 0)
            m_Limit = std::int64_t{pages} * pageSize / 4;
    }
    void Acquire(std::int64_t bytes) {
        std::unique_lock lock(m_Mutex);
        m_Changed.wait(lock, [&] { return m_InUse == 0 || m_InUse + bytes <= m_Limit; });
        m_InUse += bytes;
    }
    void Release(std::int64_t bytes) {
        {
            std::lock_guard lock(m_Mutex);
            m_InUse -= bytes;
        }
        m_Changed.notify_all();
    }

private:
    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    std::int64_t m_InUse = 0;
    std::int64_t m_Limit = std::int64_t{1} << 30;
};

} // namespace

std::string NameBytes(const QString& name) {
    return NativeName(name).toStdString();
}

void PrintError(const std::string& text) {
    std::fflush(stdout);
    std::fprintf(stderr, "metronel-cli: %s\n", OneLine(text).c_str());
}

void RemoveTemporariesOnSignals() {
    // The signals wait, blocked in every thread, for one thread of their own, which may take
    // locks and remove files as no handler may.
    sigset_t stopping;
    sigemptyset(&stopping);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stopping, signal);
    if (::pthread_sigmask(SIG_BLOCK, &stopping, nullptr) != 0)
        return;
    std::thread([stopping] {
        int signal = 0;
        while (::sigwait(&stopping, &signal) != 0) {
        }
        ExitRemovingTemporaries(128 + signal);
    }).detach();
}

std::string Reason(const WaveOutResult& failure) {
    if (failure.systemError == EEXIST && failure.reason.empty())
        return "exists (use --force to replace it)";
    if (failure.systemError == EISDIR && failure.reason.empty())
        return "is a directory";
    return failure.OneLine();
}

int RunBatch(const std::vector<BatchItem>& items, int jobs, const char* verb) {
    Report report(items.size(), verb);
    std::atomic<std::size_t> next{0};
    MemoryBudget budget;
    auto worker = [&] {
        chunkwell::MediaSystemLicence msl; // this thread's own
        for (std::size_t i = next++; i < items.size(); i = next++) {
            budget.Acquire(items[i].memory);
            FileOutcome outcome;
            try {
                outcome = items[i].work(msl);
            } catch (const std::bad_alloc&) {
                outcome.error = "not enough memory";
            } catch (const std::exception& error) {
                outcome.error = error.what();
            }
            budget.Release(items[i].memory);
            report.Finished(items[i].input, outcome);
        }
    };
    unsigned threads = jobs > 0 ? static_cast<unsigned>(jobs)
                                : 4 * std::max(std::thread::hardware_concurrency(), 1u);
    threads = std::clamp<unsigned>(threads, 1,
                                   static_cast<unsigned>(std::max<std::size_t>(items.size(), 1)));
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) {
        try {
            pool.emplace_back(worker);
        } catch (const std::system_error&) {
            break; // fewer threads do the same work
        }
    }
    worker();
    for (std::thread& thread : pool)
        thread.join();
    report.Summary();
    return report.AllSucceeded() ? 0 : 1;
}

} // namespace metronel::cli
