#include "SurveyInvitations.h"

#include "core/Config.h"
#include "core/Device.h"
#include "core/Text.h"
#include "net/HttpClient.h"
#include "store/KeyValueStore.h"
#include "ui/AlertView.h"
#include "ui/Kit.h"

#include <QJsonObject>
#include <QRegularExpression>
#include <memory>

namespace zrp {

namespace {

QString launchesKey(const QString& surveyId)
{
    return QStringLiteral("zrp.survey.%1.launches").arg(surveyId);
}

QString answerKey(const QString& surveyId)
{
    return QStringLiteral("zrp.survey.%1.answer").arg(surveyId);
}

std::unique_ptr<SurveyInvitations>& sharedInvitations()
{
    static std::unique_ptr<SurveyInvitations> invitations;
    return invitations;
}

} // namespace

QString SurveyInvitations::fallbackTitle()
{
    return QStringLiteral("We'd welcome your feedback");
}

QString SurveyInvitations::fallbackMessage()
{
    return QStringLiteral("Would you take a short survey about the ZRP app?");
}

SurveyInvitations::SurveyInvitations(KeyValueStore* store, HttpClient* http, QObject* parent)
    : QObject(parent), m_store(store)
{
    setHttpClient(http);
}

SurveyInvitations::~SurveyInvitations()
{
    for (const QPointer<HttpTask>& t : std::as_const(m_tasks))
        if (t)
            t->cancel();
    if (m_alert)
        delete m_alert.data();
}

SurveyInvitations* SurveyInvitations::sharedInstance()
{
    if (!sharedInvitations())
        sharedInvitations() = std::make_unique<SurveyInvitations>();
    return sharedInvitations().get();
}

void SurveyInvitations::resetSharedInstance()
{
    sharedInvitations().reset();
}

void SurveyInvitations::setStore(KeyValueStore* store)
{
    m_store = store;
}

KeyValueStore* SurveyInvitations::store() const
{
    return m_store ? m_store : KeyValueStore::shared();
}

void SurveyInvitations::setHttpClient(HttpClient* http)
{
    m_http = http;
    m_ownClient = !http;
}

HttpClient* SurveyInvitations::http() const
{
    return m_ownClient ? &HttpClient::shared() : m_http.data();
}

bool SurveyInvitations::isValidCustomerId(const QString& id)
{
    static const QRegularExpression base64(QStringLiteral("^[A-Za-z0-9+/]{22}[A-Za-z0-9+/=]{2}$"));
    return base64.match(id).hasMatch();
}

bool SurveyInvitations::initWithCustomerId(const QString& customerId)
{
    if (!isValidCustomerId(customerId)) {
        qWarning("SurveyInvitations: the customer id must be 24 characters of Base64; no survey is offered");
        m_customerId.clear();
        return false;
    }
    m_customerId = customerId;
    return true;
}

void SurveyInvitations::addMeasure(const QString& surveyId, int launchCount)
{
    if (surveyId.isEmpty())
        return;
    for (Measure& m : m_measures) {
        if (m.surveyId == surveyId) {
            m.launchCount = launchCount;
            return;
        }
    }
    m_measures.append({surveyId, launchCount});
}

QStringList SurveyInvitations::surveyIds() const
{
    QStringList out;
    for (const Measure& m : m_measures)
        out << m.surveyId;
    return out;
}

bool SurveyInvitations::isEnabled() const
{
    return Config::shared().boolValue(QStringLiteral("survey.enabled"), true);
}

int SurveyInvitations::launches(const QString& surveyId) const
{
    const std::optional<QCborValue> v = store()->value(launchesKey(surveyId));
    return v && v->isInteger() ? int(v->toInteger()) : 0;
}

SurveyInvitations::Answer SurveyInvitations::answer(const QString& surveyId) const
{
    const std::optional<QCborValue> v = store()->value(answerKey(surveyId));
    if (!v)
        return Answer::None;
    if (v->toString() == QLatin1String("accepted"))
        return Answer::Accepted;
    if (v->toString() == QLatin1String("declined"))
        return Answer::Declined;
    return Answer::None;
}

int SurveyInvitations::requestsInFlight() const
{
    int n = 0;
    for (const QPointer<HttpTask>& t : m_tasks)
        if (t && !t->isFinished())
            ++n;
    return n;
}

ui::AlertView* SurveyInvitations::alert() const
{
    return m_alert && m_alert->isVisible() ? m_alert.data() : nullptr;
}

void SurveyInvitations::checkEligibility()
{
    if (!isEnabled() || m_customerId.isEmpty())
        return;
    for (const Measure& m : std::as_const(m_measures)) {
        const int count = launches(m.surveyId) + 1;
        Error error;
        if (!store()->setValue(launchesKey(m.surveyId), qint64(count), &error))
            qWarning("SurveyInvitations: the launch could not be counted: %s",
                     qPrintable(error.description()));
        // A viewer who answered once is not asked again, not even by the service.
        if (answer(m.surveyId) == Answer::None && count >= m.launchCount)
            ask(m.surveyId, count);
    }
}

void SurveyInvitations::ask(const QString& surveyId, int launches)
{
    const QString base = Config::shared().value(QStringLiteral("survey.base_url"));
    const QList<std::pair<const char*, QString>> params = {
        {"customer", m_customerId},
        {"survey", surveyId},
        {"launches", QString::number(launches)},
        {"device", Device::uniqueDeviceIdentifier()},
    };
    QString query;
    for (const auto& [name, value] : params) {
        if (!query.isEmpty())
            query += QLatin1Char('&');
        query += QLatin1String(name) + QLatin1Char('=') + Text::percentEscapeUnreserved(value);
    }
    const QUrl url(base + QStringLiteral("eligibility?") + query, QUrl::StrictMode);
    HttpClient* client = http();
    if (!url.isValid() || url.isRelative() || !client) {
        qWarning("SurveyInvitations: no survey service is configured");
        return;
    }
    HttpRequest request(url);
    request.cachePolicy = CachePolicy::NeverStore;
    request.timeoutMs = 30000;
    m_tasks.removeAll(QPointer<HttpTask>());
    QPointer<SurveyInvitations> self(this);
    m_tasks.append(client->send(request, [self, surveyId](const HttpResponse& response, const Error& error) {
        if (!self)
            return;
        if (error || response.status != 200) {
            qWarning(
                "SurveyInvitations: the survey service did not answer (%s)",
                qPrintable(error ? error.description() : QStringLiteral("HTTP %1").arg(response.status)));
            return;
        }
        const QJsonValue answer = Json::parseLenient(response.body);
        if (!answer.isObject()) {
            qWarning("SurveyInvitations: the survey service's answer was not a JSON object");
            return;
        }
        const QJsonObject o = answer.toObject();
        if (!o.value(QStringLiteral("eligible")).toBool())
            return;
        const QUrl surveyURL(o.value(QStringLiteral("url")).toString(), QUrl::StrictMode);
        if (!surveyURL.isValid() ||
            (surveyURL.scheme() != QLatin1String("https") && surveyURL.scheme() != QLatin1String("http"))) {
            qWarning("SurveyInvitations: an eligible answer without a web address was ignored");
            return;
        }
        self->offer(surveyId, surveyURL, o.value(QStringLiteral("title")).toString(),
                    o.value(QStringLiteral("message")).toString());
    }));
}

void SurveyInvitations::offer(const QString& surveyId, const QUrl& url, const QString& title,
                              const QString& message)
{
    // Looked at again: the viewer may have answered another check's invitation meanwhile.
    if (!isEnabled() || alert() || answer(surveyId) != Answer::None)
        return;
    auto* a = new ui::AlertView(title.trimmed().isEmpty() ? fallbackTitle() : title,
                                message.trimmed().isEmpty() ? fallbackMessage() : message,
                                QStringLiteral("No, Thanks"), {QStringLiteral("Take Survey")});
    connect(a, &ui::AlertView::clickedButtonAtIndex, this, [this, surveyId, url](int index) {
        if (index == ButtonTakeSurvey) {
            keepAnswer(surveyId, Answer::Accepted);
            if (!ui::openExternalUrlOrTell(url))
                qWarning("SurveyInvitations: the survey page could not be opened");
        } else if (index == ButtonNoThanks) {
            keepAnswer(surveyId, Answer::Declined);
        }
    });
    a->show();
    if (!a->isVisible()) {
        delete a; // no window to show it in; asked again at the next check
        return;
    }
    m_alert = a;
}

void SurveyInvitations::keepAnswer(const QString& surveyId, Answer answer)
{
    Error error;
    const QString text = answer == Answer::Accepted ? QStringLiteral("accepted") : QStringLiteral("declined");
    if (!store()->setValue(answerKey(surveyId), text, &error))
        qWarning("SurveyInvitations: the answer could not be kept: %s", qPrintable(error.description()));
}

} // namespace zrp
