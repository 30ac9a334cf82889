#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

class QLocalServer;
class QLocalSocket;
class QSharedMemory;

// Controller of the first running copy: builds the content and the window, listens for
// later copies and dispatches every list of URLs.
class Kernel : public QObject
{
    Q_OBJECT
public:
    Kernel(QSharedMemory *sharedMemory, const QList<QUrl> &urls, QObject *parent = nullptr);
    ~Kernel() override;

    bool openUrls(const QList<QUrl> &urls, bool append);

public slots:
    void closeApp();

private:
    void startServer();
    void acceptConnection();
    void readLaunchMessages(QLocalSocket *socket);

    QLocalServer *server = nullptr;
    QSharedMemory *sharedMemory = nullptr; // owned by main
};
