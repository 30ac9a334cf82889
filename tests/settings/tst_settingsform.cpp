// Widget tests of the settings dialog: loading, the loaded guard, what each control
// writes and announces, the association buttons and the update restart hand-off.
#include "settingsform.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

// Records the program starts instead of starting anything.
class RecordingForm : public SettingsForm
{
public:
    using SettingsForm::SettingsForm;

    bool startResult = true;
    QList<QStringList> starts;
    QStringList *events = nullptr;

protected:
    bool startProgram(const QStringList &arguments) override
    {
        starts << arguments;
        if (events)
            events->append(QStringLiteral("start"));
        return startResult;
    }
};

template<typename T>
T *child(QWidget *form, const char *name)
{
    T *widget = form->findChild<T *>(QLatin1String(name));
    if (!widget)
        qFatal("no child %s", name);
    return widget;
}

QStringList texts(QComboBox *box)
{
    QStringList result;
    for (int i = 0; i < box->count(); ++i)
        result << box->itemText(i);
    return result;
}

QList<int> values(QComboBox *box)
{
    QList<int> result;
    for (int i = 0; i < box->count(); ++i)
        result << box->itemData(i).toInt();
    return result;
}

QList<QMessageBox *> messageBoxes(QWidget *form)
{
    return form->findChildren<QMessageBox *>();
}

} // namespace

class TestSettingsForm : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    std::unique_ptr<QSettings> settings;

    QString iniPath() const { return dir.filePath(QStringLiteral("settings.ini")); }

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationVersion(QStringLiteral("2.0.4"));
        QVERIFY(dir.isValid());
        // isolate.sh gives every test a private TMPDIR; never write outside it.
        QVERIFY(dir.path().startsWith(QDir::tempPath()));
    }

    void init()
    {
        QFile::remove(iniPath());
        settings = std::make_unique<QSettings>(iniPath(), QSettings::IniFormat);
    }

    void cleanup() { settings.reset(); }

    void freshStoreShowsDefaultsAndWritesNothing()
    {
        RecordingForm form(settings.get());
        QCOMPARE(child<QComboBox>(&form, "deinterlacing")->currentText(), QStringLiteral("Отключено"));
        QCOMPARE(child<QComboBox>(&form, "aspectRatio")->currentText(), QStringLiteral("По умолчанию"));
        QCOMPARE(child<QComboBox>(&form, "cropRatio")->currentText(), QStringLiteral("По умолчанию"));
        QCOMPARE(child<QSpinBox>(&form, "NetworkCache")->value(), 1000);
        QCOMPARE(child<QLineEdit>(&form, "preferredAudioLanguage")->text(), QString());
        QCOMPARE(child<QLineEdit>(&form, "preferredSubtitlesLanguage")->text(), QString());
        QVERIFY(child<QPushButton>(&form, "updateButton")->isHidden());
        QCOMPARE(child<QLabel>(&form, "versionLabel")->text(), QStringLiteral("Версия: 2.0.4"));
        // Filling the boxes went through the bound slots while not loaded yet.
        QVERIFY(settings->allKeys().isEmpty());
        QVERIFY(form.starts.isEmpty());
    }

    void choiceLists()
    {
        RecordingForm form(settings.get());
        const QStringList ratioTexts = {"По умолчанию", "16:9", "16:10", "1.85:1", "2.21:1", "2.35:1",
                                        "2.39:1", "4:3", "5:4", "5:3", "1:1"};
        const QList<int> ratioValues = {0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
        for (const char *name : {"aspectRatio", "cropRatio"}) {
            auto *box = child<QComboBox>(&form, name);
            QCOMPARE(texts(box), ratioTexts);
            QCOMPARE(values(box), ratioValues);
        }
        auto *deinterlacing = child<QComboBox>(&form, "deinterlacing");
        QCOMPARE(texts(deinterlacing),
                 QStringList({"Отключено", "Отбрасывание", "Смешивание", "Среднее", "Удвоение",
                              "Линейное", "X", "Yadif", "Yadif(2x)", "Фоспор", "NTSC(IVTC)"}));
        QCOMPARE(values(deinterlacing), QList<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    }

    void widgetTree()
    {
        RecordingForm form(settings.get());
        QCOMPARE(form.objectName(), QStringLiteral("SettingsForm"));
        QCOMPARE(form.windowTitle(), QStringLiteral("Настройки"));
        QVERIFY(form.isWindow());
        QCOMPARE(form.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
        QCOMPARE(form.sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
        // 452 x 351 at least; more where the fonts need it, never squeezing the rows.
        QVERIFY(form.minimumWidth() >= 452);
        QVERIFY(form.minimumHeight() >= 351);
        QCOMPARE(form.minimumSize(), form.minimumSize().expandedTo(form.minimumSizeHint()));
        QCOMPARE(form.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
        // Resized to 0 x 0 at the end: it takes its minimum size.
        QCOMPARE(form.size(), form.minimumSize());

        const QList<QPair<const char *, const char *>> buttons = {
            {"pushButton", "Создать"}, {"pushButton_2", "Отменить"},
            {"updateButton", "Перезапустить для обновления"}, {"pushButton_3", "Закрыть"}};
        for (const auto &b : buttons)
            QCOMPARE(child<QPushButton>(&form, b.first)->text(), QString::fromUtf8(b.second));

        const QList<QPair<const char *, const char *>> labels = {
            {"Label_6", "Ассоциации всех видеофайлов"}, {"Label_3", "Устранение чересстрочности"},
            {"Label_4", "Соотношение сторон"}, {"Label_5", "Кадрирование"},
            {"Label_7", "Кеш сетевых данных(мс)*"}, {"Label_2", "Предпочитаемый язык аудио"},
            {"Label", "Предпочитаемый язык субтитров"}, {"label", "*для применения требуется перезапуск"}};
        for (const auto &l : labels)
            QCOMPARE(child<QLabel>(&form, l.first)->text(), QString::fromUtf8(l.second));
        QCOMPARE(child<QLabel>(&form, "label")->alignment(), Qt::AlignCenter);
        QCOMPARE(child<QLabel>(&form, "label")->styleSheet(), QStringLiteral("font-size: 10px;"));
        QCOMPARE(child<QLabel>(&form, "Label_2")->minimumWidth(), 172);
        QCOMPARE(child<QLabel>(&form, "Label_2")->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);

        auto *cache = child<QSpinBox>(&form, "NetworkCache");
        QCOMPARE(cache->minimum(), 0);
        QCOMPARE(cache->maximum(), 60000);
        QCOMPARE(cache->toolTip(),
                 QStringLiteral("Количество кешируемых милисекунд при открытии сетевых ресурсов(от 0 до 60000)"));
        QCOMPARE(child<QLineEdit>(&form, "preferredAudioLanguage")->toolTip(),
                 QStringLiteral("Введите названия предпочитаемых языков через запятую в порядке "
                                "приоритета(например: Ru,Rus,Russian,Русский,English)."));
        QCOMPARE(child<QLineEdit>(&form, "preferredSubtitlesLanguage")->toolTip(),
                 QStringLiteral("Введите названия предпочитаемых языков через запятую в порядке "
                                "приоритета(например: Ru,Rus,Russian,Русский,English) или оставьте "
                                "пустым для отключения субтитров."));

        // Slot order of the meta-object: the slots follow the signals in this order.
        const QStringList slotOrder = {
            "on_pushButton_3_clicked()", "on_updateButton_clicked()",
            "on_preferredSubtitlesLanguage_editingFinished()", "on_preferredAudioLanguage_editingFinished()",
            "on_cropRatio_currentIndexChanged(int)", "on_aspectRatio_currentIndexChanged(int)",
            "on_deinterlacing_currentIndexChanged(int)", "on_pushButton_2_clicked()",
            "on_pushButton_clicked()", "on_NetworkCache_editingFinished()",
            "on_reconnect_toggled(bool)", "on_playlistSource_toggled(bool)",
            "on_playlistUrl_editingFinished()", "on_playlistBrowse_clicked()",
            "on_guideUrl_editingFinished()", "on_guideBrowse_clicked()",
            "on_guideOffset_editingFinished()", "on_reloadChannels_clicked()",
            "on_uiLanguage_currentIndexChanged(int)"};
        const QMetaObject *mo = &SettingsForm::staticMetaObject;
        QStringList methods;
        for (int i = mo->methodOffset(); i < mo->methodCount(); ++i)
            methods << QString::fromLatin1(mo->method(i).methodSignature());
        QCOMPARE(methods.mid(0, 4), QStringList({"settingsUpdated()", "releaseInstanceRequested()",
                                                 "instanceRestoreRequested()", "channelsChanged()"}));
        QCOMPARE(methods.mid(4), slotOrder);
    }

    void storedValuesSelectRows()
    {
        settings->setValue("aspectRatio", 8);
        settings->setValue("cropRatio", 11);
        settings->setValue("deinterlacing", 9);
        settings->setValue("networkCaching", 2500);
        settings->setValue("preferredAudioLanguage", QStringList({"Ru", "Rus", "English"}));
        settings->setValue("preferredSubtitlesLanguage", QStringList({"Русский"}));
        settings->sync();
        QSettings reread(iniPath(), QSettings::IniFormat);
        RecordingForm form(&reread);
        QCOMPARE(child<QComboBox>(&form, "aspectRatio")->currentText(), QStringLiteral("4:3"));
        QCOMPARE(child<QComboBox>(&form, "cropRatio")->currentText(), QStringLiteral("1:1"));
        QCOMPARE(child<QComboBox>(&form, "deinterlacing")->currentText(), QStringLiteral("Фоспор"));
        QCOMPARE(child<QSpinBox>(&form, "NetworkCache")->value(), 2500);
        QCOMPARE(child<QLineEdit>(&form, "preferredAudioLanguage")->text(), QStringLiteral("Ru,Rus,English"));
        QCOMPARE(child<QLineEdit>(&form, "preferredSubtitlesLanguage")->text(), QStringLiteral("Русский"));
    }

    void unknownValuesShowRowZeroAndWriteNothing()
    {
        settings->setValue("aspectRatio", 1); // "ignore the ratio" is not offered
        settings->setValue("cropRatio", 99);
        settings->setValue("deinterlacing", -3);
        RecordingForm form(settings.get());
        QSignalSpy spy(&form, &SettingsForm::settingsUpdated);
        for (const char *name : {"aspectRatio", "cropRatio", "deinterlacing"})
            QCOMPARE(child<QComboBox>(&form, name)->currentIndex(), 0);
        QCOMPARE(settings->value("aspectRatio").toInt(), 1);
        QCOMPARE(settings->value("cropRatio").toInt(), 99);
        QCOMPARE(settings->value("deinterlacing").toInt(), -3);
        QCOMPARE(spy.count(), 0);
    }

    void choosingRowsWritesAndAnnouncesOnce_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("stored");
        QTest::newRow("aspect 16:10") << "aspectRatio" << 2 << 3;
        QTest::newRow("aspect 1:1") << "aspectRatio" << 10 << 11;
        QTest::newRow("crop 2.35:1") << "cropRatio" << 5 << 6;
        QTest::newRow("deinterlacing Yadif(2x)") << "deinterlacing" << 8 << 8;
        QTest::newRow("deinterlacing X") << "deinterlacing" << 6 << 6;
    }

    void choosingRowsWritesAndAnnouncesOnce()
    {
        QFETCH(QString, box);
        QFETCH(int, row);
        QFETCH(int, stored);
        RecordingForm form(settings.get());
        QSignalSpy spy(&form, &SettingsForm::settingsUpdated);
        auto *combo = form.findChild<QComboBox *>(box);
        QVERIFY(combo);
        combo->setCurrentIndex(row);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(settings->allKeys(), QStringList{box});
        QCOMPARE(settings->value(box).toInt(), stored);

        // Back to the first row by keyboard: the default value is written too.
        QTest::keyClick(combo, Qt::Key_Home);
        QCOMPARE(combo->currentIndex(), 0);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(settings->value(box).toInt(), 0);
    }

    void languageFieldsStoreTrimmedLists_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("stored");
        QTest::newRow("blanks around") << "preferredAudioLanguage" << "  Ru ,  English " << QStringList{"Ru", "English"};
        QTest::newRow("empty field") << "preferredAudioLanguage" << "" << QStringList{""};
        QTest::newRow("two commas") << "preferredSubtitlesLanguage" << "Ru,,Eng" << QStringList{"Ru", "", "Eng"};
        QTest::newRow("cyrillic") << "preferredSubtitlesLanguage" << "Русский, Rus" << QStringList{"Русский", "Rus"};
        QTest::newRow("only blanks") << "preferredSubtitlesLanguage" << "   " << QStringList{""};
        QTest::newRow("trailing comma") << "preferredAudioLanguage" << "Ru," << QStringList{"Ru", ""};
    }

    void languageFieldsStoreTrimmedLists()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QStringList, stored);
        RecordingForm form(settings.get());
        QSignalSpy spy(&form, &SettingsForm::settingsUpdated);
        auto *edit = form.findChild<QLineEdit *>(field);
        QVERIFY(edit);
        edit->setText(text);
        QCOMPARE(spy.count(), 0);
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(settings->value(field).toStringList(), stored);

        // It survives the store's file and comes back joined without blanks.
        settings->sync();
        QSettings reread(iniPath(), QSettings::IniFormat);
        QCOMPARE(reread.value(field).toStringList(), stored);
        RecordingForm again(&reread);
        QCOMPARE(again.findChild<QLineEdit *>(field)->text(), stored.join(','));
    }

    void networkCacheWritesWithoutAnnouncing()
    {
        RecordingForm form(settings.get());
        QSignalSpy spy(&form, &SettingsForm::settingsUpdated);
        auto *cache = child<QSpinBox>(&form, "NetworkCache");
        cache->setValue(4200);
        QVERIFY(!settings->contains("networkCaching"));
        QTest::keyClick(cache, Qt::Key_Return);
        QCOMPARE(settings->value("networkCaching").toInt(), 4200);
        // Typed values beyond the range are clamped by the box.
        cache->selectAll();
        QTest::keyClicks(cache, "99999");
        QTest::keyClick(cache, Qt::Key_Return);
        QVERIFY(settings->value("networkCaching").toInt() <= 60000);
        QCOMPARE(spy.count(), 0);
    }

    void interfaceLanguageForTheNextStart_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("pick");
        QTest::addColumn<QString>("written");
        QTest::newRow("absent reads as the system's") << QVariant() << "Системный" << 2 << "en";
        QTest::newRow("stored ru") << QVariant("ru") << "Русский" << 0 << "system";
        QTest::newRow("stored en") << QVariant("en") << "English" << 1 << "ru";
        QTest::newRow("unknown reads as the system's") << QVariant("fr") << "Системный" << 1 << "ru";
    }
    void interfaceLanguageForTheNextStart()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, shown);
        QFETCH(int, pick);
        QFETCH(QString, written);
        if (stored.isValid())
            settings->setValue("uiLanguage", stored);
        RecordingForm form(settings.get());
        QSignalSpy updated(&form, &SettingsForm::settingsUpdated);
        auto *box = child<QComboBox>(&form, "uiLanguage");
        QCOMPARE(box->currentText(), shown);
        QCOMPARE(settings->value("uiLanguage"), stored);
        box->setCurrentIndex(pick);
        QCOMPARE(settings->value("uiLanguage").toString(), written);
        // The running window keeps its texts: nothing to announce.
        QCOMPARE(updated.count(), 0);
    }

    void reconnectBoxLoadsWritesAndAnnounces_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("shown");
        QTest::newRow("absent") << QVariant() << true;
        QTest::newRow("on") << QVariant(true) << true;
        QTest::newRow("off") << QVariant(false) << false;
    }

    void reconnectBoxLoadsWritesAndAnnounces()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, shown);
        if (stored.isValid())
            settings->setValue("reconnect", stored);
        RecordingForm form(settings.get());
        auto *box = child<QCheckBox>(&form, "reconnect");
        QCOMPARE(box->isChecked(), shown);
        QCOMPARE(settings->contains("reconnect"), stored.isValid());
        QCOMPARE(box->parentWidget()->objectName(), QStringLiteral("groupBox"));

        QSignalSpy spy(&form, &SettingsForm::settingsUpdated);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(settings->value("reconnect").toBool(), !shown);
    }

    void channelsGroupLoadsWritesAndAnnounces()
    {
        settings->setValue("channelSource", "playlist");
        settings->setValue("playlistUrl", "http://lists.example/tv.m3u");
        settings->setValue("guideOffsetMinutes", 60);
        RecordingForm form(settings.get());
        QVERIFY(child<QRadioButton>(&form, "playlistSource")->isChecked());
        QCOMPARE(child<QLineEdit>(&form, "playlistUrl")->text(), QStringLiteral("http://lists.example/tv.m3u"));
        QCOMPARE(child<QSpinBox>(&form, "guideOffset")->value(), 60);
        QSignalSpy changed(&form, &SettingsForm::channelsChanged);
        QCOMPARE(changed.count(), 0);  // loading announces nothing
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        // Each change is stored and announced once; the same value again is no change.
        QTest::mouseClick(child<QRadioButton>(&form, "operatorSource"), Qt::LeftButton);
        QCOMPARE(settings->value("channelSource").toString(), QStringLiteral("operator"));
        QCOMPARE(changed.count(), 1);
        auto *guide = child<QLineEdit>(&form, "guideUrl");
        guide->setText(QStringLiteral("  /home/u/guide.xml.gz "));
        emit guide->editingFinished();
        emit guide->editingFinished();
        QCOMPARE(settings->value("guideUrl").toString(), QStringLiteral("/home/u/guide.xml.gz"));
        QCOMPARE(changed.count(), 2);
        QTest::mouseClick(child<QPushButton>(&form, "reloadChannels"), Qt::LeftButton);
        QCOMPARE(changed.count(), 3);
    }

    void closeHidesAndReopenKeepsContents()
    {
        auto *form = new RecordingForm(settings.get());
        QPointer<SettingsForm> guard(form);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        child<QLineEdit>(form, "preferredAudioLanguage")->setText("typed, not confirmed");
        child<QComboBox>(form, "cropRatio")->setCurrentIndex(7);
        QTest::mouseClick(child<QPushButton>(form, "pushButton_3"), Qt::LeftButton);
        QVERIFY(!form->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(guard);

        form->show();
        form->raise();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        QCOMPARE(child<QLineEdit>(form, "preferredAudioLanguage")->text(), QStringLiteral("typed, not confirmed"));
        QCOMPARE(child<QComboBox>(form, "cropRatio")->currentText(), QStringLiteral("4:3"));
        delete form;
    }

    void updateButtonFollowsUpdateState_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("visible");
        QTest::newRow("extracted") << "extracted" << true;
        QTest::newRow("upped") << "upped" << false;
        QTest::newRow("case differs") << "Extracted" << false;
    }

    void updateButtonFollowsUpdateState()
    {
        QFETCH(QString, state);
        QFETCH(bool, visible);
        settings->setValue("updateState", state);
        RecordingForm form(settings.get());
        QCOMPARE(!child<QPushButton>(&form, "updateButton")->isHidden(), visible);
        QCOMPARE(settings->allKeys(), QStringList{"updateState"});
    }

    void associationButtons_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("started");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("text");
        QTest::newRow("create") << "pushButton" << true << "--registerFileAssociations"
                                << "Создание ассоциаций файлов" << int(QMessageBox::Information)
                                << "Ассоциации видеофайлов созданы";
        QTest::newRow("remove") << "pushButton_2" << true << "--unregisterFileAssociations"
                                << "Отмена ассоциаций файлов" << int(QMessageBox::Information)
                                << "Ассоциации видеофайлов отменены";
        QTest::newRow("create, start failed")
            << "pushButton" << false << "--registerFileAssociations" << "Создание ассоциаций файлов"
            << int(QMessageBox::Warning) << "Не удалось изменить ассоциации видеофайлов";
        QTest::newRow("remove, start failed")
            << "pushButton_2" << false << "--unregisterFileAssociations" << "Отмена ассоциаций файлов"
            << int(QMessageBox::Warning) << "Не удалось изменить ассоциации видеофайлов";
    }

    void associationButtons()
    {
        QFETCH(QString, button);
        QFETCH(bool, started);
        QFETCH(QString, argument);
        QFETCH(QString, title);
        QFETCH(int, icon);
        QFETCH(QString, text);
        RecordingForm form(settings.get());
        form.startResult = started;
        QSignalSpy updated(&form, &SettingsForm::settingsUpdated);
        if (!started)
            QTest::ignoreMessage(QtWarningMsg, "Could not start the program to change the file associations");
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTest::mouseClick(form.findChild<QPushButton *>(button), Qt::LeftButton);

        QCOMPARE(form.starts, QList<QStringList>{QStringList{argument}});
        const auto boxes = messageBoxes(&form);
        QCOMPARE(boxes.size(), 1);
        QMessageBox *box = boxes.first();
        QVERIFY(box->isVisible());
        QCOMPARE(box->windowTitle(), title);
        QCOMPARE(int(box->icon()), icon);
        QCOMPARE(box->text(), text);
        QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(updated.count(), 0);

        // Not blocking: the test goes on and dismisses it; it then goes away.
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(messageBoxes(&form).isEmpty());
    }

    void updateFailureRestoresAndStays()
    {
        settings->setValue("updateState", "extracted");
        RecordingForm form(settings.get());
        QStringList events;
        form.events = &events;
        form.startResult = false;
        connect(&form, &SettingsForm::releaseInstanceRequested, this, [&] { events << "release"; });
        connect(&form, &SettingsForm::instanceRestoreRequested, this, [&] { events << "restore"; });
        QTest::ignoreMessage(QtCriticalMsg,
                             "Could not start the program to install the update, keeping this copy running");

        // A quit would end this loop with 0 before the queued exit with 7.
        QEventLoop loop;
        QTimer::singleShot(0, &form, [&] {
            QTest::mouseClick(child<QPushButton>(&form, "updateButton"), Qt::LeftButton);
            QTimer::singleShot(0, &loop, [&] { loop.exit(7); });
        });
        QCOMPARE(loop.exec(), 7);
        QCOMPARE(events, QStringList({"release", "start", "restore"}));
        QCOMPARE(form.starts, QList<QStringList>{QStringList()});
        QVERIFY(messageBoxes(&form).isEmpty());
    }

    // Last: it lets the application's event loop quit.
    void updateReleasesThenStartsThenQuits()
    {
        settings->setValue("updateState", "extracted");
        RecordingForm form(settings.get());
        QStringList events;
        form.events = &events;
        connect(&form, &SettingsForm::releaseInstanceRequested, this, [&] { events << "release"; });
        connect(&form, &SettingsForm::instanceRestoreRequested, this, [&] { events << "restore"; });
        QSignalSpy aboutToQuit(qApp, SIGNAL(aboutToQuit()));

        QTimer::singleShot(0, &form, [&] {
            QTest::mouseClick(child<QPushButton>(&form, "updateButton"), Qt::LeftButton);
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(7); });
        });
        QCOMPARE(QApplication::exec(), 0);
        QCOMPARE(aboutToQuit.count(), 1);
        QCOMPARE(events, QStringList({"release", "start"}));
        QCOMPARE(form.starts, QList<QStringList>{QStringList()});
    }
};

QTEST_MAIN(TestSettingsForm)
#include "tst_settingsform.moc"
