// SPDX-License-Identifier: MIT
// The player's three parts: a render thread that makes each pass with BringToLength, a
// feed that hands passes to the output back to back, and an output thread that owns the
// QAudioSink and lets it pull from the feed.
#include "LoopPlayer.h"

#include "mdlBytes.h"

#include "mdlHqResample.h"
#include "mdlKeepPitchLive.h"
#include "mdlLength.h"
#include "mdlWaveFile.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QDeadlineTimer>
#include <QIODevice>
#include <QMediaDevices>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <malloc.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace metronel {

namespace {

using Clock = std::chrono::steady_clock;

// One pass of the loop as the output takes it. A render fills bytes front to back and raises
// ready as it goes, so that the first pass plays while the rest of it is still being encoded.
struct PassBytes {
    std::vector<std::byte> bytes;
    std::atomic<std::size_t> ready{0};
};
using Pass = std::shared_ptr<PassBytes>;

// How the output takes the file's samples: as they are, or widened to 32 bits.
struct OutputForm {
    QAudioFormat format;
    int container = 0; // bytes of one sample in the file
    bool widen = false;
};

QAudioFormat::SampleFormat SampleFormatOf(int container) {
    switch (container) {
    case 1:
        return QAudioFormat::UInt8;
    case 2:
        return QAudioFormat::Int16;
    case 4:
        return QAudioFormat::Int32;
    default:
        return QAudioFormat::Unknown;
    }
}

// The file's own form where the device takes it, else its samples widened to 32 bits (a
// shift, so nothing is lost); nothing when the device takes neither.
std::optional<OutputForm> ChooseForm(const QAudioDevice& device, const WaveFile& wave) {
    const int channels = wave.Channels();
    if (channels < 1 || wave.BlockAlign() % channels != 0)
        return std::nullopt;
    OutputForm form;
    form.container = wave.BlockAlign() / channels;
    if (form.container < 1 || form.container > 4)
        return std::nullopt;
    form.format.setSampleRate(wave.Rate());
    form.format.setChannelCount(channels);
    form.format.setSampleFormat(SampleFormatOf(form.container));
    if (form.format.sampleFormat() != QAudioFormat::Unknown &&
        device.isFormatSupported(form.format))
        return form;
    form.format.setSampleFormat(QAudioFormat::Int32);
    form.widen = true;
    if (device.isFormatSupported(form.format))
        return form;
    return std::nullopt;
}

// Returns the samples of data in 32-bit containers: each at the top, unsigned 8-bit ones
// made signed.
std::vector<std::byte> WidenTo32(const std::vector<std::byte>& data, int container) {
    const std::size_t count = data.size() / static_cast<std::size_t>(container);
    std::vector<std::byte> out(count * 4);
    for (std::size_t i = 0; i < count; ++i) {
        auto value = static_cast<std::uint32_t>(GetLE(data, i * container, container));
        value <<= 8 * (4 - container);
        if (container == 1)
            value ^= 0x80000000u;
        PutLE(out, i * 4, value, 4);
    }
    return out;
}

// The sound in doubles, decoded once for all the passes made from it, up to a size whose
// keeping costs little beside the sound's own bytes.
class DecodedSound {
public:
    std::shared_ptr<const std::vector<double>> Get(const std::shared_ptr<const WaveFile>& wave,
                                                   const SampleFormat& format) {
        constexpr std::size_t kKeep = std::size_t{64} << 20; // bytes of doubles
        const std::lock_guard lock(m_Mutex);
        if (m_Samples && m_Wave.lock() == wave)
            return m_Samples;
        m_Samples.reset();
        auto samples =
            std::make_shared<const std::vector<double>>(DecodeSamples(wave->Data(), format));
        if (samples->size() * sizeof(double) <= kKeep) {
            m_Wave = wave;
            m_Samples = samples;
        }
        return samples;
    }
    void Clear() {
        const std::lock_guard lock(m_Mutex);
        m_Wave.reset();
        m_Samples.reset();
    }

private:
    std::mutex m_Mutex;
    std::weak_ptr<const WaveFile> m_Wave;
    std::shared_ptr<const std::vector<double>> m_Samples;
};

// Raised from within a render that Stop has made pointless.
struct Stopped {};

// Returns one pass of wave at frames frames by resampler, as the output takes it; begin is
// called once with the pass when its first bytes are ready, before the rest are made. A
// resampled pass is encoded in pieces, the first a small one, so that playing starts as soon
// as the resampler is done. (Resampling the channels on threads of their own gave the same
// bits but, on the two shared cores measured, came out slower.)
Pass RenderPass(const std::shared_ptr<const WaveFile>& wave, std::int32_t frames,
                Resampler resampler, const OutputForm& form, DecodedSound& decoded,
                const std::function<void(const Pass&)>& begin = {},
                const std::function<void()>& checkpoint = {}) {
    auto pass = std::make_shared<PassBytes>();
    const std::optional<SampleFormat> format =
        resampler == Resampler::Pick ? std::nullopt : SampleFormatFromFmt(wave->Fmt());
    if (!format || frames == wave->Frames()) {
        std::vector<std::byte> bytes = BringToLength(*wave, frames, resampler);
        // An incomplete trailing frame is written by Save As but would shift every later pass:
        // the loop plays whole frames.
        const auto align = static_cast<std::size_t>(wave->BlockAlign());
        bytes.resize(bytes.size() - bytes.size() % align);
        if (form.widen)
            bytes = WidenTo32(bytes, form.container);
        if (bytes.empty())
            throw std::length_error("no whole frame to play");
        pass->bytes = std::move(bytes);
        pass->ready = pass->bytes.size();
        if (begin)
            begin(pass);
        return pass;
    }

    const std::shared_ptr<const std::vector<double>> samples = decoded.Get(wave, *format);
    const std::vector<double> result =
        BringSamplesToLength(*wave, *samples, frames, resampler, true, checkpoint);
    const auto channels = static_cast<std::size_t>(format->channels);
    const std::size_t frameBytes =
        form.widen ? 4 * channels : static_cast<std::size_t>(format->blockAlign);
    const std::size_t total = result.size() / channels;
    if (total == 0)
        throw std::length_error("no whole frame to play");
    pass->bytes.resize(total * frameBytes);
    constexpr std::size_t kFirstPiece = 8192, kPiece = 65536; // frames
    for (std::size_t at = 0; at < total;) {
        const std::size_t count = std::min(at == 0 ? kFirstPiece : kPiece, total - at);
        std::vector<std::byte> piece =
            EncodeSamples(std::span(result).subspan(at * channels, count * channels), *format);
        if (form.widen)
            piece = WidenTo32(piece, form.container);
        std::memcpy(pass->bytes.data() + at * frameBytes, piece.data(), piece.size());
        pass->ready.store((at + count) * frameBytes, std::memory_order_release);
        if (at == 0 && begin)
            begin(pass);
        at += count;
    }
    return pass;
}

// Returns the first pass of wave at frames frames with its pitch kept, made by the
// stretcher's real-time mode and handed to begin from its first piece on: heard within
// moments, while the pass Save As writes (the offline stretch, which takes seconds) is made
// for the passes after it. Returns nothing when the quick stretch gave nothing. Raises
// Stopped once stop is set.
Pass RenderLivePass(const std::shared_ptr<const WaveFile>& wave, std::int32_t frames,
                    const OutputForm& form, const SampleFormat& format, DecodedSound& decoded,
                    const std::atomic<bool>& stop, const std::function<void(const Pass&)>& begin) {
    auto pass = std::make_shared<PassBytes>();
    const std::shared_ptr<const std::vector<double>> samples = decoded.Get(wave, format);
    const std::size_t frameBytes = form.widen ? 4 * static_cast<std::size_t>(format.channels)
                                              : static_cast<std::size_t>(format.blockAlign);
    pass->bytes.resize(static_cast<std::size_t>(frames) * frameBytes);
    std::size_t at = 0;
    try {
        StretchKeepPitchLive(
            *samples, format.channels, wave->Rate(), frames, [&](std::span<const double> piece) {
                if (stop)
                    throw Stopped{};
                std::vector<std::byte> bytes = EncodeSamples(piece, format);
                if (form.widen)
                    bytes = WidenTo32(bytes, form.container);
                const std::size_t n = std::min(bytes.size(), pass->bytes.size() - at);
                std::memcpy(pass->bytes.data() + at, bytes.data(), n);
                const bool first = at == 0;
                at += n;
                pass->ready.store(at, std::memory_order_release);
                if (first)
                    begin(pass);
            });
    } catch (const std::runtime_error&) {
        // The quick stretch gave up (an extreme ratio): the offline pass is heard instead,
        // or after what was already handed over.
    }
    if (at == 0)
        return nullptr;
    // Whatever the stretcher left short stays silent (the bytes are zero): the pass keeps
    // its length, so the loop keeps its time.
    pass->ready.store(pass->bytes.size(), std::memory_order_release);
    return pass;
}

// Passes handed to the output back to back: a queued pass starts where the playing one
// ends, so a change is heard from the next pass and never cuts one short.
class LoopFeed {
public:
    // Tells whether a pass was queued yet.
    bool Started() {
        const std::lock_guard lock(m_Mutex);
        return m_Current != nullptr;
    }

    // Plays pass after the present one (at once when none plays yet); a pass queued
    // before replaces the earlier one. Returns whether this was the first pass. Only the
    // first may still be being made: the rest are queued whole.
    bool Queue(Pass pass) {
        const std::lock_guard lock(m_Mutex);
        if (!m_Current) {
            m_Current = std::move(pass);
            return true;
        }
        m_Next = std::move(pass);
        return false;
    }

    // Copies up to max bytes of the loop; 0 before the first pass.
    std::int64_t Read(char* data, std::int64_t max) {
        std::int64_t done = 0;
        {
            const std::lock_guard lock(m_Mutex);
            while (m_Current && !m_Current->bytes.empty() && done < max) {
                if (m_Position == m_Current->bytes.size()) {
                    m_Position = 0;
                    if (m_Next)
                        m_Current = std::move(m_Next);
                    m_Next.reset();
                }
                const std::size_t ready = m_Current->ready.load(std::memory_order_acquire);
                if (m_Position >= ready)
                    break; // the rest of the first pass is a moment away
                const auto n =
                    std::min<std::size_t>(static_cast<std::size_t>(max - done), ready - m_Position);
                std::memcpy(data + done, m_Current->bytes.data() + m_Position, n);
                m_Position += n;
                done += static_cast<std::int64_t>(n);
            }
        }
        if (done > 0) {
            const Clock::rep now = Clock::now().time_since_epoch().count();
            if (!m_FirstRead.load())
                m_FirstRead = now;
            m_LastRead = now;
        }
        return done;
    }

    // Returns when the first bytes were read, in Clock ticks; 0 before.
    Clock::rep FirstRead() const { return m_FirstRead.load(); }
    // Returns when bytes were last read, in Clock ticks; 0 before.
    Clock::rep LastRead() const { return m_LastRead.load(); }

private:
    std::mutex m_Mutex;
    Pass m_Current;
    Pass m_Next;
    std::size_t m_Position = 0;
    std::atomic<Clock::rep> m_FirstRead{0};
    std::atomic<Clock::rep> m_LastRead{0};
};

// Every Play of a resampled loop makes and drops buffers of some megabytes (the sound in
// doubles, the resampler's result); left to its defaults, the C library hands such buffers
// back to the system and takes them again fresh, and on the machines measured the first
// touch of fresh pages cost more than the resampling itself (a 10 s loop: 36 ms against 15).
// Buffers up to 64 MiB are kept in one heap instead, whichever thread made them, and up to
// 128 MiB of it may stay free for the next pass.
void KeepSoundBuffersWarm() {
    static std::once_flag once;
    std::call_once(once, [] {
        mallopt(M_ARENA_MAX, 1);
        mallopt(M_MMAP_THRESHOLD, 64 << 20);
        mallopt(M_TRIM_THRESHOLD, 128 << 20);
    });
}

// Set once an output went away under a sink, for the rest of the run: Qt's sound backend
// does not reconnect (it goes on listing the output it lost), and a sink started on a server
// that went away waits for it for good.
std::atomic<bool> g_OutputLost{false};

// How long the output may take nothing while it should be playing before it counts as gone:
// a server that went away can leave a sink that neither plays nor says so.
constexpr auto kSilentOutput = std::chrono::milliseconds(2000);

// Keeps what Qt's sound backend may still be waiting inside (a sink whose server went away,
// an output thread that would not end): never destroyed, not even at exit, so that nothing
// is torn down under it and the program can still end.
void Abandon(std::shared_ptr<void> thing) {
    static std::mutex mutex;
    static auto* kept = new std::vector<std::shared_ptr<void>>;
    const std::lock_guard lock(mutex);
    kept->push_back(std::move(thing));
}

} // namespace

struct LoopPlayer::Decoded : DecodedSound {};

// A pass rendered ahead of Play, for the length and method the window shows.
struct LoopPlayer::Prepared {
    struct Key {
        std::shared_ptr<const WaveFile> wave;
        std::int32_t frames = 0;
        Resampler resampler = Resampler::Pick;
        OutputForm form;
        bool operator==(const Key& other) const {
            return wave == other.wave && frames == other.frames && resampler == other.resampler &&
                   form.widen == other.form.widen && form.format == other.form.format;
        }
    };
    std::mutex mutex;
    std::condition_variable wake;
    std::optional<Key> pending;
    Key readyKey;
    Pass ready;
    bool quit = false;
    std::thread thread;
};

struct LoopPlayer::Session {
    std::shared_ptr<const WaveFile> wave;
    std::shared_ptr<Decoded> decoded;
    OutputForm form;
    QAudioDevice device;
    std::int32_t frames = 0;
    Resampler resampler = Resampler::Pick;
    Clock::time_point started;
    std::shared_ptr<LoopFeed> feed = std::make_shared<LoopFeed>();

    // Owned by the output thread once created there.
    QObject* outputContext = nullptr;
    std::atomic<bool> outputDone{false}; // the output thread is done with this session
    QAudioSink* sink = nullptr;
    QIODevice* sinkInput = nullptr; // what the sink takes its bytes through
    QTimer* pump = nullptr;
    std::vector<char> pumpBuffer; // bytes read from the feed, from pumpAt on not yet taken
    std::size_t pumpAt = 0;
    std::size_t pumpHeld = 0;

    // The render thread: the latest request wins.
    struct Request {
        std::int32_t frames;
        Resampler resampler;
    };
    std::mutex renderMutex;
    std::condition_variable renderWake;
    std::optional<Request> pending;
    bool quit = false;
    std::thread renderThread;
    std::atomic<bool> stopped{false};     // set by Stop before the output is told
    std::atomic<Clock::rep> firstPass{0}; // when the first pass was ready, in Clock ticks
    std::atomic<bool> renderEnded{false}; // the render thread has returned
    std::atomic<bool> lost{false};        // the output went away under the sink
};

LoopPlayer::LoopPlayer(QObject* parent)
    : QObject(parent), m_Decoded(std::make_shared<Decoded>()), m_Devices(new QMediaDevices(this)) {
    KeepSoundBuffersWarm();
    connect(m_Devices, &QMediaDevices::audioOutputsChanged, this, [this] {
        if (m_Session && QMediaDevices::defaultAudioOutput().isNull())
            Fail(m_Session.get(), NoOutputText(), true);
    });
    m_Watchdog.setInterval(250);
    connect(&m_Watchdog, &QTimer::timeout, this, &LoopPlayer::Watch);
}

LoopPlayer::~LoopPlayer() {
    Stop();
    if (m_Prepared) {
        {
            const std::lock_guard lock(m_Prepared->mutex);
            m_Prepared->quit = true;
        }
        m_Prepared->wake.notify_one();
        m_Prepared->thread.join();
    }
    for (const std::shared_ptr<Session>& session : m_Retired)
        session->renderThread.join();
    if (m_OutputThread) {
        // Quits after the sessions' stops queued before it have run.
        QThread* thread = m_OutputThread;
        QMetaObject::invokeMethod(
            m_OutputHub, [thread] { thread->quit(); }, Qt::QueuedConnection);
        if (m_OutputThread->wait(QDeadlineTimer(3000))) {
            delete m_OutputHub;
            delete m_OutputThread;
        } else {
            Abandon(std::shared_ptr<void>(m_OutputThread, [](void*) {}));
            for (std::shared_ptr<Session>& session : m_Retired)
                Abandon(std::move(session));
        }
    }
}

void LoopPlayer::Pump(Session& s) {
    if (s.stopped || !s.sink || !s.sinkInput)
        return;
    if (s.pumpHeld == 0) {
        const qsizetype room = s.sink->bytesFree();
        if (room <= 0)
            return;
        s.pumpBuffer.resize(static_cast<std::size_t>(room));
        const std::int64_t got = s.feed->Read(s.pumpBuffer.data(), room);
        if (got <= 0)
            return;
        s.pumpAt = 0;
        s.pumpHeld = static_cast<std::size_t>(got);
    }
    // What the output does not take now it takes on the next tick: nothing is dropped.
    const qint64 taken =
        s.sinkInput->write(s.pumpBuffer.data() + s.pumpAt, static_cast<qint64>(s.pumpHeld));
    if (taken > 0) {
        s.pumpAt += static_cast<std::size_t>(taken);
        s.pumpHeld -= static_cast<std::size_t>(taken);
    }
}

void LoopPlayer::Watch() {
    if (!m_Session)
        return;
    const Clock::rep since = std::max(m_Session->feed->LastRead(), m_Session->firstPass.load());
    if (since != 0 && Clock::now() - Clock::time_point(Clock::duration(since)) > kSilentOutput)
        Fail(m_Session.get(), NoOutputText(), true);
}

void LoopPlayer::Reap() {
    std::erase_if(m_Retired, [](const std::shared_ptr<Session>& session) {
        if (!session->outputDone || !session->renderEnded)
            return false;
        session->renderThread.join();
        return true;
    });
}

QString LoopPlayer::NoOutputText() {
    return QStringLiteral("Metronel cannot play: no sound output was found.");
}

bool LoopPlayer::HasOutput() {
    return !g_OutputLost && !QMediaDevices::defaultAudioOutput().isNull();
}

std::optional<std::chrono::nanoseconds> LoopPlayer::FirstBufferDelay() const {
    if (!m_Session)
        return std::nullopt;
    const Clock::rep first = m_Session->feed->FirstRead();
    if (first == 0)
        return std::nullopt;
    return Clock::time_point(Clock::duration(first)) - m_Session->started;
}

void LoopPlayer::Prepare(std::shared_ptr<const WaveFile> wave, std::int32_t frames,
                         Resampler resampler) {
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull() || !wave)
        return;
    const std::optional<OutputForm> form = ChooseForm(device, *wave);
    if (!form)
        return;
    if (!m_Prepared) {
        m_Prepared = std::make_unique<Prepared>();
        Prepared* p = m_Prepared.get();
        p->thread = std::thread([p, decoded = m_Decoded] {
            for (;;) {
                Prepared::Key key;
                {
                    std::unique_lock lock(p->mutex);
                    p->wake.wait(lock, [p] { return p->quit || p->pending; });
                    if (p->quit)
                        return;
                    key = std::move(*p->pending);
                    p->pending.reset();
                    if (p->ready && p->readyKey == key)
                        continue;
                    p->ready.reset(); // the memory of one pass at a time
                }
                Pass pass;
                try {
                    // A later request or the player's end makes this pass pointless: a
                    // stretch that takes seconds must not hold up either.
                    pass = RenderPass(key.wave, key.frames, key.resampler, key.form, *decoded, {},
                                      [p] {
                                          const std::lock_guard lock(p->mutex);
                                          if (p->quit || p->pending)
                                              throw Stopped{};
                                      });
                } catch (const Stopped&) {
                    continue;
                } catch (const std::exception&) {
                    continue; // Play renders it again and says what went wrong
                }
                const std::lock_guard lock(p->mutex);
                p->readyKey = std::move(key);
                p->ready = std::move(pass);
            }
        });
    }
    {
        const std::lock_guard lock(m_Prepared->mutex);
        m_Prepared->pending = Prepared::Key{std::move(wave), frames, resampler, *form};
    }
    m_Prepared->wake.notify_one();
}

void LoopPlayer::Forget() {
    m_Decoded->Clear();
    if (!m_Prepared)
        return;
    const std::lock_guard lock(m_Prepared->mutex);
    m_Prepared->pending.reset();
    m_Prepared->ready.reset();
    m_Prepared->readyKey = {};
}

bool LoopPlayer::Play(std::shared_ptr<const WaveFile> wave, std::int32_t frames,
                      Resampler resampler) {
    const Clock::time_point started = Clock::now();
    Stop();
    m_Reason.clear();
    m_NoOutput = false;
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull() || g_OutputLost) {
        m_Reason = NoOutputText();
        m_NoOutput = true;
        return false;
    }
    const std::optional<OutputForm> form = ChooseForm(device, *wave);
    if (!form) {
        m_Reason = QStringLiteral("Metronel cannot play: the sound output takes no %1 Hz sound "
                                  "of %2 channel(s) and %3 bit.")
                       .arg(wave->Rate())
                       .arg(wave->Channels())
                       .arg(wave->BitsPerSample());
        return false;
    }

    auto session = std::make_shared<Session>();
    session->wave = std::move(wave);
    session->decoded = m_Decoded;
    session->form = *form;
    session->device = device;
    session->frames = frames;
    session->resampler = resampler;
    session->started = started;
    Session* s = session.get();

    // The output thread: the sink is started at once, so that connecting to the sound server
    // overlaps the first render, and is fed from that thread: on a short timer, and at once
    // when the first pass is ready, so that it is handed over without waiting for a tick.
    if (!m_OutputThread) {
        m_OutputThread = new QThread;
        m_OutputHub = new QObject;
        m_OutputHub->moveToThread(m_OutputThread);
        m_OutputThread->start();
    }
    s->outputContext = new QObject;
    s->outputContext->moveToThread(m_OutputThread);

    const QPointer<LoopPlayer> self(this);
    auto lost = [s, self] {
        QMetaObject::invokeMethod(
            self.data(),
            [s, self] {
                if (self)
                    self->Fail(s, NoOutputText(), true);
            },
            Qt::QueuedConnection);
    };
    QMetaObject::invokeMethod(
        s->outputContext,
        [s, lost] {
            if (s->stopped)
                return;
            s->sink = new QAudioSink(s->device, s->form.format, s->outputContext);
            QObject::connect(s->sink, &QAudioSink::stateChanged, s->outputContext,
                             [s, lost](QAudio::State state) {
                                 if (state == QAudio::StoppedState &&
                                     s->sink->error() != QAudio::NoError)
                                     lost();
                             });
            s->sinkInput = s->sink->start();
            if (!s->sinkInput || s->sink->error() != QAudio::NoError) {
                lost();
                return;
            }
            s->pump = new QTimer(s->outputContext);
            s->pump->setTimerType(Qt::PreciseTimer);
            s->pump->setInterval(10);
            QObject::connect(s->pump, &QTimer::timeout, s->outputContext, [s] { Pump(*s); });
            s->pump->start();
            Pump(*s);
        },
        Qt::QueuedConnection);
    auto firstPassReady = [s] { Pump(*s); };

    // A pass rendered ahead for this very loop plays at once; otherwise the first is made now.
    Pass prepared;
    if (m_Prepared) {
        const std::lock_guard lock(m_Prepared->mutex);
        if (m_Prepared->ready &&
            m_Prepared->readyKey == Prepared::Key{s->wave, frames, resampler, s->form})
            prepared = m_Prepared->ready;
    }
    if (prepared) {
        s->feed->Queue(std::move(prepared));
        s->firstPass = Clock::now().time_since_epoch().count();
    } else {
        s->pending = Session::Request{frames, resampler};
    }
    s->renderThread = std::thread([s, self, firstPassReady] {
        struct Ended {
            Session* s;
            ~Ended() { s->renderEnded = true; }
        } ended{s};
        for (;;) {
            Session::Request request{};
            {
                std::unique_lock lock(s->renderMutex);
                s->renderWake.wait(lock, [s] { return s->quit || s->pending; });
                if (s->quit)
                    return;
                request = *s->pending;
                s->pending.reset();
            }
            QString failure;
            try {
                // The first pass plays from its first piece on; a later one is queued whole,
                // so a pass that plays is never waited for.
                bool queued = false;
                auto begin = [s, &queued, &firstPassReady](const Pass& p) {
                    if (s->feed->Started())
                        return;
                    s->feed->Queue(p);
                    queued = true;
                    s->firstPass = Clock::now().time_since_epoch().count();
                    QMetaObject::invokeMethod(s->outputContext, firstPassReady,
                                              Qt::QueuedConnection);
                };
                // Keeping the pitch offline takes seconds: the first pass is heard from the
                // real-time stretch, and the offline one follows from the next pass on.
                const std::optional<SampleFormat> format = SampleFormatFromFmt(s->wave->Fmt());
                if (request.resampler == Resampler::KeepPitch && !s->feed->Started() && format &&
                    request.frames != s->wave->Frames()) {
                    RenderLivePass(s->wave, request.frames, s->form, *format, *s->decoded,
                                   s->stopped, begin);
                    queued = false;
                }
                Pass pass = RenderPass(s->wave, request.frames, request.resampler, s->form,
                                       *s->decoded, begin, [s] {
                                           if (s->stopped)
                                               throw Stopped{};
                                       });
                if (!queued)
                    s->feed->Queue(std::move(pass));
            } catch (const Stopped&) {
                // Stop came while the first pass was being made: nothing more to do.
            } catch (const std::bad_alloc&) {
                failure = QStringLiteral("Metronel cannot play: not enough memory.");
            } catch (const std::exception& error) {
                failure = QStringLiteral("Metronel cannot play: %1.")
                              .arg(QString::fromLocal8Bit(error.what()));
            }
            if (!failure.isEmpty())
                QMetaObject::invokeMethod(
                    self.data(),
                    [s, self, failure] {
                        if (self)
                            self->Fail(s, failure, false);
                    },
                    Qt::QueuedConnection);
        }
    });
    m_Session = std::move(session);
    m_Watchdog.start();
    return true;
}

void LoopPlayer::SetLength(std::int32_t frames, Resampler resampler) {
    if (!m_Session || (frames == m_Session->frames && resampler == m_Session->resampler))
        return;
    m_Session->frames = frames;
    m_Session->resampler = resampler;
    {
        const std::lock_guard lock(m_Session->renderMutex);
        m_Session->pending = Session::Request{frames, resampler};
    }
    m_Session->renderWake.notify_one();
}

void LoopPlayer::Stop() {
    Reap();
    m_Watchdog.stop();
    std::shared_ptr<Session> session = std::move(m_Session);
    m_Session.reset();
    if (!session)
        return;
    session->stopped = true;
    {
        const std::lock_guard lock(session->renderMutex);
        session->quit = true;
    }
    session->renderWake.notify_one();
    // The sink stops on the output thread, before any later session's starts there; the
    // session is let go once that has run and its render thread has ended (Reap), so the
    // caller never waits on the output.
    Session* s = session.get();
    QMetaObject::invokeMethod(
        m_OutputHub,
        [s] {
            if (!s->outputContext) {
                s->outputDone = true;
                return;
            }
            if (s->pump)
                s->pump->stop();
            if (s->sink && (s->lost || s->sink->error() != QAudio::NoError)) {
                // Stopping a sink whose server went away waits for the server for good: it
                // is left as it is (a few bytes) rather than stopped or destroyed.
                s->sink->setParent(nullptr);
                Abandon(std::shared_ptr<void>(s->sink, [](void*) {}));
                s->sink = nullptr;
            }
            if (s->sink)
                s->sink->stop();
            delete s->outputContext; // the sink and the timer with it
            s->outputContext = nullptr;
            s->outputDone = true;
        },
        Qt::QueuedConnection);
    m_Retired.push_back(std::move(session));
}

void LoopPlayer::Fail(const Session* session, const QString& reason, bool noOutput) {
    if (m_Session.get() != session)
        return; // a session already stopped
    if (noOutput) {
        m_Session->lost = true;
        g_OutputLost = true;
    }
    Stop();
    m_Reason = reason;
    m_NoOutput = noOutput;
    emit stopped();
}

} // namespace metronel
