#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

class Config;
class QLocalServer;
class QLocalSocket;
class QSharedMemory;
class VideoForm;

// Controller of the first running copy: builds the content and the window, registers
// the link schemes, hands over to a ready update, listens for later copies and
// dispatches every list of URLs.
class Kernel : public QObject
{
    Q_OBJECT
public:
    Kernel(QSharedMemory *sharedMemory, const QList<QUrl> &urls, QObject *parent = nullptr);
    ~Kernel() override;

    // Turns a list of URLs into what the player shows; true when it started the
    // configuration fetch itself.
    bool openUrls(const QList<QUrl> &urls, bool append);

    Config *configuration() const { return config; }
    VideoForm *window() const { return playerWindow; }

public slots:
    void closeApp();

private:
    void checkPendingUpdate();
    void startServer();
    void acceptConnection();
    void readLaunchMessages(QLocalSocket *socket);
    void releaseInstance();
    void restoreInstance();

    QLocalServer *server = nullptr;
    QSharedMemory *sharedMemory = nullptr; // owned by main
    Config *config = nullptr;              // lives until the process ends
    VideoForm *playerWindow = nullptr;     // lives until the process ends
};
