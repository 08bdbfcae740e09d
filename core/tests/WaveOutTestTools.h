// SPDX-License-Identifier: MIT
#pragma once

// Helpers of the wave output tests: reading written files back with SoX, and making
// writes fail as on a full disk.

#include <QProcess>
#include <QString>

#include <sys/resource.h>

#include <csignal>

namespace metronel::testing {

// What SoX reads from a wave file: rate, channels, frames; -1 where it cannot read it.
struct SoxInfo {
    long rate = -1;
    long channels = -1;
    long frames = -1;
};

inline SoxInfo ReadWithSox(const QString& path) {
    auto ask = [&](const char* option) -> long {
        QProcess p;
        p.start(QStringLiteral("soxi"), {QString::fromLatin1(option), path});
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0)
            return -1;
        bool ok = false;
        const long value = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed().toLong(&ok);
        return ok ? value : -1;
    };
    return {ask("-r"), ask("-c"), ask("-s")};
}

// Lowers the soft file size limit of this process, so that writes past it fail as on a
// full disk (EFBIG, with SIGXFSZ ignored); restores both when it ends. Each test runs in
// a process of its own under ctest, so nothing else is writing meanwhile.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_Old);
        m_OldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = m_Old;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_Old);
        std::signal(SIGXFSZ, m_OldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_Old{};
    void (*m_OldHandler)(int) = nullptr;
};

} // namespace metronel::testing
