#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

struct libvlc_instance_t;

// The process's libVLC instance and the one thread that makes every blocking libVLC
// call (open, stop, release), so the GUI thread never waits on libVLC. A second
// thread stops and releases the media players nobody needs any more: libVLC's stop
// can take most of a second (a stream in its first second), and the next media
// should not wait for it.
// Shared by all players; the last owner ends the thread and releases the instance,
// waiting for the thread a bounded time: a call stuck in libVLC does not keep the
// process from ending (the thread and the instance are then left behind).
class VlcCore
{
public:
    ~VlcCore();
    VlcCore(const VlcCore &) = delete;
    VlcCore &operator=(const VlcCore &) = delete;

    // The running core, or a new one built from the VLC_ARGS environment variable.
    // Null when libVLC cannot start (logged).
    static std::shared_ptr<VlcCore> acquire();
    // Starts the core on a thread of its own, so that the first acquire() finds it
    // ready (libVLC takes a few hundred milliseconds to start).
    static void prepare();
    // Large picture buffers go to mappings of their own (process-wide; done when the
    // first core is made).
    static void keepPicturesOffTheHeap();
    // Gives the heap's free pages back to the system. A stopped player's threads leave
    // their freed buffers in per-thread arenas that the next stream's threads seldom
    // reuse; without this the process grew about 13 MB over 100 channel switches.
    static void returnFreedMemory();
    // Unsets libVLC's log callback; run as a post routine of the application.
    static void stopLogging();
    // libVLC's errors reach the log once per media: a new media starts afresh.
    static void newMediaForLog();
    // Whether an error of module with text goes to the log now (and counts it).
    static bool passLogMessage(const char *module, const char *text);

    libvlc_instance_t *instance() const { return m_instance; }

    // Runs job on the worker thread, in submission order.
    void post(std::function<void()> job);
    // Posts job and waits until it has run, at most timeoutMs. False on timeout: the
    // worker is then taken as stuck, and the core's end does not wait for it again.
    bool postAndWait(std::function<void()> job, int timeoutMs);
    // Runs job on the retiring thread, in submission order. Usable from any thread
    // and after the core is gone (the job then never runs: the process is ending).
    using Retirer = std::function<void(std::function<void()>)>;
    Retirer retirer() const;
    // Waits, at most timeoutMs, for the retirements posted so far. False on timeout.
    bool waitRetired(int timeoutMs);

    // How long the last owner waits for the remaining jobs of each thread.
    static constexpr int EndWaitMs = 3000;

private:
    // The queue lives as long as the worker, which may outlive the core.
    struct Queue
    {
        explicit Queue(const char *name) : name(name) {}
        const char *name;
        std::mutex mutex;
        std::condition_variable wake;
        std::condition_variable idle;
        std::deque<std::function<void()>> jobs;
        bool quit = false;
        bool finished = false;
        bool stuck = false;
    };

    explicit VlcCore(libvlc_instance_t *instance);
    static void push(Queue &queue, std::function<void()> job);
    static bool pushAndWait(Queue &queue, std::function<void()> job, int timeoutMs);
    // Ends the queue's thread once its jobs have run, waiting until deadline.
    static bool finish(Queue &queue, std::thread &thread, std::chrono::steady_clock::time_point deadline);
    static std::shared_ptr<VlcCore> create();
    static void addPostRoutines();
    static void finishPreparing();
    static void dropPrepared();
    static void run(std::shared_ptr<Queue> queue);

    libvlc_instance_t *m_instance;
    std::shared_ptr<Queue> m_queue;
    std::shared_ptr<Queue> m_retiring;
    std::thread m_thread;
    std::thread m_retiringThread;
};
