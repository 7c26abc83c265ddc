// The outside facilities against the embedded network: the rating prompt's due rules on the
// virtual clock, survey invitations, and audience beacons.

#include "SandboxServer.h"
#include "core/Clock.h"
#include "core/Config.h"
#include "core/Device.h"
#include "net/Reachability.h"
#include "outside/AudienceMeter.h"
#include "outside/RatingPrompt.h"
#include "outside/SurveyInvitations.h"
#include "store/KeyValueStore.h"
#include "ui/AlertView.h"
#include "ui/Kit.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

using namespace zrp;
using namespace zrp::ui;

namespace {

struct Answer
{
    int status = 0;
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

// A plain Qt request, independent of the client code under test.
Answer fetch(const QByteArray& method, const QUrl& url, const QByteArray& body = {})
{
    QNetworkAccessManager nam;
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    QNetworkReply* reply = nam.sendCustomRequest(request, method, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    Answer a{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
    reply->deleteLater();
    return a;
}

AlertView* onlyAlert()
{
    const QList<AlertView*> alerts = AlertView::visibleAlerts();
    return alerts.size() == 1 ? alerts.first() : nullptr;
}

// Presses the alert's button with that title the way a finger does.
bool press(AlertView* alert, const QString& title)
{
    for (int i = 0; alert && i < alert->numberOfButtons(); ++i) {
        if (alert->buttonTitleAtIndex(i) != title)
            continue;
        auto* button = alert->widget()->findChild<QPushButton*>(QStringLiteral("AlertButton%1").arg(i));
        if (!button)
            return false;
        QTest::mouseClick(button, Qt::LeftButton);
        return true;
    }
    return false;
}

} // namespace

class TestOutside : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<SandboxServer> m_sandbox;
    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<VirtualClock> m_clock;
    std::unique_ptr<KeyValueStore> m_store;
    std::unique_ptr<FakeReachability> m_reach;
    QList<QUrl> m_opened;

    QUrl sandbox(const QString& path) const { return QUrl(m_sandbox->baseUrl().toString() + path); }

    QJsonArray requests(const QString& prefix) const
    {
        return fetch("GET", sandbox(QStringLiteral("/_sandbox/requests?prefix=") + prefix))
            .json()
            .value(QStringLiteral("requests"))
            .toArray();
    }

    void setSurvey(const QJsonObject& setting)
    {
        QCOMPARE(fetch("POST", sandbox(QStringLiteral("/_sandbox/survey")), QJsonDocument(setting).toJson())
                     .status,
                 200);
    }

    std::unique_ptr<RatingPrompt> newPrompt(const QString& version)
    {
        auto p = std::make_unique<RatingPrompt>(m_store.get(), m_reach.get());
        p->setApplicationVersion(version);
        p->setAppId(QStringLiteral("583104729"));
        p->setDaysUntilPrompt(0);
        p->setUsesUntilPrompt(0);
        p->setTimeBeforeReminding(1);
        p->setSignificantEventsUntilPrompt(0);
        return p;
    }

    std::unique_ptr<SurveyInvitations> newInvitations()
    {
        auto s = std::make_unique<SurveyInvitations>(m_store.get());
        s->initWithCustomerId(Config::shared().value(QStringLiteral("survey.customer_id")));
        return s;
    }

private slots:
    void initTestCase()
    {
        m_sandbox = std::make_unique<SandboxServer>();
        QVERIFY(m_sandbox->start());
        Config::shared().rebindToSandbox(m_sandbox->baseUrl());
        Config::shared().setDataDir(m_dir.path());
        m_window = std::make_unique<QWidget>();
        m_window->resize(1024, 768);
        setMainWindow(m_window.get());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanupTestCase()
    {
        setMainWindow(nullptr);
        m_window.reset();
        m_sandbox.reset();
    }

    void init()
    {
        QCOMPARE(fetch("POST", sandbox(QStringLiteral("/_sandbox/reset"))).status, 200);
        m_clock = std::make_unique<VirtualClock>();
        Clock::setShared(m_clock.get());
        static int n = 0;
        m_store = std::make_unique<KeyValueStore>(m_dir.filePath(QStringLiteral("s%1.sqlite").arg(++n)));
        m_reach = std::make_unique<FakeReachability>(Reachability::ReachableViaWiFi);
        m_opened.clear();
        // What the prompts would have opened, instead of a browser.
        setExternalUrlOpenerForTesting([this](const QUrl& u) {
            m_opened << u;
            return true;
        });
    }

    void cleanup()
    {
        setExternalUrlOpenerForTesting({});
        for (AlertView* a : AlertView::visibleAlerts())
            a->dismissWithClickedButtonIndex(-1, false);
        Config::shared().setValue(QStringLiteral("rating.enabled"), QStringLiteral("true"));
        Config::shared().setValue(QStringLiteral("survey.enabled"), QStringLiteral("true"));
        Clock::setShared(nullptr);
        m_clock.reset();
        m_reach.reset();
        m_store.reset();
    }

    // Rating prompt: the first launch (all thresholds 0) shows the prompt and gets `answer`; then
    // the row's thresholds apply, the version may change, time passes, uses and events are
    // counted, and one more return to the foreground decides whether the prompt is due.
    void ratingDueRules_data()
    {
        QTest::addColumn<double>("days");
        QTest::addColumn<int>("uses");
        QTest::addColumn<int>("events");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("newVersion");
        QTest::addColumn<int>("hoursLater");
        QTest::addColumn<int>("moreUses");
        QTest::addColumn<int>("moreEvents");
        QTest::addColumn<bool>("due");

        const QString none, no = "No, Thanks", rate = "Rate ZRP", later = "Remind Me Later";
        QTest::newRow("unanswered, nothing required")
            << 0.0 << 0 << 0 << none << false << 0 << 0 << 0 << true;
        QTest::newRow("3 days: 71 hours") << 3.0 << 0 << 0 << none << false << 71 << 0 << 0 << false;
        QTest::newRow("3 days: 72 hours") << 3.0 << 0 << 0 << none << false << 72 << 0 << 0 << true;
        // The first launch and the deciding return count too: 1 + 2 + 1.
        QTest::newRow("5 uses: 4") << 0.0 << 5 << 0 << none << false << 0 << 2 << 0 << false;
        QTest::newRow("5 uses: 5") << 0.0 << 5 << 0 << none << false << 0 << 3 << 0 << true;
        QTest::newRow("2 events: 1") << 0.0 << 0 << 2 << none << false << 0 << 0 << 1 << false;
        QTest::newRow("2 events: 2") << 0.0 << 0 << 2 << none << false << 0 << 0 << 2 << true;
        QTest::newRow("reminder: 23 hours") << 0.0 << 0 << 0 << later << false << 23 << 0 << 0 << false;
        QTest::newRow("reminder: 24 hours") << 0.0 << 0 << 0 << later << false << 24 << 0 << 0 << true;
        QTest::newRow("reminder, new version") << 0.0 << 0 << 0 << later << true << 1 << 0 << 0 << true;
        QTest::newRow("declined") << 0.0 << 0 << 0 << no << false << 500 << 0 << 0 << false;
        QTest::newRow("declined, new version") << 0.0 << 0 << 0 << no << true << 500 << 0 << 0 << false;
        QTest::newRow("rated this version") << 0.0 << 0 << 0 << rate << false << 500 << 0 << 0 << false;
        QTest::newRow("rated, new version") << 0.0 << 0 << 0 << rate << true << 0 << 0 << 0 << true;
        // The new version's first use is the deciding return, after the 72 hours.
        QTest::newRow("new version restarts the days")
            << 2.0 << 0 << 0 << none << true << 72 << 0 << 0 << false;
        QTest::newRow("new version restarts the uses")
            << 0.0 << 3 << 0 << none << true << 0 << 1 << 0 << false;
    }

    void ratingDueRules()
    {
        QFETCH(double, days);
        QFETCH(int, uses);
        QFETCH(int, events);
        QFETCH(QString, answer);
        QFETCH(bool, newVersion);
        QFETCH(int, hoursLater);
        QFETCH(int, moreUses);
        QFETCH(int, moreEvents);
        QFETCH(bool, due);

        std::unique_ptr<RatingPrompt> prompt = newPrompt(QStringLiteral("1.0"));
        prompt->appLaunched(true);
        QTRY_VERIFY(prompt->alert());
        if (answer.isEmpty())
            prompt->alert()->dismissWithClickedButtonIndex(-1, false); // closed by the app, not answered
        else
            QVERIFY(press(prompt->alert(), answer));
        QVERIFY(AlertView::visibleAlerts().isEmpty());

        prompt->setDaysUntilPrompt(days);
        prompt->setUsesUntilPrompt(uses);
        prompt->setSignificantEventsUntilPrompt(events);
        if (newVersion)
            prompt->setApplicationVersion(QStringLiteral("1.1"));
        m_clock->advance(qint64(hoursLater) * 3600 * 1000);
        for (int i = 0; i < moreUses; ++i)
            prompt->appLaunched(false);
        for (int i = 0; i < moreEvents; ++i)
            prompt->userDidSignificantEvent(false);
        prompt->appEnteredForeground(true);

        QCOMPARE(prompt->ratingConditionsHaveBeenMet(), due);
        QVERIFY(!prompt->alert()); // never inside the caller's stack
        if (due)
            QTRY_VERIFY(prompt->alert());
        QCoreApplication::processEvents();
        QCOMPARE(AlertView::visibleAlerts().size(), due ? 1 : 0);

        // What was decided survives a restart: a new prompt on the same store agrees.
        std::unique_ptr<RatingPrompt> again =
            newPrompt(newVersion ? QStringLiteral("1.1") : QStringLiteral("1.0"));
        again->setDaysUntilPrompt(days);
        again->setUsesUntilPrompt(uses);
        again->setSignificantEventsUntilPrompt(events);
        QCOMPARE(again->ratingConditionsHaveBeenMet(), due);
    }

    void ratingPromptShowsOnceOnlineAndOpensTheStore()
    {
        // Turned off: nothing counted, nothing shown.
        Config::shared().setValue(QStringLiteral("rating.enabled"), QStringLiteral("false"));
        std::unique_ptr<RatingPrompt> prompt = newPrompt(QStringLiteral("1.0"));
        prompt->appLaunched(true);
        QCoreApplication::processEvents();
        QCOMPARE(prompt->useCount(), 0);
        QVERIFY(AlertView::visibleAlerts().isEmpty());
        Config::shared().setValue(QStringLiteral("rating.enabled"), QStringLiteral("true"));

        // Offline: due, but not shown, since the store could not be reached.
        m_reach->setStatus(Reachability::NotReachable);
        prompt->appLaunched(true);
        QCoreApplication::processEvents();
        QVERIFY(prompt->ratingConditionsHaveBeenMet());
        QVERIFY(AlertView::visibleAlerts().isEmpty());

        // Online: one prompt, however many uses are counted while it is pending or on screen.
        m_reach->setStatus(Reachability::ReachableViaWiFi);
        prompt->appLaunched(true);
        prompt->appEnteredForeground(true);
        QTRY_VERIFY(onlyAlert());
        prompt->userDidSignificantEvent(true);
        prompt->appEnteredForeground(true);
        QCoreApplication::processEvents();
        QCOMPARE(prompt->useCount(), 4);
        QCOMPARE(prompt->significantEventCount(), 1);
        AlertView* alert = onlyAlert();
        QVERIFY(alert);
        QCOMPARE(alert, prompt->alert());
        QCOMPARE(alert->title(), QStringLiteral("Rate ZRP"));
        QCOMPARE(alert->message(),
                 QStringLiteral("If you enjoy using ZRP, would you mind taking a moment to rate "
                                "it? It won't take more than a minute. Thanks for your support!"));
        QCOMPARE(alert->numberOfButtons(), 3);
        QCOMPARE(alert->buttonTitleAtIndex(0), QStringLiteral("No, Thanks"));
        QCOMPARE(alert->buttonTitleAtIndex(1), QStringLiteral("Rate ZRP"));
        QCOMPARE(alert->buttonTitleAtIndex(2), QStringLiteral("Remind Me Later"));

        QVERIFY(press(alert, QStringLiteral("Rate ZRP")));
        QCOMPARE(m_opened.size(), 1);
        const QUrl store = Config::shared().url(QStringLiteral("store.app_url"));
        QCOMPARE(m_opened[0].adjusted(QUrl::RemoveQuery), store);
        QCOMPARE(QUrlQuery(m_opened[0]).queryItemValue(QStringLiteral("id")), QStringLiteral("583104729"));
        QVERIFY(prompt->hasRatedCurrentVersion());
        prompt->appLaunched(true);
        QCoreApplication::processEvents();
        QVERIFY(AlertView::visibleAlerts().isEmpty());
    }

    // Survey: a launch count of 2 asks the service from the second check on; the answer decides.
    void surveyEligibility_data()
    {
        QTest::addColumn<QJsonObject>("setting");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("message");

        QTest::newRow("not eligible") << QJsonObject{{"eligible", false}} << QString() << QString();
        QTest::newRow("eligible, no texts")
            << QJsonObject{{"eligible", true}} << SurveyInvitations::fallbackTitle()
            << SurveyInvitations::fallbackMessage();
        QTest::newRow("eligible, own texts")
            << QJsonObject{{"eligible", true},
                           {"title", "Two minutes?"},
                           {"message", "Tell us what to improve."}}
            << QStringLiteral("Two minutes?") << QStringLiteral("Tell us what to improve.");
    }

    void surveyEligibility()
    {
        QFETCH(QJsonObject, setting);
        QFETCH(QString, title);
        QFETCH(QString, message);
        setSurvey(setting);

        std::unique_ptr<SurveyInvitations> survey = newInvitations();
        survey->addMeasure(QStringLiteral("ipad_app"), 2);
        survey->checkEligibility();
        QCOMPARE(survey->launches(QStringLiteral("ipad_app")), 1);
        QCOMPARE(survey->requestsInFlight(), 0);

        survey->checkEligibility();
        QTRY_COMPARE(survey->requestsInFlight(), 0);
        const QJsonArray asked = requests(QStringLiteral("/survey/"));
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].toObject().value(QStringLiteral("status")).toInt(), 200);
        const QUrlQuery q(asked[0].toObject().value(QStringLiteral("query")).toString());
        // The customer id holds "+" and "/": they must arrive as sent.
        QCOMPARE(q.queryItemValue(QStringLiteral("customer"), QUrl::FullyDecoded),
                 Config::shared().value(QStringLiteral("survey.customer_id")));
        QCOMPARE(q.queryItemValue(QStringLiteral("survey")), QStringLiteral("ipad_app"));
        QCOMPARE(q.queryItemValue(QStringLiteral("launches")), QStringLiteral("2"));
        QCOMPARE(q.queryItemValue(QStringLiteral("device")), Device::uniqueDeviceIdentifier());

        QCoreApplication::processEvents();
        if (title.isEmpty()) {
            QVERIFY(AlertView::visibleAlerts().isEmpty());
            return;
        }
        AlertView* alert = onlyAlert();
        QVERIFY(alert);
        QCOMPARE(alert->title(), title);
        QCOMPARE(alert->message(), message);
        QCOMPARE(alert->buttonTitleAtIndex(0), QStringLiteral("No, Thanks"));
        QCOMPARE(alert->buttonTitleAtIndex(1), QStringLiteral("Take Survey"));
    }

    // Eligible: one invitation; the answer is kept, so after a restart nobody asks again.
    void surveyAnswerIsKept_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("opens");
        QTest::newRow("Take Survey") << QStringLiteral("Take Survey") << true;
        QTest::newRow("No, Thanks") << QStringLiteral("No, Thanks") << false;
    }

    void surveyAnswerIsKept()
    {
        QFETCH(QString, button);
        QFETCH(bool, opens);
        setSurvey(QJsonObject{{"eligible", true}});

        std::unique_ptr<SurveyInvitations> survey = newInvitations();
        survey->addMeasure(QStringLiteral("ipad_app"), 0);
        survey->checkEligibility();
        QTRY_VERIFY(survey->alert());
        survey->checkEligibility(); // a second eligible answer while one invitation is up
        QTRY_COMPARE(survey->requestsInFlight(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(AlertView::visibleAlerts().size(), 1);

        QVERIFY(press(survey->alert(), button));
        QVERIFY(AlertView::visibleAlerts().isEmpty());
        if (opens) {
            QCOMPARE(m_opened.size(), 1);
            QCOMPARE(m_opened[0], sandbox(QStringLiteral("/survey/take/ipad_app")));
            const Answer page = fetch("GET", m_opened[0]);
            QCOMPARE(page.status, 200);
            QVERIFY(page.body.contains("<html>"));
        } else {
            QVERIFY(m_opened.isEmpty());
        }

        const int asked = requests(QStringLiteral("/survey/")).size();
        survey.reset();
        std::unique_ptr<SurveyInvitations> restarted = newInvitations();
        restarted->addMeasure(QStringLiteral("ipad_app"), 0);
        restarted->checkEligibility();
        QCOMPARE(restarted->launches(QStringLiteral("ipad_app")), 3);
        QCOMPARE(restarted->requestsInFlight(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(requests(QStringLiteral("/survey/")).size(), asked);
        QVERIFY(AlertView::visibleAlerts().isEmpty());
    }

    // A failing service shows nothing and keeps nothing: the next launch asks again. (Qt sends a
    // request again by itself when a kept-alive connection drops, hence more than one fault.)
    void surveySilentOnFailure_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("HTTP 503") << QStringLiteral("prefix=/survey/,count=3,status=503");
        QTest::newRow("dropped connection") << QStringLiteral("prefix=/survey/,count=3,drop=true");
        QTest::newRow("corrupted body") << QStringLiteral("prefix=/survey/,count=3,corrupt=true");
    }

    void surveySilentOnFailure()
    {
        QFETCH(QString, fault);
        setSurvey(QJsonObject{{"eligible", true}});
        QString error;
        QVERIFY2(m_sandbox->addFault(fault, &error), qPrintable(error));

        std::unique_ptr<SurveyInvitations> survey = newInvitations();
        survey->addMeasure(QStringLiteral("ipad_app"), 0);
        survey->checkEligibility();
        QTRY_COMPARE(survey->requestsInFlight(), 0);
        QCoreApplication::processEvents();
        QVERIFY(AlertView::visibleAlerts().isEmpty());
        QCOMPARE(survey->answer(QStringLiteral("ipad_app")), SurveyInvitations::Answer::None);

        QCOMPARE(fetch("DELETE", sandbox(QStringLiteral("/_sandbox/faults"))).status, 200);
        survey->checkEligibility();
        QTRY_VERIFY(survey->alert());
    }

    void audienceBeaconCarriesTheCustomerIdButNotTheSecret()
    {
        const QString customer = Config::shared().value(QStringLiteral("audience.customer_id"));
        const QString secret = Config::shared().value(QStringLiteral("audience.secret"));
        AudienceMeter meter;
        QVERIFY(meter.notifyStart(customer, secret));
        meter.notifyForeground();
        QUrl beaconsURL = sandbox(QStringLiteral("/_sandbox/audience"));
        QTRY_COMPARE(fetch("GET", beaconsURL).json().value(QStringLiteral("beacons")).toArray().size(), 2);

        const QJsonArray beacons = fetch("GET", beaconsURL).json().value(QStringLiteral("beacons")).toArray();
        const QByteArray visitor =
            QCryptographicHash::hash((Device::uniqueDeviceIdentifier() + secret).toUtf8(),
                                     QCryptographicHash::Md5)
                .toHex();
        QStringList events; // the two beacons travel side by side: either may arrive first
        for (const QJsonValue& v : beacons) {
            const QJsonObject b = v.toObject();
            const QJsonObject p = b.value(QStringLiteral("params")).toObject();
            events << p.value(QStringLiteral("ev")).toString();
            QCOMPARE(p.value(QStringLiteral("c2")).toString(), customer);
            QCOMPARE(p.value(QStringLiteral("vid")).toString().toLatin1(), visitor);
            QCOMPARE(p.value(QStringLiteral("app")).toString(), Bundle::name());
            QCOMPARE(p.value(QStringLiteral("ver")).toString(), Bundle::version());
            QCOMPARE(p.value(QStringLiteral("ts")).toString().toLongLong(), m_clock->secondsSince1970());
            QVERIFY(!b.value(QStringLiteral("query")).toString().contains(secret));
        }
        events.sort();
        QCOMPARE(events, (QStringList{"foreground", "start"}));
        for (const QJsonValue& r : requests(QStringLiteral("/audience/")))
            QVERIFY(!QJsonDocument(r.toObject()).toJson().contains(secret.toUtf8()));

        // Malformed ids send nothing; a refused beacon is logged and dropped, never retried.
        AudienceMeter bad;
        QVERIFY(!bad.notifyStart(QStringLiteral("12345"), secret));
        QVERIFY(!bad.notifyStart(customer, QStringLiteral("too-short")));
        QCOMPARE(bad.beaconsInFlight(), 0);
        QVERIFY(m_sandbox->addFault(QStringLiteral("prefix=/audience/,count=1,status=503")));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("beacon was refused with HTTP 503")));
        meter.notifyBackground();
        QTRY_COMPARE(meter.beaconsInFlight(), 0);
        QCOMPARE(requests(QStringLiteral("/audience/")).size(), 3);
    }

    // The sandbox's own reading of a beacon: it refuses what the measurement side would discard.
    void sandboxRefusesMalformedBeacons_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("status");
        const QString vid = QStringLiteral("0123456789abcdef0123456789abcdef");
        const QString rest = QStringLiteral("&vid=%1&app=ZRP&ver=2.4&ts=1767614400").arg(vid);
        QTest::newRow("good") << QStringLiteral("c2=6042817&ev=start") + rest << 204;
        QTest::newRow("6-digit customer") << QStringLiteral("c2=604281&ev=start") + rest << 400;
        QTest::newRow("unknown event") << QStringLiteral("c2=6042817&ev=resume") + rest << 400;
        QTest::newRow("secret in clear")
            << QStringLiteral("c2=6042817&ev=start&vid=b7Qx2Lm9Rt4Vz8Kp1&app=ZRP&ver=2.4&ts=1") << 400;
    }

    void sandboxRefusesMalformedBeacons()
    {
        QFETCH(QString, query);
        QFETCH(int, status);
        QCOMPARE(fetch("GET", sandbox(QStringLiteral("/audience/beacon?") + query)).status, status);
        QCOMPARE(fetch("GET", sandbox(QStringLiteral("/_sandbox/audience")))
                     .json()
                     .value(QStringLiteral("beacons"))
                     .toArray()
                     .size(),
                 status == 204 ? 1 : 0);
    }
};

QTEST_MAIN(TestOutside)
#include "test_outside.moc"
