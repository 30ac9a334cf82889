#pragma once

#include <QObject>
#include <QPointer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// One decoded picture in our own memory: either three I420 planes or one RV32 plane.
struct VlcFrameBuffer
{
    enum State { Free, Vlc, Latest, Render };
    std::vector<uint8_t> storage;
    uint8_t *planes[3] = {nullptr, nullptr, nullptr};
    State state = Free;
    uint64_t serial = 0; // order of display, to pick the oldest when reclaiming
};

// Format of the pictures the sink currently produces.
struct VlcFrameFormat
{
    bool yuv = false;     // I420 planes, else RV32 (QImage::Format_RGB32 layout)
    int width = 0;        // visible picture size
    int height = 0;
    int pitches[3] = {0, 0, 0};
    int lines[3] = {0, 0, 0};
    int serial = 0;       // changes with every format negotiation
};

// What the render thread gets: a picture reserved for it until the next take.
struct VlcFrame
{
    std::shared_ptr<VlcFrameBuffer> buffer; // null: no new picture since the last take
    VlcFrameFormat format;
    bool cleared = false;                   // the player stopped: show nothing
};

// Where libVLC's video callbacks write. VLC's threads never wait on the GUI or the
// render thread: they only take the short mutex below. Each displayed picture
// becomes the newest one; the render thread takes the newest and the pictures it
// skipped are reused. One queued update at a time reaches the output.
class VlcFrameSink
{
public:
    VlcFrameSink();
    ~VlcFrameSink();

    // Set by the output: RV32 pictures are asked for unless yuv is wanted (GL with
    // a shader). Takes effect at the next format negotiation.
    void setWantYuv(bool yuv) { m_wantYuv.store(yuv); }
    bool wantYuv() const { return m_wantYuv.load(); }

    // Set by the player while paused: libVLC then shows the same picture again
    // about a dozen times a second; a picture equal to the one shown is dropped
    // instead of being uploaded and rendered again.
    void setPaused(bool paused) { m_paused.store(paused); }

    // The object told (queued, on its own thread) through its slot
    // "frameAvailable()" that a new picture or format is there. Null detaches.
    void setReceiver(QObject *receiver);

    // Real picture size (pixels) and sample aspect learned from the stream's
    // track information, used to crop the decoder padding at the next negotiation
    // and for the display aspect.
    void setSourceInfo(int width, int height, unsigned sarNum, unsigned sarDen);
    // GUI thread, on "frameAvailable()": the format of the newest picture and the
    // sample aspect; allows the next notification.
    void acknowledge(int *width, int *height, unsigned *sarNum, unsigned *sarDen);
    // Forgets what the previous media taught (a new media starts).
    void resetSource();

    // libVLC callbacks (VLC's threads).
    static unsigned formatCallback(void **opaque, char *chroma, unsigned *width, unsigned *height,
                                   unsigned *pitches, unsigned *lines);
    static void cleanupCallback(void *opaque);
    static void *lockCallback(void *opaque, void **planes);
    static void unlockCallback(void *opaque, void *picture, void *const *planes);
    static void displayCallback(void *opaque, void *picture);

    // Render thread: the newest picture, reserved until the next call; the
    // previous reservation is given back. Empty when nothing was ever displayed.
    VlcFrame takeLatest();
    // Forgets the picture shown (a player stops or switches media).
    void clear();

    // Size libVLC proposed, reduced by the decoder padding where it can be told.
    static void guessVisibleSize(unsigned proposedWidth, unsigned proposedHeight,
                                 unsigned *width, unsigned *height);
    void setRealSizeProbe(std::function<bool(unsigned *, unsigned *)> probe);
    // Called on libVLC's thread, outside the sink's mutex, when a proposed format is
    // refused (too large to show, or its memory cannot be had); the text says why.
    void setRefusalHandler(std::function<void(const char *why)> handler);
    // Called on libVLC's thread, outside the sink's mutex, for the first picture
    // displayed after a clear (a media starts showing).
    void setFirstPictureHandler(std::function<void()> handler);
    // Format negotiation with the real-size probe of the calling media player.
    unsigned negotiateWith(const std::function<bool(unsigned *, unsigned *)> &probe, char *chroma,
                           unsigned *width, unsigned *height, unsigned *pitches, unsigned *lines);
    // The same with the real size already asked (0 x 0: unknown).
    unsigned negotiateSized(unsigned realW, unsigned realH, char *chroma, unsigned *width,
                            unsigned *height, unsigned *pitches, unsigned *lines);
    // Moves the pictures and the format to to (a sink nobody shows): a media player
    // that is going away goes on writing into them there. This sink is then as new.
    void handOver(VlcFrameSink &to);
    // Pictures displayed so far (paused repeats not counted): progress, for stall checks.
    uint64_t shownCount() const { return m_shown.load(); }

    // Largest picture side accepted, and the memory one picture may take: what a
    // display can show. Larger proposals are refused instead of allocated.
    static constexpr unsigned MaxSide = 8192;
    static constexpr size_t MaxBufferBytes = size_t(256) << 20;

private:
    unsigned negotiateLocked(char *chroma, unsigned *width, unsigned *height, unsigned *pitches,
                             unsigned *lines, unsigned realW, unsigned realH, const char **why);
    void *lock(void **planes);
    void display(void *picture);
    std::shared_ptr<VlcFrameBuffer> allocate() const;
    void notifyLocked();
    bool sameAsShownLocked(const VlcFrameBuffer &candidate) const;

    std::atomic<bool> m_wantYuv{false};
    std::atomic<bool> m_paused{false};
    mutable std::mutex m_mutex;
    VlcFrameFormat m_format;
    size_t m_bufferBytes = 0;
    size_t m_planeOffset[3] = {0, 0, 0};
    std::vector<std::shared_ptr<VlcFrameBuffer>> m_pool;
    std::shared_ptr<VlcFrameBuffer> m_latest;
    std::shared_ptr<VlcFrameBuffer> m_render;
    VlcFrameFormat m_latestFormat;
    uint64_t m_serial = 0;
    bool m_updatePending = false;
    bool m_cleared = false;
    QObject *m_receiver = nullptr;
    int m_sourceWidth = 0;
    int m_sourceHeight = 0;
    unsigned m_sarNum = 1;
    unsigned m_sarDen = 1;
    // Proposals of one picture (same width, heights within the decoder padding) and
    // the smallest height among them; a proposal of another picture starts over.
    unsigned m_proposedWidth = 0;
    unsigned m_smallestProposedHeight = 0;
    std::function<bool(unsigned *, unsigned *)> m_realSizeProbe;
    std::function<void(const char *)> m_refusalHandler;
    std::function<void()> m_firstPictureHandler;
    bool m_pictureAnnounced = false;
    std::atomic<uint64_t> m_shown{0};
};

// What one media player's video callbacks talk to: the shown sink while the player is
// the current one. Retired, it goes on with a sink of its own that nobody shows, so
// that libVLC can end the player as it likes while nothing of it reaches the picture.
class VlcVideoPort
{
public:
    VlcVideoPort(std::shared_ptr<VlcFrameSink> sink, std::function<bool(unsigned *, unsigned *)> probe);
    // From now on nothing reaches the shown sink.
    void retire();

    static unsigned formatCallback(void **opaque, char *chroma, unsigned *width, unsigned *height,
                                   unsigned *pitches, unsigned *lines);
    static void cleanupCallback(void *opaque);
    static void *lockCallback(void *opaque, void **planes);
    static void unlockCallback(void *opaque, void *picture, void *const *planes);
    static void displayCallback(void *opaque, void *picture);

private:
    std::mutex m_mutex;
    std::shared_ptr<VlcFrameSink> m_sink;
    std::function<bool(unsigned *, unsigned *)> m_probe;
    bool m_retired = false;
};
