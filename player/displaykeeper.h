#pragma once

#include <QObject>

// Keeps the display awake for as long as the object exists. Where the desktop offers
// no such service the object does nothing.
class DisplayKeeper : public QObject
{
    Q_OBJECT
public:
    explicit DisplayKeeper(QObject *parent = nullptr);
    ~DisplayKeeper() override;

    // True once the desktop has granted the request.
    bool isActive() const;

signals:
    // The desktop has granted the request.
    void activated();

private:
    struct Private;
    Private *d;
};
