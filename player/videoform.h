#pragma once

#include "playlistmodelitem.h"
#include "vlcplayer.h"

#include <QList>
#include <QPointer>
#include <QQuickView>
#include <QRect>
#include <QUrl>

class ChannelMemory;
class Config;
class DisplayKeeper;
class PictureWait;
class Reconnector;
class QMoveEvent;
class QResizeEvent;
class QSortFilterProxyModel;
class SettingsForm;
class VlcTrackModel;

// The player window: hosts the scenes, hands them the native objects as context
// properties ("viewer" is this window) and decides which playlist entry plays.
class VideoForm : public QQuickView
{
    Q_OBJECT
    Q_PROPERTY(bool isFullscreen READ isFullscreen NOTIFY isFullscreenChanged)
    Q_PROPERTY(bool stayOnTop READ stayOnTop WRITE setStayOnTop NOTIFY stayOnTopChanged)
    Q_PROPERTY(bool formLoaded READ formLoaded WRITE setFormLoaded NOTIFY formLoadedChanged)
    // The scene's media player, handed over by the scene itself; null until then.
    Q_PROPERTY(VlcPlayer *player READ player WRITE setPlayer NOTIFY playerChanged)
    // A channel watched before the current one, for playPreviousChannel().
    Q_PROPERTY(bool hasPreviousChannel READ hasPreviousChannel NOTIFY hasPreviousChannelChanged)

public:
    // The window does not own config; it must outlive the window.
    explicit VideoForm(Config *config, QWindow *parent = nullptr);
    ~VideoForm() override;

    // Places the window (stored or default geometry, kept on the primary screen's
    // available area), loads the root scene and shows the window. Called once.
    void restoreAndShow();
    // The same with another root scene (tests).
    void restoreAndShow(const QUrl &rootScene);

    // Empties the current item and announces it, so the scene stops playback.
    void clearCurrentItem();

    // Stores the window's normal (not full-screen) geometry under "iptvWindow".
    // windowMoveFinished() and windowResizeFinished() do the same; the controller
    // calls it when the application quits.
    void storeGeometry();

    // The channel or file being played; the same object the scenes see as "currentItem".
    const PlaylistModelItem &currentItem() const { return m_currentItem; }

    bool isFullscreen() const;
    bool formLoaded() const { return m_formLoaded; }
    void setFormLoaded(bool loaded);

    VlcPlayer *player() const { return m_player; }
    void setPlayer(VlcPlayer *player);
    // Asks the scene to take a volume (0-200) as if the user had chosen it on its
    // slider, which the player is bound to.
    void requestVolume(int volume) { emit volumeRequested(volume); }

    bool hasPreviousChannel() const { return !m_previousChannel.isEmpty(); }
    // The retry series of a broken live stream, the picture wait after a switch and
    // the per-channel choices; the scenes see them as "reconnect", "pictureWait" and
    // "channelMemory".
    Reconnector *reconnector() const { return m_reconnector; }
    PictureWait *pictureWait() const { return m_pictureWait; }
    ChannelMemory *channelMemory() const { return m_channelMemory; }
    // Where the per-channel choices are kept: a file in the data folder.
    static QString channelMemoryPath();

    // The geometry the window returns to when it leaves full screen.
    QRect normalGeometry() const { return m_normalGeometry; }

    static constexpr const char *RootScene = "qrc:/qml/videoFormLoader.qml";

signals:
    void isFullscreenChanged();
    void stayOnTopChanged();
    void currentItemChanged();
    void iptvModeRequested();
    void dropped(const QList<QUrl> &urls);
    void formLoadedChanged();
    void playerChanged();
    void volumeRequested(int volume);
    void hasPreviousChannelChanged();
    // Forwarded from the settings dialog: right before it starts a new copy of the
    // program for an update, the single-instance segment and the local server must be
    // let go (connect directly); if that start failed, they are taken back.
    void releaseInstanceRequested();
    void instanceRestoreRequested();
    // The settings dialog changed where TV channels come from (or asked for a reload).
    void channelsChanged();

private slots:
    void jtvDownloaded();
    void windowStateChanged();
    void updateSettings();

public:
    Q_INVOKABLE void playTv(int id);
    Q_INVOKABLE void playPrev();
    Q_INVOKABLE void playNext();
    // Back to the channel watched before this one; again, and back (TV mode).
    Q_INVOKABLE void playPreviousChannel();
    Q_INVOKABLE void saveVolume(double volume);
    Q_INVOKABLE void savePlaylistState(bool open);
    // offset is accepted for the scenes' sake and does not change the move.
    Q_INVOKABLE void windowMoved(int x, int y, int offset = 0);
    Q_INVOKABLE void windowMoveFinished();
    Q_INVOKABLE void windowResized(int width, int height);
    Q_INVOKABLE void windowResizeFinished();
    Q_INVOKABLE void quit();
    Q_INVOKABLE void setMinimumWidth(int w);
    Q_INVOKABLE void setMinimumHeight(int h);
    Q_INVOKABLE bool stayOnTop() const;
    Q_INVOKABLE void setStayOnTop(bool on);
    Q_INVOKABLE void toggleFullscreen();
    Q_INVOKABLE void minimize();
    Q_INVOKABLE void loveChannel(const QUrl &url);
    Q_INVOKABLE void showSettingsForm();
    Q_INVOKABLE void open(const QList<QUrl> &urls);
    Q_INVOKABLE void loadIptv();

protected:
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void applyCurrentItem();
    void sendTrackingReport();
    void setCurrentEmpty();
    void trackNormalGeometry();
    void logSceneErrors();
    void playerStateChanged();
    void playerPictureChanged();
    void restoreTrack(VlcTrackModel *model, int field);

    Config *config;
    PlaylistModelItem m_currentItem;
    bool m_formLoaded = false;
    QPointer<VlcPlayer> m_player;
    SettingsForm *settingsForm = nullptr;
    QSortFilterProxyModel *searchModel = nullptr;
    QSortFilterProxyModel *favouritesModel = nullptr;
    DisplayKeeper *displayKeeper = nullptr;
    QRect m_normalGeometry;
    bool stateSignalled = false;
    Reconnector *m_reconnector = nullptr;
    PictureWait *m_pictureWait = nullptr;
    ChannelMemory *m_channelMemory = nullptr;
    QUrl m_currentChannel;
    QUrl m_previousChannel;
    // Remembered tracks already given to the player for its current media.
    bool m_audioRestored = false;
    bool m_subtitleRestored = false;
};
