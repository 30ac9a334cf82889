#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QFile;
class QTimer;

// One object per transfer, created without a parent. downloadFinished() comes exactly
// once, after fileDownloaded or downloadError; callers disconnect and deleteLater on it.
class HttpDownload : public QObject
{
    Q_OBJECT
public:
    enum Mode {
        File = 0,    // body goes to savePath + "/" + fileName, replaced only on success
        Memory = 1,  // body is handed over as text in fileDownloaded's second argument
    };
    Q_ENUM(Mode)

    static constexpr qint64 DefaultFileLimit = 256LL * 1024 * 1024;
    static constexpr qint64 DefaultMemoryLimit = 64LL * 1024 * 1024;
    static constexpr int DefaultStallTimeoutMs = 30000;

    explicit HttpDownload(Mode mode = Memory, QObject *parent = nullptr);
    explicit HttpDownload(int mode, QObject *parent = nullptr);
    ~HttpDownload() override;

    Mode mode() const { return m_mode; }
    QUrl url() const { return m_url; }
    void setUrl(const QUrl &url);
    void setSavePath(const QString &path);   // mode 0 only
    void setFileName(const QString &name);   // mode 0 only
    QString filePath() const;                // savePath + "/" + fileName

    // Limits: no bytes for stallTimeout ms aborts; a body above maxSize aborts; a
    // transfer still running deadline ms after download() aborts (a body trickling in
    // never stalls). 0 means no deadline.
    void setStallTimeout(int ms);
    void setMaxSize(qint64 bytes);
    void setDeadline(int ms);

public slots:
    void download();

signals:
    // Mode 0: (url text, file path) when the file is complete. Mode 1: (url text, body).
    void fileDownloaded(const QString &url, const QString &data);
    void downloadError(const QString &error);
    void downloadFinished();

private:
    bool openTarget(QString *problem);
    void onMetaData();
    void onReadyRead();
    void onFinished();
    void fail(const QString &error);
    void finish(bool ok, const QString &text);

    struct Private;
    Private *d;
    Mode m_mode;
    QUrl m_url;
};
