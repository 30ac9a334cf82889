#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

struct libvlc_instance_t;

// The process's libVLC instance and the one thread that makes every blocking libVLC
// call (open, stop, release), so the GUI thread never waits on libVLC.
// Shared by all players; the last owner joins the thread and releases the instance.
class VlcCore
{
public:
    ~VlcCore();
    VlcCore(const VlcCore &) = delete;
    VlcCore &operator=(const VlcCore &) = delete;

    // The running core, or a new one built from the VLC_ARGS environment variable.
    // Null when libVLC cannot start (logged).
    static std::shared_ptr<VlcCore> acquire();
    // Unsets libVLC's log callback; run as a post routine of the application.
    static void stopLogging();

    libvlc_instance_t *instance() const { return m_instance; }

    // Runs job on the worker thread, in submission order.
    void post(std::function<void()> job);

private:
    explicit VlcCore(libvlc_instance_t *instance);
    void run();

    libvlc_instance_t *m_instance;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_quit = false;
    std::thread m_thread;
};
