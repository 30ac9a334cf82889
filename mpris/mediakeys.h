#pragma once

#include <QObject>

class MprisService;

// The keyboard's media keys pressed while the player window has the focus. Desktops
// that take these keys for themselves reach the player through the bus instead; both
// ways end in the same requests of the service.
class MediaKeys : public QObject
{
    Q_OBJECT
public:
    explicit MediaKeys(MprisService *service);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    MprisService *service;
};
