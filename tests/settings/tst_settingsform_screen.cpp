// The dialog on a real X display: it opens at its minimum size with nothing clipped
// or squeezed, in the order of the form. With NOVALINE_SCREENSHOT_DIR set, pictures of
// the dialog (and of the update variant) are saved there for a look.
#include "settingsform.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

class TestSettingsFormScreen : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    static QRect rectIn(QWidget *form, QWidget *w) { return QRect(w->mapTo(form, QPoint(0, 0)), w->size()); }

    static void save(QWidget *form, const QString &name)
    {
        const QString target = qEnvironmentVariable("NOVALINE_SCREENSHOT_DIR");
        if (target.isEmpty())
            return;
        QDir().mkpath(target);
        const QString path = QDir(target).filePath(name);
        QVERIFY2(form->grab().save(path), qPrintable(path));
        qInfo("saved %s", qPrintable(path));
    }

    static void checkLayout(SettingsForm *form)
    {
        const QRect inside = form->rect();
        QCOMPARE(form->size(), form->minimumSize().expandedTo(form->minimumSizeHint()));

        // Every visible control lies inside the window and has at least the size it
        // needs to show its text.
        const auto widgets = form->findChildren<QWidget *>();
        for (QWidget *w : widgets) {
            // Only the form's own widgets, not the parts inside Qt's controls.
            if (!w->isVisibleTo(form) || w->isWindow() || w->objectName().isEmpty()
                || w->objectName().startsWith(QLatin1String("qt_")))
                continue;
            if (!qobject_cast<QLabel *>(w) && !qobject_cast<QPushButton *>(w) && !qobject_cast<QComboBox *>(w)
                && !qobject_cast<QSpinBox *>(w) && !qobject_cast<QLineEdit *>(w) && !qobject_cast<QGroupBox *>(w))
                continue;
            const QRect r = rectIn(form, w);
            QVERIFY2(inside.contains(r), qPrintable(w->objectName()));
            QVERIFY2(r.width() >= w->minimumSizeHint().width(), qPrintable(w->objectName()));
            QVERIFY2(r.height() >= w->minimumSizeHint().height(), qPrintable(w->objectName()));
        }

        // Top to bottom: video, audio, subtitles, the note, the line, the bottom row.
        QStringList order = {"groupBox", "groupBox_2", "groupBox_3", "label", "line", "pushButton_3"};
        for (int i = 1; i < order.size(); ++i) {
            QWidget *above = form->findChild<QWidget *>(order.at(i - 1));
            QWidget *below = form->findChild<QWidget *>(order.at(i));
            QVERIFY2(rectIn(form, above).bottom() < rectIn(form, below).top(), qPrintable(order.at(i)));
        }
        // The association buttons sit side by side to the right of their label.
        auto *create = form->findChild<QPushButton *>("pushButton");
        auto *remove = form->findChild<QPushButton *>("pushButton_2");
        auto *assocLabel = form->findChild<QLabel *>("Label_6");
        QVERIFY(rectIn(form, assocLabel).right() < rectIn(form, create).left());
        QVERIFY(rectIn(form, create).right() < rectIn(form, remove).left());
        // The close button is at the right end of the bottom row, the version at its left.
        auto *close = form->findChild<QPushButton *>("pushButton_3");
        auto *version = form->findChild<QLabel *>("versionLabel");
        QVERIFY(form->width() - rectIn(form, close).right() < 20);
        QVERIFY(rectIn(form, version).left() < 20);
        QCOMPARE(rectIn(form, version).center().y() / 4, rectIn(form, close).center().y() / 4);
        // The combo boxes and the fields grow to the right edge of their groups.
        for (const char *name : {"deinterlacing", "aspectRatio", "cropRatio", "NetworkCache"}) {
            QWidget *w = form->findChild<QWidget *>(name);
            auto *group = form->findChild<QGroupBox *>("groupBox");
            QVERIFY2(rectIn(form, group).right() - rectIn(form, w).right() < 20, name);
        }
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationVersion(QStringLiteral("2.0.4"));
        QVERIFY(dir.isValid());
    }

    void opensAtMinimumSize()
    {
        QSettings settings(dir.filePath("plain.ini"), QSettings::IniFormat);
        SettingsForm form(&settings);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(form.findChild<QPushButton *>("updateButton")->isHidden());
        checkLayout(&form);
        save(&form, "settings-dialog.png");
    }

    void withUpdateButton()
    {
        QSettings settings(dir.filePath("update.ini"), QSettings::IniFormat);
        settings.setValue("updateState", "extracted");
        settings.setValue("preferredAudioLanguage", QStringList({"Ru", "Rus", "Russian", "Русский", "English"}));
        settings.setValue("aspectRatio", 2);
        SettingsForm form(&settings);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto *update = form.findChild<QPushButton *>("updateButton");
        QVERIFY(update->isVisible());
        checkLayout(&form);
        auto *version = form.findChild<QLabel *>("versionLabel");
        QVERIFY(rectIn(&form, version).right() < rectIn(&form, update).left());
        save(&form, "settings-dialog-update.png");
    }
};

QTEST_MAIN(TestSettingsFormScreen)
#include "tst_settingsform_screen.moc"
