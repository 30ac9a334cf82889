#pragma once

#include <QObject>
#include <QTimer>

// A single-shot timer behind an interface, so that tests drive time themselves.
class OneShotClock : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    // Fires once after ms; a start while running restarts.
    virtual void start(int ms) = 0;
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;

signals:
    void fired();
};

// The clock of the running program.
class TimerClock : public OneShotClock
{
    Q_OBJECT

public:
    explicit TimerClock(QObject *parent = nullptr);
    void start(int ms) override;
    void stop() override;
    bool isRunning() const override;

private:
    QTimer timer;
};
