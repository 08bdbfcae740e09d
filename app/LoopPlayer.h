// SPDX-License-Identifier: MIT
#pragma once

// Plays a sound brought to a new length, looped without a gap, through the desktop's sound
// output. Each pass is made by BringToLength, the routine Save As writes with, so what is
// heard is what would be written. Rendering runs on a thread of the player's own and the
// output is fed from another: the calling (window) thread never waits on either.
//
//   LoopPlayer player;
//   QObject::connect(&player, &LoopPlayer::stopped, ...);   // the output went away
//   if (!player.Play(wave, 88200, Resampler::Hq)) ...        // no sound output
//   player.SetLength(90000, Resampler::Pick);                 // heard from the next pass
//   player.Stop();

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QMediaDevices;
class QThread;

namespace metronel {

enum class Resampler;
struct WaveFile;

class LoopPlayer : public QObject {
    Q_OBJECT

public:
    explicit LoopPlayer(QObject* parent = nullptr);
    // Stops playing and waits for the player's threads to end.
    ~LoopPlayer() override;
    LoopPlayer(const LoopPlayer&) = delete;
    LoopPlayer& operator=(const LoopPlayer&) = delete;

    // Tells whether the desktop has a sound output.
    static bool HasOutput();

    // Starts playing wave brought to frames frames by resampler, looped from its first frame,
    // in the sound's own rate, channels and sample width (widened to 32 bits, which loses
    // nothing, where the output takes only that). Whatever played stops first. Returns
    // false, playing nothing, when there is no sound output or it takes no such sound
    // (Reason() tells which). Later failures arrive as stopped().
    bool Play(std::shared_ptr<const WaveFile> wave, std::int32_t frames, Resampler resampler);
    // Renders, on a thread of its own, the pass Play would play for these, so that a Play of
    // the same loop starts at once; a later call replaces an earlier one. Holds one pass.
    void Prepare(std::shared_ptr<const WaveFile> wave, std::int32_t frames, Resampler resampler);
    // Drops the pass rendered ahead (the sound it was made from is closed).
    void Forget();
    // Brings the loop to frames frames by resampler from the next pass on; nothing when
    // nothing plays or the length and method are the ones playing.
    void SetLength(std::int32_t frames, Resampler resampler);
    // Stops playing at once; nothing when nothing plays.
    void Stop();
    // Tells whether a loop is playing (or about to).
    bool IsPlaying() const { return m_Session != nullptr; }
    // Returns why the last Play or playing failed, for a box.
    QString Reason() const { return m_Reason; }
    // Tells whether the last failure was a missing sound output.
    bool NoOutput() const { return m_NoOutput; }
    // Returns how long the playing loop took from Play to its first bytes handed to the
    // output, once they have been.
    std::optional<std::chrono::nanoseconds> FirstBufferDelay() const;

    // The text of a missing sound output.
    static QString NoOutputText();

signals:
    // Playing ended without Stop: the output went away or a pass could not be made.
    // Reason() and NoOutput() tell why.
    void stopped();

private:
    struct Session;
    struct Prepared;
    struct Decoded;
    void Fail(const Session* session, const QString& reason, bool noOutput);
    // Joins the threads of stopped sessions that have ended.
    void Reap();
    // Stops with the no-output box when the output has taken nothing for a while.
    void Watch();
    // Hands the output as many bytes of the loop as it has room for (on the output thread).
    static void Pump(Session& session);

    std::shared_ptr<Session> m_Session;
    std::shared_ptr<Decoded> m_Decoded; // shared with the render threads
    std::unique_ptr<Prepared> m_Prepared;
    std::vector<std::shared_ptr<Session>> m_Retired;
    QString m_Reason;
    bool m_NoOutput = false;
    QMediaDevices* m_Devices = nullptr;
    // Every session's sink lives on this one thread, so that one stops before the next starts.
    QThread* m_OutputThread = nullptr;
    QObject* m_OutputHub = nullptr; // lives on m_OutputThread
    QTimer m_Watchdog;
};

} // namespace metronel
