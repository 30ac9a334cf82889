#pragma once

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <QVector>

// Remembers, per channel address, the picture size (aspect and crop ratio) and the
// audio and subtitle tracks the user chose, so that a channel comes back as it was
// left, also after a restart. Only the most recent channels are kept. The file is
// replaced whole, off the GUI thread, at most once a second.
class ChannelMemory : public QObject
{
    Q_OBJECT
    // The channel that choices are remembered for; set by the window.
    Q_PROPERTY(QUrl currentUrl READ currentUrl WRITE setCurrentUrl NOTIFY currentUrlChanged)

public:
    enum Field { AspectRatio, CropRatio, AudioTrack, SubtitleTrack, FieldCount };
    Q_ENUM(Field)
    static constexpr int Capacity = 500;
    static constexpr int WriteDelayMs = 1000;

    // Reads path (a missing or broken file is an empty memory).
    explicit ChannelMemory(const QString &path, QObject *parent = nullptr);
    // Writes what is pending and waits for it.
    ~ChannelMemory() override;

    QUrl currentUrl() const { return m_current; }
    void setCurrentUrl(const QUrl &url);

    // The stored value, or an invalid QVariant when the user never chose one.
    QVariant value(const QUrl &url, Field field) const;
    void remember(const QUrl &url, Field field, int value);
    int count() const { return m_entries.size(); }
    // Writes now and waits (tests, quitting).
    void flush();

    // For the scenes: the current channel's stored value, undefined when none.
    Q_INVOKABLE QVariant aspectRatio() const { return value(m_current, AspectRatio); }
    Q_INVOKABLE QVariant cropRatio() const { return value(m_current, CropRatio); }
    Q_INVOKABLE void rememberAspectRatio(int ratio) { remember(m_current, AspectRatio, ratio); }
    Q_INVOKABLE void rememberCropRatio(int ratio) { remember(m_current, CropRatio, ratio); }
    Q_INVOKABLE void rememberAudioTrack(int id) { remember(m_current, AudioTrack, id); }
    Q_INVOKABLE void rememberSubtitleTrack(int id) { remember(m_current, SubtitleTrack, id); }

signals:
    void currentUrlChanged();
    // A value of the current channel was stored.
    void changed(ChannelMemory::Field field);

private:
    struct Entry
    {
        QString url;
        QVariant values[FieldCount];
    };

    void load();
    void scheduleWrite();
    void write();
    int indexOf(const QString &url) const;

    QString m_path;
    QUrl m_current;
    QVector<Entry> m_entries; // most recent first
    QTimer m_writeTimer;
    QThreadPool m_writer;
};
