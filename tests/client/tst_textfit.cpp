// No text of a label, a button or a table header is cut, in English or in
// German, on the pages and dialogs at their default sizes (offscreen): each
// text's font metrics against the room its widget gives it.

#include "alarm/qalarmsearch.h"
#include "client/qaboutdlg.h"
#include "client/qlogin.h"
#include "client/qptzctrol.h"
#include "common/metatypes.h"
#include "common/ui/promptscript.h"
#include "config/qconfigmgr.h"
#include "device/qadddevice.h"
#include "device/qmanualdial.h"
#include "device/qpasswd.h"
#include "device/qpasswdfrm.h"
#include "device/qpropertydial.h"
#include "device/qrenamefrm.h"
#include "live/realvideo.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "playback/qdownload.h"
#include "playback/storageaccess.h"
#include "playback/videosearch.h"
#include "resources/resourcepath.h"
#include "tests/support/testenv.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStyleOptionButton>
#include <QTableView>
#include <QTest>
#include <QTranslator>
#include <QTreeView>

#include <functional>
#include <memory>

Q_DECLARE_METATYPE(std::function<QWidget *()>)

namespace {

class NoStorage : public varno::playback::StorageAccess
{
public:
    int recordFolders(QStringList *folders) override
    {
        folders->clear();
        return 0;
    }
    int diskSpaceM(const QString &, double *freeM) override
    {
        *freeM = 0;
        return 0;
    }
};

QString plain(QString text)
{
    // "&&" is an ampersand, a single "&" marks the shortcut.
    text.replace(QLatin1String("&&"), QString(QChar(1)));
    text.remove(QLatin1Char('&'));
    text.replace(QChar(1), QLatin1Char('&'));
    return text;
}

int lineWidth(const QFontMetrics &fm, const QString &text)
{
    int width = 0;
    for (const QString &line : text.split(QLatin1Char('\n')))
        width = qMax(width, fm.horizontalAdvance(line));
    return width;
}

QString where(const QWidget *w)
{
    return QStringLiteral("%1#%2").arg(QString::fromLatin1(w->metaObject()->className()), w->objectName());
}

// The texts of the widget tree under top that do not fit, one line each;
// checked counts the texts measured.
QStringList cutTexts(QWidget *top, int *checked)
{
    QStringList cut;
    *checked = 0;
    auto report = [&cut](const QWidget *w, const QString &text, int needed, int has) {
        cut << QStringLiteral("%1 \"%2\": needs %3 px, has %4").arg(where(w), text).arg(needed).arg(has);
    };
    const QList<QWidget *> widgets = top->findChildren<QWidget *>();
    for (QWidget *w : widgets) {
        if (!w->isVisibleTo(top) || w->width() <= 0)
            continue;
        if (auto *label = qobject_cast<QLabel *>(w)) {
            const QString text = label->textFormat() == Qt::RichText || Qt::mightBeRichText(label->text())
                ? QString()
                : plain(label->text());
            if (text.isEmpty() || label->pixmap().cacheKey() != 0)
                continue;
            ++*checked;
            const int room = label->contentsRect().width() - 2 * label->margin() - qMax(0, label->indent());
            if (label->wordWrap()) {
                if (label->heightForWidth(label->width()) > label->height())
                    report(label, text, label->heightForWidth(label->width()), label->height());
            } else if (lineWidth(label->fontMetrics(), text) > room) {
                report(label, text, lineWidth(label->fontMetrics(), text), room);
            }
        } else if (auto *push = qobject_cast<QPushButton *>(w)) {
            const QString text = plain(push->text());
            if (text.isEmpty())
                continue;
            ++*checked;
            QStyleOptionButton opt;
            opt.initFrom(push);
            opt.text = push->text();
            opt.icon = push->icon();
            opt.iconSize = push->iconSize();
            opt.features = push->isFlat() ? QStyleOptionButton::Flat : QStyleOptionButton::None;
            const QRect contents = push->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, push);
            const int icon = push->icon().isNull() ? 0 : push->iconSize().width() + 4;
            const int needed = push->fontMetrics().horizontalAdvance(text) + icon;
            if (needed > contents.width())
                report(push, text, needed, contents.width());
        } else if (qobject_cast<QCheckBox *>(w) || qobject_cast<QRadioButton *>(w)) {
            auto *button = static_cast<QAbstractButton *>(w);
            ++*checked;
            if (!plain(button->text()).isEmpty() && button->sizeHint().width() > button->width())
                report(button, plain(button->text()), button->sizeHint().width(), button->width());
        } else if (auto *box = qobject_cast<QGroupBox *>(w)) {
            const int needed = box->fontMetrics().horizontalAdvance(plain(box->title()));
            if (needed > box->width())
                report(box, box->title(), needed, box->width());
        } else if (auto *header = qobject_cast<QHeaderView *>(w)) {
            if (header->orientation() != Qt::Horizontal || !header->model())
                continue;
            for (int i = 0; i < header->count(); ++i) {
                if (header->isSectionHidden(i))
                    continue;
                const QString text = header->model()->headerData(i, Qt::Horizontal).toString();
                if (text.isEmpty())
                    continue;
                ++*checked;
                // The header's own measure: text, padding and sort mark.
                const int needed = header->sectionSizeHint(i);
                if (needed > header->sectionSize(i))
                    report(header, text, needed, header->sectionSize(i));
            }
        }
    }
    return cut;
}

// A page's room in the main window at its default size (1280 x 800, less
// the camera list and the title bar).
const QSize kPageSize(1030, 744);

} // namespace

class tst_TextFit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        varno::registerMetaTypes();
        QCOMPARE(SDK_DVRMGR_Init(varno::test::installDir().toUtf8().constData()), 0);
        varno::playback::setStorageAccess(std::make_shared<NoStorage>());
    }

    void cleanupTestCase()
    {
        varno::playback::setStorageAccess(nullptr);
        SDK_DVRMGR_UnInit();
    }

    void nothingCut_data()
    {
        using Make = std::function<QWidget *()>;
        QTest::addColumn<QString>("lang");
        QTest::addColumn<Make>("make");
        QTest::addColumn<QSize>("size");
        const QList<std::tuple<const char *, Make, QSize>> widgets = {
            {"login", [] { return new QLogin; }, QSize()},
            {"about", [] { return new QAboutDlg; }, QSize()},
            {"add device", [] { return new QAddDevice; }, QSize()},
            {"manual add", [] { return new QManualDial; }, QSize()},
            {"settings", [] { return new QPropertyDial; }, QSize()},
            {"password", [] { return new QPasswd; }, QSize()},
            {"password change", [] { return new QPasswdFrm; }, QSize()},
            {"rename", [] { return new QRenameFrm; }, QSize()},
            {"configuration", [] { return new QConfigMgr; }, QSize()},
            {"alarm log", [] { return new QAlarmSearch; }, QSize()},
            {"download", [] { return new QDownload; }, QSize()},
            {"pan tilt zoom", [] { return new QPtzCtrol; }, QSize()},
            {"live page", [] { return new realvideo; }, kPageSize},
            {"playback page", [] { return new videosearch; }, kPageSize},
        };
        for (const char *lang : {"en", "de"})
            for (const auto &[name, make, size] : widgets)
                QTest::addRow("%s %s", lang, name) << QString::fromLatin1(lang) << make << size;
    }

    void nothingCut()
    {
        using Make = std::function<QWidget *()>;
        QFETCH(QString, lang);
        QFETCH(Make, make);
        QFETCH(QSize, size);
        varno::ui::PromptScript script;
        QTranslator translator;
        if (lang == QLatin1String("de")) {
            QVERIFY(translator.load(varno::resourcePath(QStringLiteral("./language/translate_en2gm.qm"))));
            QCoreApplication::installTranslator(&translator);
            QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        }
        auto restore = qScopeGuard([&] {
            QCoreApplication::removeTranslator(&translator);
            QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        });
        std::unique_ptr<QWidget> widget(make());
        if (size.isValid())
            widget->resize(size);
        widget->show();
        QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
        QCoreApplication::processEvents();
        // The live page's alarm table is shown by its button.
        if (auto *show = widget->findChild<QPushButton *>(QStringLiteral("showTabBtn")))
            show->click();
        // Every page of a stacked widget (the configuration window's).
        QStringList cut;
        int checked = 0;
        const QList<QStackedWidget *> stacks = widget->findChildren<QStackedWidget *>();
        const int pages = stacks.isEmpty() ? 1 : stacks.first()->count();
        for (int page = 0; page < pages; ++page) {
            if (!stacks.isEmpty()) {
                stacks.first()->setCurrentIndex(page);
                QCoreApplication::processEvents();
            }
            int measured = 0;
            cut << cutTexts(widget.get(), &measured);
            checked += measured;
        }
        QVERIFY2(checked >= 3 * pages, qPrintable(QString::number(checked)));
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(tst_TextFit)
#include "tst_textfit.moc"
