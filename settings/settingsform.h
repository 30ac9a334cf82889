#pragma once

#include <QMessageBox>
#include <QStringList>
#include <QWidget>

class QComboBox;
class QLineEdit;
class QSettings;

namespace Ui {
class SettingsForm;
}

// The preferences dialog: writes straight into the settings store and announces
// changed player preferences with settingsUpdated(). One instance lives for the
// whole run; closing it only hides it.
class SettingsForm : public QWidget
{
    Q_OBJECT

public:
    // The caller keeps ownership of settings, which must outlive the dialog.
    explicit SettingsForm(QSettings *settings, QWidget *parent = nullptr);
    ~SettingsForm() override;

signals:
    void settingsUpdated();
    // Emitted right before a new copy of the program is started for the update:
    // whoever owns the single-instance segment and the local server must let go of
    // them (direct connection), or the new copy would take itself for a later copy.
    void releaseInstanceRequested();
    // Emitted when that new copy could not be started: take them back.
    void instanceRestoreRequested();
    // The channel source, the list or the guide changed, or a reload was asked for:
    // TV mode loads its channel list again.
    void channelsChanged();

protected:
    // Starts the program's own executable detached in its folder; true when it was
    // started. Overridden by tests.
    virtual bool startProgram(const QStringList &arguments);

private slots:
    void on_pushButton_3_clicked();
    void on_updateButton_clicked();
    void on_preferredSubtitlesLanguage_editingFinished();
    void on_preferredAudioLanguage_editingFinished();
    void on_cropRatio_currentIndexChanged(int index);
    void on_aspectRatio_currentIndexChanged(int index);
    void on_deinterlacing_currentIndexChanged(int index);
    void on_pushButton_2_clicked();
    void on_pushButton_clicked();
    void on_NetworkCache_editingFinished();
    void on_reconnect_toggled(bool checked);
    void on_playlistSource_toggled(bool checked);
    void on_playlistUrl_editingFinished();
    void on_playlistBrowse_clicked();
    void on_guideUrl_editingFinished();
    void on_guideBrowse_clicked();
    void on_guideOffset_editingFinished();
    void on_reloadChannels_clicked();
    void on_uiLanguage_currentIndexChanged(int index);

private:
    void changeAssociations(const QString &argument, const QString &title,
                            const QString &doneText);
    // Shows a message box owned by the dialog without blocking in a nested loop.
    void showMessage(QMessageBox::Icon icon, const QString &title, const QString &text);
    void storeLanguages(const QString &key, const QString &text);
    void storeChoice(const char *key, const QComboBox *box, int index);
    // Stores a channel setting and announces it when it changed.
    void storeChannelSetting(const char *key, const QVariant &value);
    // Lets the user pick a file for line; true when one was picked.
    bool browse(QLineEdit *line, const QString &title, const QString &filter);

    Ui::SettingsForm *ui;
    QSettings *settings;
    bool loaded = false;
};
