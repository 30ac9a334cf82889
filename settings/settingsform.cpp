#include "settingsform.h"
#include "ui_settingsform.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QVector>

namespace {

struct Choice
{
    QString text;
    int value;
};

void fill(QComboBox *box, const QVector<Choice> &choices, int stored)
{
    for (const Choice &choice : choices)
        box->addItem(choice.text, choice.value);
    const int row = box->findData(stored);
    box->setCurrentIndex(row < 0 ? 0 : row);
}

} // namespace

SettingsForm::SettingsForm(QSettings *settings, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::SettingsForm)
    , settings(settings)
{
    // setupUi binds the on_<object>_<signal> slots, so the boxes below report
    // their filling to slots that ignore it until loaded is set.
    ui->setupUi(this);

    // Stored values are the VLC-Qt ratio and deinterlacing enumerators; the ratio
    // value 1 (ignore) is not offered.
    const QVector<Choice> ratios = {
        {tr("По умолчанию"), 0}, {tr("16:9"), 2},   {tr("16:10"), 3}, {tr("1.85:1"), 4},
        {tr("2.21:1"), 5},       {tr("2.35:1"), 6}, {tr("2.39:1"), 7}, {tr("4:3"), 8},
        {tr("5:4"), 9},          {tr("5:3"), 10},   {tr("1:1"), 11},
    };
    const QVector<Choice> deinterlacings = {
        {tr("Отключено"), 0}, {tr("Отбрасывание"), 1}, {tr("Смешивание"), 2},
        {tr("Среднее"), 3},   {tr("Удвоение"), 4},     {tr("Линейное"), 5},
        {tr("X"), 6},         {tr("Yadif"), 7},        {tr("Yadif(2x)"), 8},
        {tr("Фоспор"), 9},    {tr("NTSC(IVTC)"), 10},
    };

    ui->versionLabel->setText(tr("Версия: %1").arg(QCoreApplication::applicationVersion()));

    fill(ui->aspectRatio, ratios, settings->value(QStringLiteral("aspectRatio"), 0).toInt());
    fill(ui->cropRatio, ratios, settings->value(QStringLiteral("cropRatio"), 0).toInt());
    fill(ui->deinterlacing, deinterlacings,
         settings->value(QStringLiteral("deinterlacing"), 0).toInt());

    ui->preferredAudioLanguage->setText(
        settings->value(QStringLiteral("preferredAudioLanguage")).toStringList().join(QLatin1Char(',')));
    ui->preferredSubtitlesLanguage->setText(
        settings->value(QStringLiteral("preferredSubtitlesLanguage")).toStringList().join(QLatin1Char(',')));

    ui->reconnect->setChecked(settings->value(QStringLiteral("reconnect"), true).toBool());

    const bool ownList = settings->value(QStringLiteral("channelSource")).toString() == QLatin1String("playlist");
    ui->playlistSource->setChecked(ownList);
    ui->operatorSource->setChecked(!ownList);
    ui->playlistUrl->setText(settings->value(QStringLiteral("playlistUrl")).toString());
    ui->guideUrl->setText(settings->value(QStringLiteral("guideUrl")).toString());
    ui->guideOffset->setValue(settings->value(QStringLiteral("guideOffsetMinutes"), 0).toInt());

    // Language names stand in their own language, so that each reader finds theirs.
    ui->uiLanguage->addItem(tr("Системный"), QStringLiteral("system"));
    ui->uiLanguage->addItem(QStringLiteral("Русский"), QStringLiteral("ru"));
    ui->uiLanguage->addItem(QStringLiteral("English"), QStringLiteral("en"));
    const int language = ui->uiLanguage->findData(settings->value(QStringLiteral("uiLanguage")).toString());
    ui->uiLanguage->setCurrentIndex(language < 0 ? 0 : language);

    loaded = true;

    if (settings->value(QStringLiteral("updateState")).toString() != QLatin1String("extracted"))
        ui->updateButton->hide();

    // setValue emits no editingFinished, so this writes nothing back.
    ui->NetworkCache->setValue(settings->value(QStringLiteral("networkCaching"), 1000).toInt());

    // The form's minimum size was drawn for a smaller system font; where the fonts
    // need more room, the minimum grows so that no row is squeezed or clipped.
    ensurePolished();
    setMinimumSize(minimumSize().expandedTo(minimumSizeHint()));
    // Open at the minimum size.
    resize(0, 0);
}

SettingsForm::~SettingsForm()
{
    delete ui;
}

bool SettingsForm::startProgram(const QStringList &arguments)
{
    return QProcess::startDetached(QCoreApplication::applicationFilePath(), arguments,
                                   QCoreApplication::applicationDirPath());
}

void SettingsForm::on_pushButton_3_clicked()
{
    close();
}

void SettingsForm::on_updateButton_clicked()
{
    // The new copy must find the single-instance segment and the local server free,
    // or it would forward to us and end; so let go of them before starting it.
    emit releaseInstanceRequested();
    settings->sync();  // the new copy reads what this one wrote
    if (startProgram(QStringList())) {
        QCoreApplication::quit();
        return;
    }
    emit instanceRestoreRequested();
    qCritical("Could not start the program to install the update, keeping this copy running");
}

void SettingsForm::on_preferredSubtitlesLanguage_editingFinished()
{
    storeLanguages(QStringLiteral("preferredSubtitlesLanguage"), ui->preferredSubtitlesLanguage->text());
}

void SettingsForm::on_preferredAudioLanguage_editingFinished()
{
    storeLanguages(QStringLiteral("preferredAudioLanguage"), ui->preferredAudioLanguage->text());
}

void SettingsForm::on_cropRatio_currentIndexChanged(int index)
{
    storeChoice("cropRatio", ui->cropRatio, index);
}

void SettingsForm::on_aspectRatio_currentIndexChanged(int index)
{
    storeChoice("aspectRatio", ui->aspectRatio, index);
}

void SettingsForm::on_deinterlacing_currentIndexChanged(int index)
{
    storeChoice("deinterlacing", ui->deinterlacing, index);
}

void SettingsForm::on_pushButton_2_clicked()
{
    changeAssociations(QStringLiteral("--unregisterFileAssociations"), tr("Отмена ассоциаций файлов"),
                       tr("Ассоциации видеофайлов отменены"));
}

void SettingsForm::on_pushButton_clicked()
{
    changeAssociations(QStringLiteral("--registerFileAssociations"), tr("Создание ассоциаций файлов"),
                       tr("Ассоциации видеофайлов созданы"));
}

void SettingsForm::on_NetworkCache_editingFinished()
{
    // Takes effect at the next start only, so the player is not told.
    settings->setValue(QStringLiteral("networkCaching"), ui->NetworkCache->value());
}

void SettingsForm::on_reconnect_toggled(bool checked)
{
    if (!loaded)
        return;
    settings->setValue(QStringLiteral("reconnect"), checked);
    emit settingsUpdated();
}

void SettingsForm::changeAssociations(const QString &argument, const QString &title,
                                      const QString &doneText)
{
    // The started copy does the work and ends; we can only vouch for its start.
    if (startProgram(QStringList{argument})) {
        showMessage(QMessageBox::Information, title, doneText);
        return;
    }
    qWarning("Could not start the program to change the file associations");
    showMessage(QMessageBox::Warning, title, tr("Не удалось изменить ассоциации видеофайлов"));
}

void SettingsForm::showMessage(QMessageBox::Icon icon, const QString &title, const QString &text)
{
    auto *box = new QMessageBox(icon, title, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void SettingsForm::storeLanguages(const QString &key, const QString &text)
{
    QStringList languages = text.split(QLatin1Char(','), Qt::KeepEmptyParts, Qt::CaseSensitive);
    for (QString &language : languages)
        language = language.trimmed();
    settings->setValue(key, languages);
    emit settingsUpdated();
}

void SettingsForm::storeChoice(const char *key, const QComboBox *box, int index)
{
    if (!loaded || index < 0)
        return;
    settings->setValue(QLatin1String(key), box->itemData(index).toInt());
    emit settingsUpdated();
}

void SettingsForm::storeChannelSetting(const char *key, const QVariant &value)
{
    if (!loaded || settings->value(QLatin1String(key)) == value)
        return;
    settings->setValue(QLatin1String(key), value);
    emit channelsChanged();
}

bool SettingsForm::browse(QLineEdit *line, const QString &title, const QString &filter)
{
    const QString start = QFileInfo(line->text()).absolutePath();
    const QString file = QFileDialog::getOpenFileName(this, title, start, filter);
    if (file.isEmpty())
        return false;
    line->setText(file);
    return true;
}

void SettingsForm::on_playlistSource_toggled(bool checked)
{
    storeChannelSetting("channelSource", checked ? QStringLiteral("playlist") : QStringLiteral("operator"));
}

void SettingsForm::on_playlistUrl_editingFinished()
{
    storeChannelSetting("playlistUrl", ui->playlistUrl->text().trimmed());
}

void SettingsForm::on_playlistBrowse_clicked()
{
    if (browse(ui->playlistUrl, tr("Список каналов"), tr("Списки каналов (*.m3u *.m3u8);;Все файлы (*)")))
        on_playlistUrl_editingFinished();
}

void SettingsForm::on_guideUrl_editingFinished()
{
    storeChannelSetting("guideUrl", ui->guideUrl->text().trimmed());
}

void SettingsForm::on_guideBrowse_clicked()
{
    if (browse(ui->guideUrl, tr("Телепрограмма"), tr("Телепрограммы XMLTV (*.xml *.xml.gz *.xml.xz *.gz *.xz);;Все файлы (*)")))
        on_guideUrl_editingFinished();
}

void SettingsForm::on_guideOffset_editingFinished()
{
    storeChannelSetting("guideOffsetMinutes", ui->guideOffset->value());
}

void SettingsForm::on_uiLanguage_currentIndexChanged(int index)
{
    // Takes effect at the next start: the texts are looked up as the window is built.
    if (loaded && index >= 0)
        settings->setValue(QStringLiteral("uiLanguage"), ui->uiLanguage->itemData(index).toString());
}

void SettingsForm::on_reloadChannels_clicked()
{
    emit channelsChanged();
}
