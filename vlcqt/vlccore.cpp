#include "vlccore_p.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QSet>
#include <QLoggingCategory>

#include <vlc/vlc.h>

Q_LOGGING_CATEGORY(lcVlcCore, "vlcqt.core")
Q_LOGGING_CATEGORY(lcLibVlc, "vlcqt.libvlc", QtWarningMsg)

namespace {

std::mutex g_coreMutex;
std::weak_ptr<VlcCore> g_core;
// A core started ahead of the first player (prepare()), held until a player takes it.
std::shared_ptr<VlcCore> g_prepared;
std::thread g_prepareThread;
bool g_preparing = false;
std::condition_variable g_prepareDone;

// libVLC says the same things again for every media (without a sound card the same
// audio-output error several times a second), and every log line opens the log
// file: a message goes on once per media, and not again within RepeatQuietMs.
struct MessageFilter
{
    static constexpr qint64 RepeatQuietMs = 30000;
    std::mutex mutex;
    QSet<QByteArray> thisMedia;
    QHash<QByteArray, qint64> lastPassed;
    QElapsedTimer clock;

    bool pass(const char *module, const char *text)
    {
        const QByteArray key = QByteArray(module ? module : "?") + ':' + text;
        std::lock_guard<std::mutex> lock(mutex);
        if (!clock.isValid())
            clock.start();
        const qint64 now = clock.elapsed();
        if (thisMedia.contains(key))
            return false;
        thisMedia.insert(key);
        const auto last = lastPassed.constFind(key);
        if (last != lastPassed.cend() && now - *last < RepeatQuietMs)
            return false;
        // Bounded: a stream that makes up new texts cannot grow these for ever.
        if (lastPassed.size() > 4096)
            lastPassed.clear();
        lastPassed.insert(key, now);
        return true;
    }
    void newMedia()
    {
        std::lock_guard<std::mutex> lock(mutex);
        thisMedia.clear();
    }
};

MessageFilter &messageFilter()
{
    static MessageFilter filter;
    return filter;
}

void forwardLog(void *, int level, const libvlc_log_t *ctx, const char *fmt, va_list args)
{
    // libVLC's warnings are mostly stream noise: only its errors are warnings
    // here; everything else is debug output, formatted only when asked for.
    const bool wanted = level >= LIBVLC_ERROR ? lcLibVlc().isWarningEnabled()
                                              : lcLibVlc().isDebugEnabled();
    if (!wanted)
        return;
    char text[1024];
    va_list copy;
    va_copy(copy, args);
    vsnprintf(text, sizeof text, fmt, copy);
    va_end(copy);
    const char *module = nullptr;
    const char *file = nullptr;
    unsigned line = 0;
    libvlc_log_get_context(ctx, &module, &file, &line);
    if (level >= LIBVLC_ERROR) {
        if (!messageFilter().pass(module, text))
            return;
        qCWarning(lcLibVlc, "%s: %s", module ? module : "?", text);
    } else {
        qCDebug(lcLibVlc, "%s: %s", module ? module : "?", text);
    }
}

} // namespace

VlcCore::VlcCore(libvlc_instance_t *instance)
    : m_instance(instance)
    , m_queue(std::make_shared<Queue>("worker"))
    , m_retiring(std::make_shared<Queue>("retiring"))
    , m_thread(&VlcCore::run, m_queue)
    , m_retiringThread(&VlcCore::run, m_retiring)
{
}

bool VlcCore::finish(Queue &queue, std::thread &thread, std::chrono::steady_clock::time_point deadline)
{
    bool finished;
    {
        std::unique_lock<std::mutex> lock(queue.mutex);
        queue.quit = true;
        queue.wake.notify_all();
        // Pending jobs still run: they release players.
        finished = !queue.stuck && queue.idle.wait_until(lock, deadline, [&queue] { return queue.finished; });
    }
    if (finished)
        thread.join();
    else
        thread.detach();
    return finished;
}

VlcCore::~VlcCore()
{
    // The worker first: its last jobs hand players to the retiring thread, which then
    // has a wait of its own (stops of streams in their first second add up there).
    auto deadline = [] { return std::chrono::steady_clock::now() + std::chrono::milliseconds(EndWaitMs); };
    const bool finished = finish(*m_queue, m_thread, deadline())
        && finish(*m_retiring, m_retiringThread, deadline());
    if (!finished) {
        qCWarning(lcVlcCore, "libVLC's threads did not finish within %d ms each; leaving them behind", EndWaitMs);
        // A thread may still be inside libVLC: neither the instance nor the queues
        // may go away under it. The process is ending anyway.
        if (m_retiringThread.joinable()) {
            std::lock_guard<std::mutex> lock(m_retiring->mutex);
            m_retiring->quit = true;
            m_retiring->wake.notify_all();
            m_retiringThread.detach();
        }
        libvlc_log_unset(m_instance);
        return;
    }
    libvlc_log_unset(m_instance);
    libvlc_release(m_instance);
}

std::shared_ptr<VlcCore> VlcCore::create()
{
    keepPicturesOffTheHeap();
    // The window sets VLC_ARGS before the first player exists; split on blanks.
    const QByteArray env = qgetenv("VLC_ARGS");
    QList<QByteArray> words = env.simplified().split(' ');
    words.removeAll(QByteArray());
    if (words.isEmpty())
        words = {"--intf=dummy", "--no-video-title-show", "--no-osd"};
    std::vector<const char *> argv;
    argv.reserve(size_t(words.size()));
    for (const QByteArray &w : qAsConst(words))
        argv.push_back(w.constData());

    libvlc_instance_t *instance = libvlc_new(int(argv.size()), argv.data());
    if (!instance) {
        qCCritical(lcVlcCore, "libVLC could not start (arguments: %s)", env.constData());
        return nullptr;
    }
    libvlc_log_set(instance, forwardLog, nullptr);
    qCDebug(lcVlcCore, "libVLC %s started", libvlc_get_version());
    return std::shared_ptr<VlcCore>(new VlcCore(instance));
}

void VlcCore::addPostRoutines()
{
    // Players of a window that lives to the end of the process are never destroyed,
    // so libVLC's threads outlive the application object: stop forwarding their
    // messages into a log handler that needs the application while it still exists.
    static bool added = false;
    if (!added && QCoreApplication::instance()) {
        added = true;
        qAddPostRoutine(&VlcCore::stopLogging);
        qAddPostRoutine(&VlcCore::dropPrepared);
    }
}

void VlcCore::prepare()
{
    std::lock_guard<std::mutex> lock(g_coreMutex);
    if (g_preparing || g_prepareThread.joinable() || g_core.lock())
        return;
    addPostRoutines();
    g_preparing = true;
    g_prepareThread = std::thread([] {
        std::shared_ptr<VlcCore> core = create();
        std::lock_guard<std::mutex> lock(g_coreMutex);
        g_prepared = core;
        g_core = core;
        g_preparing = false;
        g_prepareDone.notify_all();
    });
}

void VlcCore::finishPreparing()
{
    std::thread thread;
    {
        std::unique_lock<std::mutex> lock(g_coreMutex);
        g_prepareDone.wait(lock, [] { return !g_preparing; });
        thread = std::move(g_prepareThread);
    }
    if (thread.joinable())
        thread.join();
}

void VlcCore::dropPrepared()
{
    // Never taken by a player: released with the application.
    finishPreparing();
    std::shared_ptr<VlcCore> unused;
    std::lock_guard<std::mutex> lock(g_coreMutex);
    unused.swap(g_prepared);
}

std::shared_ptr<VlcCore> VlcCore::acquire()
{
    finishPreparing();
    std::lock_guard<std::mutex> lock(g_coreMutex);
    if (auto core = g_core.lock()) {
        // From now on the players own it.
        g_prepared.reset();
        return core;
    }
    std::shared_ptr<VlcCore> core = create();
    if (!core)
        return nullptr;
    g_core = core;
    addPostRoutines();
    return core;
}

void VlcCore::newMediaForLog()
{
    messageFilter().newMedia();
}

bool VlcCore::passLogMessage(const char *module, const char *text)
{
    return messageFilter().pass(module, text);
}

void VlcCore::stopLogging()
{
    std::shared_ptr<VlcCore> core;
    {
        std::lock_guard<std::mutex> lock(g_coreMutex);
        core = g_core.lock();
    }
    // Waits for callbacks in progress; never called from inside one.
    if (core)
        libvlc_log_unset(core->m_instance);
}

void VlcCore::push(Queue &queue, std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        queue.jobs.push_back(std::move(job));
    }
    queue.wake.notify_one();
}

bool VlcCore::pushAndWait(Queue &queue, std::function<void()> job, int timeoutMs)
{
    // Shared with the job, which may finish after this call gave up.
    struct Done
    {
        std::mutex mutex;
        std::condition_variable cond;
        bool done = false;
    };
    auto done = std::make_shared<Done>();
    push(queue, [job = std::move(job), done] {
        job();
        std::lock_guard<std::mutex> lock(done->mutex);
        done->done = true;
        done->cond.notify_all();
    });
    bool ok;
    {
        std::unique_lock<std::mutex> lock(done->mutex);
        ok = done->cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&done] { return done->done; });
    }
    if (!ok) {
        std::lock_guard<std::mutex> lock(queue.mutex);
        queue.stuck = true;
    }
    return ok;
}

void VlcCore::post(std::function<void()> job)
{
    push(*m_queue, std::move(job));
}

bool VlcCore::postAndWait(std::function<void()> job, int timeoutMs)
{
    return pushAndWait(*m_queue, std::move(job), timeoutMs);
}

VlcCore::Retirer VlcCore::retirer() const
{
    return [queue = m_retiring](std::function<void()> job) { push(*queue, std::move(job)); };
}

bool VlcCore::waitRetired(int timeoutMs)
{
    return pushAndWait(*m_retiring, [] {}, timeoutMs);
}

void VlcCore::run(std::shared_ptr<Queue> queue)
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(queue->mutex);
            queue->wake.wait(lock, [&queue] { return queue->quit || !queue->jobs.empty(); });
            if (queue->jobs.empty()) {
                queue->finished = true;
                queue->idle.notify_all();
                return;
            }
            job = std::move(queue->jobs.front());
            queue->jobs.pop_front();
        }
        QElapsedTimer clock;
        clock.start();
        job();
        if (clock.elapsed() > 200)
            qCDebug(lcVlcCore, "libVLC call took %lld ms on the %s thread", clock.elapsed(), queue->name);
    }
}
