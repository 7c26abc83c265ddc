#include "LoopbackServer.h"
#include "core/Clock.h"
#include "ui/ActionSheet.h"
#include "ui/AlertView.h"
#include "ui/Kit.h"
#include "ui/LoadingOverlay.h"
#include "ui/NavigationController.h"
#include "ui/PopoverController.h"
#include "ui/RemoteImageView.h"
#include "ui/TableView.h"

#include <QApplication>
#include <QBuffer>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace zrp;
using namespace zrp::ui;

namespace {

// Records its lifecycle calls by name.
class Probe : public ViewController
{
public:
    Probe(QString name, QStringList* log) : m_name(std::move(name)), m_log(log) { setTitle(m_name); }

protected:
    void viewDidLoad() override { *m_log << m_name + ":load"; }
    void viewWillAppear(bool) override { *m_log << m_name + ":willAppear"; }
    void viewDidAppear(bool) override { *m_log << m_name + ":didAppear"; }
    void viewWillDisappear(bool) override { *m_log << m_name + ":willDisappear"; }
    void viewDidDisappear(bool) override { *m_log << m_name + ":didDisappear"; }
    void viewDidUnload() override { *m_log << m_name + ":unload"; }

private:
    QString m_name;
    QStringList* m_log;
};

class Rows : public TableViewDataSource
{
public:
    QList<int> counts{2, 3};
    int numberOfSections(TableView*) override { return int(counts.size()); }
    int numberOfRowsInSection(TableView*, int s) override { return counts[s]; }
    QWidget* cellForRowAtIndexPath(TableView*, const IndexPath& p) override
    {
        return new QLabel(QStringLiteral("row %1.%2").arg(p.section).arg(p.row));
    }
    QString titleForHeaderInSection(TableView*, int s) override
    {
        return s == 0 ? QStringLiteral("First") : QString();
    }
};

QByteArray pngBytes()
{
    QImage img(8, 6, QImage::Format_RGB32);
    img.fill(Qt::red);
    QByteArray out;
    QBuffer b(&out);
    b.open(QIODevice::WriteOnly);
    img.save(&b, "PNG");
    return out;
}

} // namespace

class TestUi : public QObject
{
    Q_OBJECT

    QWidget* m_window = nullptr;

private slots:
    void init()
    {
        m_window = new QWidget;
        m_window->resize(1024, 768);
        setMainWindow(m_window);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
    }

    void cleanup()
    {
        delete m_window;
        m_window = nullptr;
        Clock::setShared(nullptr);
    }

    void viewIsBuiltLazilyAndUnloads()
    {
        QStringList log;
        Probe p(QStringLiteral("a"), &log);
        QVERIFY(!p.isViewLoaded());
        QWidget* v = p.view();
        QCOMPARE(p.view(), v);
        QCOMPARE(log, QStringList{"a:load"});
        QCOMPARE(v->size(), QSize(768, 948));
        p.unloadView();
        QVERIFY(!p.isViewLoaded());
        QCOMPARE(log.last(), QStringLiteral("a:unload"));
    }

    void navigationStackDrivesLifecycleInOrder()
    {
        QStringList log;
        auto* root = new Probe(QStringLiteral("root"), &log);
        NavigationController nav(root);
        nav.view()->setParent(m_window);
        nav.view()->show();
        nav.willAppear(false);
        nav.didAppear(false);
        QCOMPARE(log, (QStringList{"root:load", "root:willAppear", "root:didAppear"}));
        QVERIFY(!nav.backButton()->isVisible());

        log.clear();
        auto* child = new Probe(QStringLiteral("child"), &log);
        nav.pushViewController(child, true);
        QCOMPARE(log, (QStringList{"root:willDisappear", "child:willAppear", "child:load",
                                   "root:didDisappear", "child:didAppear"}));
        QCOMPARE(nav.topViewController(), child);
        QCOMPARE(child->navigationController(), &nav);
        QVERIFY(nav.backButton()->isVisible());
        QCOMPARE(nav.backButton()->text(), QStringLiteral("root")); // the previous screen's title

        log.clear();
        QPointer<ViewController> gone(child);
        QTest::mouseClick(nav.backButton(), Qt::LeftButton); // the user's way back
        QCOMPARE(log, (QStringList{"child:willDisappear", "root:willAppear", "child:didDisappear",
                                   "root:didAppear"}));
        QCOMPARE(nav.viewControllers().size(), 1);
        QTRY_VERIFY(gone.isNull());                               // deleted on a later turn
        QVERIFY(nav.popViewControllerAnimated(false) == nullptr); // never pops the root
    }

    void popoverDismissal_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("dismissed");
        QTest::addColumn<bool>("told");
        QTest::newRow("touch outside") << "outside" << true << true;
        QTest::newRow("touch on passthrough view") << "passthrough" << false << false;
        QTest::newRow("touch inside") << "inside" << false << false;
        QTest::newRow("escape key") << "escape" << true << true;
        QTest::newRow("by code") << "code" << true << false;
    }

    void popoverDismissal()
    {
        QFETCH(QString, how);
        QFETCH(bool, dismissed);
        QFETCH(bool, told);
        auto* anchor = new QPushButton(QStringLiteral("Fav"), m_window);
        anchor->setGeometry(900, 60, 60, 44);
        auto* bar = new QPushButton(QStringLiteral("Bar"), m_window);
        bar->setGeometry(10, 60, 80, 44);
        auto* elsewhere = new QPushButton(QStringLiteral("Else"), m_window);
        elsewhere->setGeometry(10, 600, 80, 44);
        m_window->show();

        QStringList log;
        Probe content(QStringLiteral("pop"), &log);
        content.setContentSizeForViewInPopover(QSize(320, 400));
        PopoverController pop(&content);
        pop.setPassthroughViews({bar});
        QSignalSpy userDismissed(&pop, &PopoverController::didDismissPopover);
        pop.presentPopoverFromRect(anchor->rect(), anchor, PopoverController::ArrowAny, true);
        QVERIFY(pop.isPopoverVisible());
        QCOMPARE(log, (QStringList{"pop:willAppear", "pop:load", "pop:didAppear"}));
        // Below the anchor, inside the window, arrow pointing up at it.
        QCOMPARE(pop.arrowDirection(), PopoverController::ArrowUp);
        QVERIFY(m_window->rect().contains(pop.frame()->geometry()));
        QVERIFY(pop.frame()->geometry().top() >= anchor->geometry().bottom());

        int elseClicks = 0;
        connect(elsewhere, &QPushButton::clicked, this, [&] { ++elseClicks; });
        if (how == "outside")
            QTest::mouseClick(elsewhere, Qt::LeftButton);
        else if (how == "passthrough")
            QTest::mouseClick(bar, Qt::LeftButton);
        else if (how == "inside")
            QTest::mouseClick(content.view(), Qt::LeftButton);
        else if (how == "escape")
            QTest::keyClick(pop.frame(), Qt::Key_Escape);
        else
            pop.dismissPopoverAnimated(true);
        QCOMPARE(!pop.isPopoverVisible(), dismissed);
        QCOMPARE(userDismissed.count(), told ? 1 : 0);
        QCOMPARE(elseClicks, 0); // the touch that dismisses does not reach what is under it
        if (dismissed)
            QCOMPARE(log.mid(log.size() - 2), (QStringList{"pop:willDisappear", "pop:didDisappear"}));
    }

    void alertButtonsTagAndKeys()
    {
        auto* alert = new AlertView(QStringLiteral("Connection Issue"), QStringLiteral("Couldn't connect"),
                                    QStringLiteral("Cancel"), {QStringLiteral("Retry")});
        alert->setTag(2);
        QPointer<AlertView> guard(alert);
        QSignalSpy clicked(alert, &AlertView::clickedButtonAtIndex);
        QSignalSpy dismissed(alert, &AlertView::didDismissWithButtonIndex);
        alert->show();
        QCOMPARE(AlertView::visibleAlerts(), QList<AlertView*>{alert});
        QCOMPARE(alert->tag(), 2);
        QCOMPARE(alert->buttonTitleAtIndex(0), QStringLiteral("Cancel"));
        QCOMPARE(alert->cancelButtonIndex(), 0);
        // The buttons are real widgets a finger (or a test) can press.
        auto* retry = alert->widget()->findChild<QPushButton*>(QStringLiteral("AlertButton1"));
        QVERIFY(retry);
        QCOMPARE(retry->text(), QStringLiteral("Retry"));
        QVERIFY(retry->height() >= Theme::minimumTouchTarget);
        QTest::mouseClick(retry, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(clicked.at(0).at(0).toInt(), 1);
        QCOMPARE(dismissed.at(0).at(0).toInt(), 1);
        QVERIFY(AlertView::visibleAlerts().isEmpty());
        QTRY_VERIFY(guard.isNull()); // parentless alerts clean up after themselves

        // Escape is the cancel button, Enter the last one.
        AlertView keys(QStringLiteral("T"), QString(), QStringLiteral("Cancel"), {QStringLiteral("OK")},
                       this);
        QSignalSpy keyClicks(&keys, &AlertView::clickedButtonAtIndex);
        keys.show();
        QTest::keyClick(keys.widget(), Qt::Key_Escape);
        keys.show();
        QTest::keyClick(keys.widget(), Qt::Key_Return);
        QCOMPARE(keyClicks.count(), 2);
        QCOMPARE(keyClicks.at(0).at(0).toInt(), 0);
        QCOMPARE(keyClicks.at(1).at(0).toInt(), 1);
    }

    void alertTextsAreNeverMarkup()
    {
        // Texts come from push messages, survey answers and links typed anywhere.
        const QString title = QStringLiteral("<b>Tonight</b>");
        const QString message = QStringLiteral("<img src=\"file:///etc/passwd\"> & more");
        AlertView alert(title, message, QStringLiteral("OK"), {}, this);
        alert.show();
        for (const char* name : {"AlertTitle", "AlertMessage"}) {
            auto* label = alert.widget()->findChild<QLabel*>(QString::fromLatin1(name));
            QVERIFY(label);
            QCOMPARE(label->textFormat(), Qt::PlainText);
        }
        QCOMPARE(alert.widget()->findChild<QLabel*>(QStringLiteral("AlertTitle"))->text(), title);
        alert.dismissWithClickedButtonIndex(0, false);
    }

    void alertDismissedByCodeAndShownAgainFromItsHandler()
    {
        AlertView alert(QStringLiteral("Again"), QString(), QStringLiteral("Cancel"),
                        {QStringLiteral("Retry")}, this);
        QSignalSpy clicked(&alert, &AlertView::clickedButtonAtIndex);
        QSignalSpy dismissed(&alert, &AlertView::didDismissWithButtonIndex);
        alert.show();
        alert.dismissWithClickedButtonIndex(-1, false);
        QCOMPARE(clicked.count(), 0);
        QCOMPARE(dismissed.count(), 1);
        QVERIFY(!alert.isVisible());

        // A "Retry" that is still offline shows the same alert again from its handler.
        connect(&alert, &AlertView::clickedButtonAtIndex, this, [&](int i) {
            if (i == 1)
                alert.show();
        });
        alert.show();
        alert.clickButtonAtIndex(1);
        QVERIFY(alert.isVisible());
        QCOMPARE(AlertView::visibleAlerts(), QList<AlertView*>{&alert});
        alert.clickButtonAtIndex(0);
        QVERIFY(!alert.isVisible());
    }

    void actionSheetTouchOutsideIsCancel()
    {
        auto* anchor = new QPushButton(QStringLiteral("Share"), m_window);
        anchor->setGeometry(400, 300, 80, 44);
        auto* elsewhere = new QPushButton(QStringLiteral("Else"), m_window);
        elsewhere->setGeometry(10, 700, 80, 44);
        ActionSheet sheet(QStringLiteral("Share"), this);
        const int mail = sheet.addButtonWithTitle(QStringLiteral("Email"));
        const int cancel = sheet.addButtonWithTitle(QStringLiteral("Cancel"));
        sheet.setCancelButtonIndex(cancel);
        QSignalSpy clicked(&sheet, &ActionSheet::clickedButtonAtIndex);
        sheet.showFromRect(anchor->rect(), anchor, true);
        QVERIFY(sheet.isVisible());
        QCOMPARE(ActionSheet::visibleSheets(), QList<ActionSheet*>{&sheet});
        QVERIFY(!sheet.widget()->findChild<QPushButton*>(QStringLiteral("ActionSheetButton%1").arg(cancel)));
        QTest::mouseClick(elsewhere, Qt::LeftButton);
        QVERIFY(!sheet.isVisible());
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(clicked.at(0).at(0).toInt(), cancel);

        sheet.showFromRect(anchor->rect(), anchor, true);
        auto* b = sheet.widget()->findChild<QPushButton*>(QStringLiteral("ActionSheetButton%1").arg(mail));
        QVERIFY(b);
        QTest::mouseClick(b, Qt::LeftButton);
        QCOMPARE(clicked.count(), 2);
        QCOMPARE(clicked.at(1).at(0).toInt(), mail);
        QVERIFY(ActionSheet::visibleSheets().isEmpty());
    }

    void loadingOverlayCentredAndSpinsOnTheClock()
    {
        VirtualClock clock;
        VirtualClock::Scope scope(clock);
        LoadingOverlay overlay(m_window);
        QCOMPARE(overlay.size(), QSize(200, 200));
        QCOMPARE(overlay.labelText(), QStringLiteral("Loading"));
        overlay.show(true);
        QVERIFY(overlay.isShowing());
        QCOMPARE(overlay.geometry().center(), m_window->rect().center());
        m_window->resize(1200, 900);
        QCoreApplication::processEvents();
        QCOMPARE(overlay.geometry().center(), m_window->rect().center());
        const int step = overlay.spinnerStep();
        clock.advance(80 * 3);
        QCOMPARE(overlay.spinnerStep(), (step + 3) % 12);
        overlay.hide(true);
        QVERIFY(!overlay.isShowing());
        QCOMPARE(clock.pendingTimerCount(), 0);
    }

    void tableSectionsTapsAndKeys()
    {
        Rows rows;
        TableView table(m_window);
        table.setGeometry(0, 0, 400, 600);
        table.setDataSource(&rows);
        table.reloadData();
        table.show();
        QCOMPARE(table.numberOfSections(), 2);
        QCOMPARE(table.numberOfRowsInSection(1), 3);
        QVERIFY(table.findChild<QLabel*>(QStringLiteral("TableSectionHeader")));
        QSignalSpy selected(&table, &TableView::didSelectRowAtIndexPath);
        QTest::mouseClick(table.cellForRowAtIndexPath({1, 2}), Qt::LeftButton);
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.at(0).at(0).value<IndexPath>(), (IndexPath{1, 2}));

        // Keyboard: up twice crosses into the first section, Enter chooses.
        table.setFocus();
        QTest::keyClick(&table, Qt::Key_Up);
        QTest::keyClick(&table, Qt::Key_Up);
        QTest::keyClick(&table, Qt::Key_Up);
        QCOMPARE(table.selectedIndexPath(), (IndexPath{0, 1}));
        QTest::keyClick(&table, Qt::Key_Return);
        QCOMPARE(selected.count(), 2);
        QCOMPARE(selected.at(1).at(0).value<IndexPath>(), (IndexPath{0, 1}));

        rows.counts = {1};
        table.reloadData();
        QCOMPARE(table.numberOfSections(), 1);
        QVERIFY(!table.hasSelection());
    }

    void remoteImageLoadsKeepsDefaultOnErrorsAndCancels()
    {
        test::LoopbackServer server;
        server.on("/ok.png", test::LoopbackServer::Answer(200, pngBytes()));
        server.on("/missing.png", test::LoopbackServer::Answer(404, "<html>not here</html>"));
        server.on("/page.png", test::LoopbackServer::Answer(200, "<html>a page, not an image</html>"));
        test::LoopbackServer::Answer held(200, pngBytes());
        held.hold = true;
        server.on("/slow.png", held);

        QImage fallback(4, 4, QImage::Format_RGB32);
        fallback.fill(Qt::blue);
        RemoteImageView view(m_window);
        view.setDefaultImage(fallback);
        view.setUserInfo(QStringLiteral("WZRP"));
        QSignalSpy loaded(&view, &RemoteImageView::imageDidLoad);
        QSignalSpy failed(&view, &RemoteImageView::imageDidFail);

        view.setImageURL(server.url(QStringLiteral("/ok.png")));
        QVERIFY(view.isLoading());
        QTRY_COMPARE(loaded.count(), 1);
        QVERIFY(view.hasLoadedImage());
        QCOMPARE(view.image().size(), QSize(8, 6));
        QCOMPARE(view.userInfo().toString(), QStringLiteral("WZRP"));

        for (const char* path : {"/missing.png", "/page.png"}) {
            const int before = int(failed.count());
            view.setImageURL(server.url(QString::fromLatin1(path)));
            QVERIFY(!view.hasLoadedImage()); // the default shows while loading
            QTRY_COMPARE(int(failed.count()), before + 1);
            QVERIFY(!view.hasLoadedImage());
        }

        // A new URL cancels the load in progress: the old answer never lands.
        view.setImageURL(server.url(QStringLiteral("/slow.png")));
        QTRY_COMPARE(server.requestCount("/slow.png"), 1);
        view.setImageURL(QUrl());
        QVERIFY(!view.isLoading());
        server.releaseHeld();
        QTest::qWait(50);
        QCOMPARE(loaded.count(), 1);
        QVERIFY(!view.hasLoadedImage());
    }
};

QTEST_MAIN(TestUi)
#include "test_ui.moc"
