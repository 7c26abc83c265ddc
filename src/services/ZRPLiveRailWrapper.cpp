#include "ZRPLiveRailWrapper.h"

#include <QStringList>
#include <QXmlStreamReader>
#include <climits>

namespace zrp {

int leadingInteger(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    qint64 value = 0;
    while (i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
        value = value * 10 + (text[i].unicode() - '0');
        if (value > qint64(INT_MAX) + 1)
            value = qint64(INT_MAX) + 1; // saturate instead of overflowing on a run of digits
        ++i;
    }
    if (negative)
        return value > qint64(INT_MAX) ? INT_MIN : int(-value);
    return value > INT_MAX ? INT_MAX : int(value);
}

namespace {

enum ParsingState
{
    StateNone = 0,
    StateImpression = 1,
    StateDuration = 2,
    StateTracking = 3,
    StateClickThrough = 4,
    StateMediaFile = 5,
};

// One document's reading; the states follow the VAST elements the player cares about.
class VASTReader
{
public:
    QVariantList read(const QByteArray& data)
    {
        QXmlStreamReader xml(data);
        // Entities are never resolved: a document that declares any is refused before it can
        // expand them, and a default QXmlStreamReader never fetches anything external.
        int depth = 0;
        m_state = StateNone;
        while (!xml.atEnd()) {
            switch (xml.readNext()) {
            case QXmlStreamReader::DTD:
            case QXmlStreamReader::EntityReference:
                return m_results;
            case QXmlStreamReader::StartElement:
                if (++depth > ZRPLiveRailWrapper::kMaxDepth)
                    return m_results;
                startElement(xml);
                break;
            case QXmlStreamReader::EndElement:
                --depth;
                if (endElement(xml.name()))
                    return m_results; // the first InLine ad is the only one read
                break;
            case QXmlStreamReader::Characters:
                if (xml.isCDATA())
                    foundCDATA(xml.text().toString());
                else
                    foundCharacters(xml.text());
                break;
            default:
                break;
            }
        }
        return m_results; // not XML, truncated or over: whatever was complete
    }

private:
    void startElement(const QXmlStreamReader& xml)
    {
        const QStringView name = xml.name();
        if (name == u"InLine") {
            m_currentAd = QVariantMap();
            m_haveAd = true;
            m_highestQualityBitRate = 0;
        } else if (name == u"Impression") {
            m_state = StateImpression;
            m_haveImpressions = true;
        } else if (name == u"Duration") {
            m_state = StateDuration;
            m_foundCharacters.clear();
        } else if (name == u"TrackingEvents") {
            m_haveTrackingEvents = true;
        } else if (name == u"Tracking") {
            m_trackingEventName = xml.attributes().value(QStringLiteral("event")).toString();
            m_state = StateTracking;
        } else if (name == u"ClickThrough") {
            m_state = StateClickThrough;
        } else if (name == u"MediaFile") {
            const int bitrate = leadingInteger(xml.attributes().value(QStringLiteral("bitrate")));
            if (bitrate > m_highestQualityBitRate) {
                m_highestQualityBitRate = bitrate;
                m_state = StateMediaFile;
            }
        } else {
            m_state = StateNone;
        }
    }

    void foundCDATA(const QString& text)
    {
        switch (m_state) {
        case StateImpression:
            if (m_haveImpressions && m_impressions.size() < ZRPLiveRailWrapper::kMaxUrlsPerList)
                m_impressions << text;
            break;
        case StateTracking:
            if (m_haveTrackingEvents) {
                auto it = m_trackingEvents.find(m_trackingEventName);
                if (it == m_trackingEvents.end()) {
                    if (m_trackingEvents.size() >= ZRPLiveRailWrapper::kMaxTrackingEvents)
                        break;
                    it = m_trackingEvents.insert(m_trackingEventName, QStringList());
                }
                if (it->size() < ZRPLiveRailWrapper::kMaxUrlsPerList)
                    it->append(text);
            }
            break;
        case StateClickThrough:
            if (m_haveAd)
                m_currentAd.insert(QStringLiteral("clickURL"), text);
            break;
        case StateMediaFile:
            if (m_haveAd)
                m_currentAd.insert(QStringLiteral("adURL"), text);
            break;
        default:
            break;
        }
    }

    void foundCharacters(QStringView text)
    {
        // A duration is a few characters; anything longer is not one and stops growing here.
        if (m_state == StateDuration && m_foundCharacters.size() < ZRPLiveRailWrapper::kMaxDurationChars)
            m_foundCharacters += text.left(ZRPLiveRailWrapper::kMaxDurationChars - m_foundCharacters.size());
    }

    // True when the reading is over.
    bool endElement(QStringView name)
    {
        if (name == u"Duration") {
            if (m_haveAd)
                m_currentAd.insert(QStringLiteral("Duration"), m_foundCharacters);
            m_foundCharacters.clear();
            m_state = StateNone;
        } else if (name == u"Impression" || name == u"Tracking" || name == u"ClickThrough" ||
                   name == u"MediaFile") {
            m_state = StateNone;
        } else if (name == u"InLine") {
            if (m_haveTrackingEvents) {
                QVariantMap events;
                for (auto it = m_trackingEvents.cbegin(); it != m_trackingEvents.cend(); ++it)
                    events.insert(it.key(), it.value());
                m_currentAd.insert(QStringLiteral("TrackingEvents"), events);
            }
            if (m_haveImpressions)
                m_currentAd.insert(QStringLiteral("Impressions"), m_impressions);
            m_results << m_currentAd;
            return true;
        }
        return false;
    }

    ParsingState m_state = StateNone;
    QVariantMap m_currentAd;
    bool m_haveAd = false;
    QMap<QString, QStringList> m_trackingEvents;
    bool m_haveTrackingEvents = false;
    QStringList m_impressions;
    bool m_haveImpressions = false;
    QString m_foundCharacters;
    QString m_trackingEventName;
    int m_highestQualityBitRate = 0;
    QVariantList m_results;
};

} // namespace

QVariantList ZRPLiveRailWrapper::adsFromVAST(const QByteArray& data)
{
    VASTReader reader;
    return reader.read(data);
}

QVariant ZRPLiveRailWrapper::resultsFromData(const QByteArray& data, Error* error)
{
    if (error)
        *error = Error();
    return adsFromVAST(data);
}

} // namespace zrp
