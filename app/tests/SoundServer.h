// SPDX-License-Identifier: MIT
#pragma once

// A private PulseAudio daemon whose only output is a pipe sink (44100 Hz, s16le, stereo)
// writing into a FIFO that this object reads, so a test hears exactly the bytes played.
// The FIFO is read at the sound's own pace: the pipe sink renders as fast as it is read,
// and faster than the player feeds it would insert silence.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace metronel::testing {

class SoundServer {
public:
    SoundServer() = default;
    ~SoundServer() { Stop(); }
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // Starts the daemon and points this process's sound clients at it. Returns an empty
    // text, or why it could not start.
    QString Start() {
        if (!m_Dir.isValid())
            return QStringLiteral("no temporary folder");
        const QString fifo = m_Dir.filePath(QStringLiteral("out.fifo"));
        const QString socket = m_Dir.filePath(QStringLiteral("native"));
        if (mkfifo(QFile::encodeName(fifo).constData(), 0600) != 0)
            return QStringLiteral("cannot make the FIFO");
        // Opened before the daemon, without blocking, so the pipe always has a reader.
        m_Fd = open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        if (m_Fd < 0)
            return QStringLiteral("cannot open the FIFO");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // Its own home and runtime folders: no user's daemon, cookie or settings take part.
        for (const char* folder : {"home", "run"})
            QDir(m_Dir.path()).mkdir(QString::fromLatin1(folder));
        env.insert(QStringLiteral("HOME"), m_Dir.filePath(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_Dir.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), m_Dir.filePath(QStringLiteral("run")));
        m_Daemon.setProcessEnvironment(env);
        m_Daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_Daemon.start(
            QStringLiteral("pulseaudio"),
            {QStringLiteral("--system=false"), QStringLiteral("-n"),
             QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
             QStringLiteral("--disallow-exit"), QStringLiteral("--log-level=error"),
             QStringLiteral("-L"),
             QStringLiteral("module-pipe-sink file=%1 format=s16le rate=44100 "
                            "channels=2")
                 .arg(fifo),
             QStringLiteral("-L"),
             QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=%1").arg(socket)});
        if (!m_Daemon.waitForStarted(5000))
            return QStringLiteral("pulseaudio does not start: install it (scripts/install-deps)");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!QFileInfo::exists(socket)) {
            if (m_Daemon.state() != QProcess::Running ||
                std::chrono::steady_clock::now() > deadline)
                return QStringLiteral("pulseaudio ended or made no socket");
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        qputenv("PULSE_SERVER", ("unix:" + socket).toUtf8());
        m_Reader = std::thread([this] { ReadPaced(); });
        return {};
    }

    // Ends the daemon at once, as a sound server that goes away does.
    void Kill() {
        if (m_Daemon.state() != QProcess::NotRunning) {
            m_Daemon.kill();
            m_Daemon.waitForFinished(5000);
        }
    }

    void Stop() {
        Kill();
        m_Quit = true;
        if (m_Reader.joinable())
            m_Reader.join();
        if (m_Fd >= 0)
            close(m_Fd);
        m_Fd = -1;
    }

    // Forgets what was heard so far.
    void Clear() {
        const std::lock_guard lock(m_Mutex);
        m_Heard.clear();
    }

    // Returns what was heard since the last Clear.
    QByteArray Heard() const {
        const std::lock_guard lock(m_Mutex);
        return m_Heard;
    }

private:
    // Reads at 44100 frames of 4 bytes a second: a bucket of at most a twentieth of a
    // second's bytes, refilled by the clock, so a pause before playing buys no burst.
    void ReadPaced() {
        constexpr double kBytesPerSecond = 44100.0 * 4;
        constexpr double kBucket = kBytesPerSecond / 20;
        auto last = std::chrono::steady_clock::now();
        double tokens = 0;
        char buffer[2048];
        while (!m_Quit) {
            const auto now = std::chrono::steady_clock::now();
            tokens =
                std::min(kBucket, tokens + kBytesPerSecond *
                                               std::chrono::duration<double>(now - last).count());
            last = now;
            if (tokens < static_cast<double>(sizeof buffer)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            pollfd p{m_Fd, POLLIN, 0};
            if (poll(&p, 1, 10) <= 0)
                continue;
            const ssize_t n = read(m_Fd, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            tokens -= static_cast<double>(n);
            const std::lock_guard lock(m_Mutex);
            if (m_Heard.size() < kMaxHeard)
                m_Heard.append(buffer, static_cast<qsizetype>(n));
        }
    }

    static constexpr qsizetype kMaxHeard = 64 << 20;
    QTemporaryDir m_Dir;
    QProcess m_Daemon;
    int m_Fd = -1;
    std::thread m_Reader;
    std::atomic<bool> m_Quit{false};
    mutable std::mutex m_Mutex;
    QByteArray m_Heard;
};

} // namespace metronel::testing
