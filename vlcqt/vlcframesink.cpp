#include "vlcframesink_p.h"

#include <QLoggingCategory>

#include <algorithm>
#include <iterator>
#include <cstring>

Q_DECLARE_LOGGING_CATEGORY(lcVlcCore)

namespace {

constexpr size_t MaxBuffers = 8;
constexpr unsigned Align = 32;

unsigned alignUp(unsigned value, unsigned to) { return (value + to - 1) / to * to; }

VlcFrameSink *sinkOf(void *opaque) { return static_cast<VlcFrameSink *>(opaque); }

} // namespace

VlcFrameSink::VlcFrameSink() = default;
VlcFrameSink::~VlcFrameSink() = default;

void VlcFrameSink::setReceiver(QObject *receiver)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_receiver = receiver;
    m_updatePending = false;
    if (m_receiver && (m_latest || m_cleared))
        notifyLocked();
}

void VlcFrameSink::setSourceInfo(int width, int height, unsigned sarNum, unsigned sarDen)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (width > 0 && height > 0) {
        m_sourceWidth = width;
        m_sourceHeight = height;
    }
    if (sarNum && sarDen) {
        m_sarNum = sarNum;
        m_sarDen = sarDen;
    }
    notifyLocked();
}

void VlcFrameSink::acknowledge(int *width, int *height, unsigned *sarNum, unsigned *sarDen)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_updatePending = false;
    *width = m_latestFormat.width;
    *height = m_latestFormat.height;
    *sarNum = m_sarNum;
    *sarDen = m_sarDen;
}

void VlcFrameSink::resetSource()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sourceWidth = m_sourceHeight = 0;
    m_sarNum = m_sarDen = 1;
    m_proposedWidth = m_smallestProposedHeight = 0;
}

void VlcFrameSink::setRealSizeProbe(std::function<bool(unsigned *, unsigned *)> probe)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_realSizeProbe = std::move(probe);
}

void VlcFrameSink::setRefusalHandler(std::function<void(const char *)> handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_refusalHandler = std::move(handler);
}

void VlcFrameSink::guessVisibleSize(unsigned proposedWidth, unsigned proposedHeight,
                                    unsigned *width, unsigned *height)
{
    // The software decoder reports its padded height (720 -> 738, 1080 -> 1090,
    // 360 -> 386). Answering with it makes VLC stretch every picture, so take the
    // largest common height within the padding.
    static const unsigned common[] = {2160, 1440, 1200, 1080, 1050, 1024, 900, 800, 768, 720,
                                      600,  576,  540,  480,  400,  360,  288,  270, 240, 180,
                                      144,  120};
    *width = proposedWidth;
    *height = proposedHeight;
    for (unsigned h : common) {
        if (h <= proposedHeight && h + 32 > proposedHeight) {
            *height = h;
            return;
        }
    }
}

unsigned VlcFrameSink::formatCallback(void **opaque, char *chroma, unsigned *width,
                                      unsigned *height, unsigned *pitches, unsigned *lines)
{
    VlcFrameSink *sink = sinkOf(*opaque);
    // The probe asks libVLC for the real size; it must not be called under our mutex.
    std::function<bool(unsigned *, unsigned *)> probe;
    {
        std::lock_guard<std::mutex> lock(sink->m_mutex);
        probe = sink->m_realSizeProbe;
    }
    return sink->negotiateWith(probe, chroma, width, height, pitches, lines);
}

void VlcFrameSink::cleanupCallback(void *opaque)
{
    VlcFrameSink *sink = sinkOf(opaque);
    std::lock_guard<std::mutex> lock(sink->m_mutex);
    sink->m_pool.clear();
    sink->m_latest.reset();
}

void *VlcFrameSink::lockCallback(void *opaque, void **planes)
{
    return sinkOf(opaque)->lock(planes);
}

void VlcFrameSink::unlockCallback(void *, void *, void *const *)
{
    // Nothing: the picture becomes visible only when VLC displays it.
}

void VlcFrameSink::displayCallback(void *opaque, void *picture)
{
    sinkOf(opaque)->display(picture);
}

unsigned VlcFrameSink::negotiateWith(const std::function<bool(unsigned *, unsigned *)> &probe,
                                     char *chroma, unsigned *width, unsigned *height,
                                     unsigned *pitches, unsigned *lines)
{
    unsigned realW = 0, realH = 0;
    if (probe && !probe(&realW, &realH))
        realW = realH = 0;
    return negotiateSized(realW, realH, chroma, width, height, pitches, lines);
}

unsigned VlcFrameSink::negotiateSized(unsigned realW, unsigned realH, char *chroma, unsigned *width,
                                      unsigned *height, unsigned *pitches, unsigned *lines)
{
    // Runs on libVLC's thread inside a C callback: nothing may be thrown from here.
    const char *why = nullptr;
    unsigned accepted = 0;
    std::function<void(const char *)> refused;
    try {
        std::lock_guard<std::mutex> lock(m_mutex);
        accepted = negotiateLocked(chroma, width, height, pitches, lines, realW, realH, &why);
        if (!accepted)
            refused = m_refusalHandler;
    } catch (const std::exception &e) {
        qCWarning(lcVlcCore, "video format %ux%u refused: %s", *width, *height, e.what());
        why = "no memory for the pictures";
        accepted = 0;
        std::lock_guard<std::mutex> lock(m_mutex);
        refused = m_refusalHandler;
    }
    if (!accepted && refused && why)
        refused(why);
    return accepted;
}

unsigned VlcFrameSink::negotiateLocked(char *chroma, unsigned *width, unsigned *height,
                                       unsigned *pitches, unsigned *lines, unsigned realW,
                                       unsigned realH, const char **why)
{
    const unsigned proposedW = *width;
    const unsigned proposedH = *height;
    // Every start negotiates several times for one picture: the first proposals carry
    // the coded size, the last one the padded size. Another width, or a height beyond
    // the padding, is another picture (an adaptive stream switched variants).
    if (proposedW != m_proposedWidth || !m_smallestProposedHeight
        || proposedH >= m_smallestProposedHeight + 32) {
        m_proposedWidth = proposedW;
        m_smallestProposedHeight = proposedH;
    } else {
        m_smallestProposedHeight = std::min(m_smallestProposedHeight, proposedH);
    }

    // The probe may still answer with the previous picture's size: only a size within
    // the padding of this proposal is this picture's.
    const auto withinPadding = [](unsigned real, unsigned proposed) {
        return real && real <= proposed && real + 32 > proposed;
    };
    unsigned w = 0, h = 0;
    if (withinPadding(realW, proposedW) && withinPadding(realH, proposedH)) {
        w = realW;
        h = realH;
    } else if (m_sourceWidth > 0 && unsigned(m_sourceWidth) <= proposedW
               && withinPadding(unsigned(m_sourceHeight), proposedH)) {
        w = unsigned(m_sourceWidth);
        h = unsigned(m_sourceHeight);
    } else {
        guessVisibleSize(proposedW, m_smallestProposedHeight, &w, &h);
    }
    if (!w || !h)
        return 0;
    if (w > MaxSide || h > MaxSide) {
        qCWarning(lcVlcCore, "video format %ux%u refused: larger than %ux%u", w, h, MaxSide, MaxSide);
        *why = "picture larger than a display can show";
        return 0;
    }

    VlcFrameFormat f;
    f.yuv = m_wantYuv.load();
    f.width = int(w);
    f.height = int(h);
    if (f.yuv) {
        std::memcpy(chroma, "I420", 4);
        const unsigned cw = (w + 1) / 2;
        const unsigned ch = (h + 1) / 2;
        f.pitches[0] = int(alignUp(w, Align));
        f.pitches[1] = f.pitches[2] = int(alignUp(cw, Align));
        f.lines[0] = int(alignUp(h, 16));
        f.lines[1] = f.lines[2] = int(alignUp(ch, 8));
    } else {
        std::memcpy(chroma, "RV32", 4);
        f.pitches[0] = int(w * 4);
        f.lines[0] = int(h);
    }
    size_t offsets[3];
    size_t bytes = 0;
    for (int i = 0; i < 3; ++i) {
        offsets[i] = bytes;
        bytes += alignUp(unsigned(f.pitches[i] * f.lines[i]), Align);
    }
    bytes += Align;
    if (bytes > MaxBufferBytes + Align) {
        qCWarning(lcVlcCore, "video format %ux%u refused: %zu bytes per picture", w, h, bytes);
        *why = "picture larger than a display can show";
        return 0;
    }
    f.serial = m_format.serial + 1;
    for (int i = 0; i < 3; ++i) {
        m_planeOffset[i] = offsets[i];
        pitches[i] = unsigned(f.pitches[i]);
        lines[i] = unsigned(f.lines[i]);
    }
    m_bufferBytes = bytes;
    *width = w;
    *height = h;
    m_format = f;
    // Pictures of the old format are dropped; the render thread keeps its own. Two
    // pictures are had now, so that lock() always finds one the renderer does not hold
    // without allocating (bad_alloc on libVLC's thread would end the process).
    m_pool.clear();
    m_latest.reset();
    m_pool.push_back(allocate());
    m_pool.push_back(allocate());
    qCDebug(lcVlcCore, "video format %ux%u proposed, %ux%u %s", proposedW, proposedH, w, h,
            f.yuv ? "I420" : "RV32");
    return 1;
}

std::shared_ptr<VlcFrameBuffer> VlcFrameSink::allocate() const
{
    auto buffer = std::make_shared<VlcFrameBuffer>();
    buffer->storage.resize(m_bufferBytes);
    auto base = reinterpret_cast<uintptr_t>(buffer->storage.data());
    uint8_t *aligned = buffer->storage.data() + (alignUp(unsigned(base % Align), Align) - base % Align);
    for (int i = 0; i < 3; ++i)
        buffer->planes[i] = aligned + m_planeOffset[i];
    return buffer;
}

void *VlcFrameSink::lock(void **planes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<VlcFrameBuffer> chosen;
    if (!m_bufferBytes) {
        planes[0] = planes[1] = planes[2] = nullptr;
        return nullptr; // no format negotiated
    }
    for (const auto &b : m_pool) {
        if (b->state == VlcFrameBuffer::Free) {
            chosen = b;
            break;
        }
    }
    if (!chosen && m_pool.size() < MaxBuffers) {
        try {
            chosen = allocate();
            m_pool.push_back(chosen);
        } catch (const std::exception &) {
            chosen.reset(); // reuse one below
        }
    }
    if (!chosen) {
        // All taken (VLC holds many, or skipped pictures): reuse the oldest one
        // that the render thread does not hold.
        for (const auto &b : m_pool) {
            if (b != m_render && (!chosen || b->serial < chosen->serial))
                chosen = b;
        }
        if (chosen == m_latest)
            m_latest.reset();
    }
    if (!chosen) {
        // Only after a cleanup without a new format, with no memory left: nothing to
        // give. libVLC does not lock pictures between cleanup and negotiation.
        qCCritical(lcVlcCore, "no picture buffer available");
        planes[0] = planes[1] = planes[2] = nullptr;
        return nullptr;
    }
    chosen->state = VlcFrameBuffer::Vlc;
    for (int i = 0; i < 3; ++i)
        planes[i] = chosen->planes[i];
    return chosen.get();
}

void VlcFrameSink::display(void *picture)
{
    std::function<void()> announce;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = std::find_if(m_pool.begin(), m_pool.end(),
                               [picture](const std::shared_ptr<VlcFrameBuffer> &b) { return b.get() == picture; });
        if (it == m_pool.end())
            return; // from before a format change
        if (m_paused.load() && sameAsShownLocked(**it)) {
            (*it)->state = VlcFrameBuffer::Free;
            return;
        }
        if (m_latest && m_latest != *it)
            m_latest->state = VlcFrameBuffer::Free;
        m_latest = *it;
        m_latest->state = VlcFrameBuffer::Latest;
        m_latest->serial = ++m_serial;
        m_latestFormat = m_format;
        m_cleared = false;
        m_shown.fetch_add(1);
        if (!m_pictureAnnounced) {
            m_pictureAnnounced = true;
            announce = m_firstPictureHandler;
        }
        notifyLocked();
    }
    if (announce)
        announce();
}

void VlcFrameSink::setFirstPictureHandler(std::function<void()> handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_firstPictureHandler = std::move(handler);
}

bool VlcFrameSink::sameAsShownLocked(const VlcFrameBuffer &candidate) const
{
    // The picture waiting for the renderer, else the one it shows; same format only.
    const VlcFrameBuffer *shown = m_latest ? m_latest.get() : m_render.get();
    if (!shown || shown == &candidate || m_latestFormat.serial != m_format.serial
        || shown->storage.size() != candidate.storage.size())
        return false;
    // The planes follow each other from the first one's aligned start.
    return std::memcmp(shown->planes[0], candidate.planes[0], m_bufferBytes - Align) == 0;
}

void VlcFrameSink::notifyLocked()
{
    if (m_updatePending || !m_receiver)
        return;
    m_updatePending = true;
    QMetaObject::invokeMethod(m_receiver, "frameAvailable", Qt::QueuedConnection);
}

VlcFrame VlcFrameSink::takeLatest()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    VlcFrame frame;
    if (m_cleared) {
        frame.cleared = true;
        if (m_render) {
            m_render->state = VlcFrameBuffer::Free;
            m_render.reset();
        }
        m_cleared = false;
        return frame;
    }
    if (!m_latest)
        return frame;
    if (m_render && m_render != m_latest)
        m_render->state = VlcFrameBuffer::Free;
    m_render = m_latest;
    m_render->state = VlcFrameBuffer::Render;
    m_latest.reset();
    frame.buffer = m_render;
    frame.format = m_latestFormat;
    return frame;
}

void VlcFrameSink::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_latest) {
        m_latest->state = VlcFrameBuffer::Free;
        m_latest.reset();
    }
    m_latestFormat = VlcFrameFormat();
    m_cleared = true;
    m_pictureAnnounced = false;
    notifyLocked();
}

void VlcFrameSink::handOver(VlcFrameSink &to)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::lock_guard<std::mutex> toLock(to.m_mutex);
    to.m_pool.swap(m_pool);
    m_pool.clear();
    to.m_format = m_format;
    to.m_bufferBytes = m_bufferBytes;
    std::copy(std::begin(m_planeOffset), std::end(m_planeOffset), std::begin(to.m_planeOffset));
    to.m_wantYuv.store(m_wantYuv.load());
    m_latest.reset();
    const int serial = m_format.serial;
    m_format = VlcFrameFormat();
    m_format.serial = serial;
    m_bufferBytes = 0;
}

VlcVideoPort::VlcVideoPort(std::shared_ptr<VlcFrameSink> sink,
                           std::function<bool(unsigned *, unsigned *)> probe)
    : m_sink(std::move(sink))
    , m_probe(std::move(probe))
{
}

void VlcVideoPort::retire()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_retired)
        return;
    m_retired = true;
    auto own = std::make_shared<VlcFrameSink>();
    m_sink->handOver(*own);
    m_sink = std::move(own);
    m_probe = nullptr;
}

unsigned VlcVideoPort::formatCallback(void **opaque, char *chroma, unsigned *width, unsigned *height,
                                      unsigned *pitches, unsigned *lines)
{
    auto *port = static_cast<VlcVideoPort *>(*opaque);
    // The probe takes libVLC's locks, which a stop holds while it waits for the
    // decoder, which may wait in lockCallback: it runs outside our mutex.
    std::function<bool(unsigned *, unsigned *)> probe;
    {
        std::lock_guard<std::mutex> lock(port->m_mutex);
        probe = port->m_probe;
    }
    unsigned realW = 0, realH = 0;
    if (probe && !probe(&realW, &realH))
        realW = realH = 0;
    std::lock_guard<std::mutex> lock(port->m_mutex);
    return port->m_sink->negotiateSized(realW, realH, chroma, width, height, pitches, lines);
}

void VlcVideoPort::cleanupCallback(void *opaque)
{
    auto *port = static_cast<VlcVideoPort *>(opaque);
    std::lock_guard<std::mutex> lock(port->m_mutex);
    VlcFrameSink::cleanupCallback(port->m_sink.get());
}

void *VlcVideoPort::lockCallback(void *opaque, void **planes)
{
    auto *port = static_cast<VlcVideoPort *>(opaque);
    std::lock_guard<std::mutex> lock(port->m_mutex);
    return VlcFrameSink::lockCallback(port->m_sink.get(), planes);
}

void VlcVideoPort::unlockCallback(void *, void *, void *const *)
{
}

void VlcVideoPort::displayCallback(void *opaque, void *picture)
{
    auto *port = static_cast<VlcVideoPort *>(opaque);
    std::lock_guard<std::mutex> lock(port->m_mutex);
    VlcFrameSink::displayCallback(port->m_sink.get(), picture);
}
