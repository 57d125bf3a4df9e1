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
#include "playback/videosearch.h"
#include "resources/resourcepath.h"
#include "tests/support/testenv.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyleOptionButton>
#include <QTest>
#include <QTranslator>

#include <functional>

using Make = std::function<QWidget *()>;
Q_DECLARE_METATYPE(Make)

namespace {

// The texts under top that do not fit, one line each; checked counts the texts measured.
QStringList cutTexts(QWidget *top, int *checked)
{
    QStringList cut;
    auto measure = [&](const QWidget *w, QString text, int needed, int has) {
        text.replace(QLatin1String("&&"), QString(QChar(1))).remove(u'&').replace(QChar(1), u'&'); // shortcut marks
        if (!text.isEmpty() && ++*checked && needed > has)
            cut << QStringLiteral("%1#%2 \"%3\": needs %4 px, has %5")
                       .arg(QLatin1String(w->metaObject()->className()), w->objectName(), text).arg(needed).arg(has);
    };
    for (QWidget *w : top->findChildren<QWidget *>()) {
        auto *label = qobject_cast<QLabel *>(w);
        auto *button = qobject_cast<QAbstractButton *>(w);
        auto *header = qobject_cast<QHeaderView *>(w);
        if (!w->isVisibleTo(top)) {
        } else if (label && label->wordWrap()) {
            measure(label, label->text(), label->heightForWidth(label->width()), label->height());
        } else if ((label && !Qt::mightBeRichText(label->text())) || qobject_cast<QCheckBox *>(w)) {
            measure(w, label ? label->text() : button->text(), w->minimumSizeHint().width(), w->width());
        } else if (qobject_cast<QPushButton *>(w)) {
            // The text and its icon against the room the style leaves inside the frame.
            QStyleOptionButton opt;
            opt.initFrom(button);
            const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
            measure(w, button->text(), w->fontMetrics().horizontalAdvance(QString(button->text()).remove(u'&')) + icon,
                    w->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, w).width());
        } else if (header && header->orientation() == Qt::Horizontal) {
            for (int i = 0; i < header->count(); ++i) // the header's measure: text, padding and sort mark
                if (!header->isSectionHidden(i))
                    measure(header, header->model()->headerData(i, Qt::Horizontal).toString(),
                            header->sectionSizeHint(i), header->sectionSize(i));
        }
    }
    return cut;
}

// A page gets its room in the main window at its default size (1280 x 800
// less the camera list and the title); a dialog its own size.
QWidget *page(QWidget *w)
{
    w->resize(1030, 744);
    return w;
}

} // namespace

class tst_TextFit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        varno::registerMetaTypes();
        QCOMPARE(SDK_DVRMGR_Init(varno::test::installDir().toUtf8().constData()), 0);
    }
    void cleanupTestCase() { SDK_DVRMGR_UnInit(); }

    void nothingCut_data()
    {
        QTest::addColumn<bool>("german");
        QTest::addColumn<Make>("make");
        const QList<std::pair<const char *, Make>> widgets = {
            {"login", [] { return new QLogin; }}, {"about", [] { return new QAboutDlg; }},
            {"add device", [] { return new QAddDevice; }}, {"manual add", [] { return new QManualDial; }},
            {"settings", [] { return new QPropertyDial; }}, {"password", [] { return new QPasswd; }},
            {"password change", [] { return new QPasswdFrm; }}, {"rename", [] { return new QRenameFrm; }},
            {"configuration", [] { return new QConfigMgr; }}, {"alarm log", [] { return new QAlarmSearch; }},
            {"download", [] { return new QDownload; }}, {"pan tilt zoom", [] { return new QPtzCtrol; }},
            {"live page", [] { return page(new realvideo); }}, {"playback page", [] { return page(new videosearch); }},
        };
        for (const bool german : {false, true})
            for (const auto &[name, make] : widgets)
                QTest::addRow("%s %s", german ? "de" : "en", name) << german << make;
    }

    void nothingCut()
    {
        QFETCH(bool, german);
        QFETCH(Make, make);
        varno::ui::PromptScript script;
        QTranslator translator;
        QVERIFY(!german || translator.load(varno::resourcePath(QStringLiteral("./language/translate_en2gm.qm"))));
        QCoreApplication::installTranslator(&translator);
        auto restore = qScopeGuard([&] { QCoreApplication::removeTranslator(&translator); });
        std::unique_ptr<QWidget> widget(make());
        widget->show();
        QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
        // The live page's alarm table shown; every page of a stacked widget (the configuration window's).
        if (auto *show = widget->findChild<QPushButton *>(QStringLiteral("showTabBtn")))
            show->click();
        QStringList cut;
        int checked = 0;
        auto *stack = widget->findChild<QStackedWidget *>();
        for (int page = 0; page < (stack ? stack->count() : 1); ++page) {
            if (stack)
                stack->setCurrentIndex(page);
            QCoreApplication::processEvents();
            cut << cutTexts(widget.get(), &checked);
        }
        QVERIFY2(checked >= 3, qPrintable(QString::number(checked)));
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(tst_TextFit)
#include "tst_textfit.moc"
