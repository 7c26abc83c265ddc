#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

namespace zrp {

class HttpClient;
class HttpTask;
class KeyValueStore;
namespace ui {
class AlertView;
}

// Invitations to take a survey about the application. Each measure names a survey and the number
// of launches after which the viewer may be asked; checkEligibility() counts the launch for every
// measure and, once a measure has enough launches, asks the survey service (Config
// "survey.base_url" + "eligibility?customer=..&survey=..&launches=..&device=..", answered with
// {"eligible": bool, "url", "title", "message"}). An eligible answer shows an invitation with
// "No, Thanks" and "Take Survey"; "Take Survey" opens the survey in the browser. Either answer is
// kept in the settings store ("zrp.survey.") and that survey is never asked about again. A failed
// or malformed answer shows nothing. Config "survey.enabled" set false turns it all off.
class SurveyInvitations : public QObject
{
    Q_OBJECT
public:
    static QString fallbackTitle();   // "We'd welcome your feedback"
    static QString fallbackMessage(); // "Would you take a short survey about the ZRP app?"
    enum Button
    {
        ButtonNoThanks = 0, // the cancel button
        ButtonTakeSurvey = 1
    };
    enum class Answer
    {
        None,
        Declined,
        Accepted
    };

    // Null collaborators are the process's own: KeyValueStore::shared(), HttpClient::shared().
    explicit SurveyInvitations(KeyValueStore* store = nullptr, HttpClient* http = nullptr,
                               QObject* parent = nullptr);
    ~SurveyInvitations() override;

    static SurveyInvitations* sharedInstance();
    // Destroys the shared facility (its requests and alert); the next sharedInstance() builds a
    // fresh one.
    static void resetSharedInstance();

    void setStore(KeyValueStore* store);
    KeyValueStore* store() const;
    void setHttpClient(HttpClient* http);

    // A customer id that is not 24 characters of Base64 is refused (false), and nothing is asked.
    bool initWithCustomerId(const QString& customerId);
    QString customerId() const { return m_customerId; }
    // A measure added again replaces its launch count.
    void addMeasure(const QString& surveyId, int launchCount);
    QStringList surveyIds() const;

    void checkEligibility();

    bool isEnabled() const; // Config "survey.enabled"
    int launches(const QString& surveyId) const;
    Answer answer(const QString& surveyId) const;
    int requestsInFlight() const;
    // The invitation on screen, or null.
    ui::AlertView* alert() const;

    static bool isValidCustomerId(const QString& id);

private:
    struct Measure
    {
        QString surveyId;
        int launchCount = 0;
    };

    void ask(const QString& surveyId, int launches);
    void offer(const QString& surveyId, const QUrl& url, const QString& title, const QString& message);
    void keepAnswer(const QString& surveyId, Answer answer);
    HttpClient* http() const;

    KeyValueStore* m_store = nullptr;
    QPointer<HttpClient> m_http;
    bool m_ownClient = true;
    QString m_customerId;
    QList<Measure> m_measures;
    QList<QPointer<HttpTask>> m_tasks;
    QPointer<ui::AlertView> m_alert;
};

} // namespace zrp
