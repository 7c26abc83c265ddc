#pragma once

#include <QCborMap>
#include <QCborValue>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

// Reading the catalog's objects defensively. The service is trusted for shape but not for
// types: a field of the wrong JSON type reads as missing instead of reaching a record.
namespace VEXOFields {

// A text field. A number is accepted and written in decimal (ids and codes arrive either way);
// anything else (missing, null, bool, list, object) is none.
std::optional<QString> text(const QCborValue& value);
// A text field that falls back to "" ("sanitized").
QString sanitizedText(const QCborValue& value);

// An integer field: a number (rounded toward zero) or a text holding a whole decimal number.
std::optional<qint64> integer(const QCborValue& value);

// A catalog time, "yyyy-MM-dd HH:mm:ss" in GMT; anything else is none.
std::optional<QDateTime> catalogDate(const QCborValue& value);
// A stored date: a CBOR date, or an ISO 8601 text.
std::optional<QDateTime> storedDate(const QCborValue& value);

// The "usage_type" -> "url" map of "associated_images" (a later image of a usage type replaces
// an earlier one), then the first usage type present from each preference list.
struct ImageChoice
{
    std::optional<QString> imageURL;
    std::optional<QString> thumbnailURL;
};
ImageChoice chooseImages(const QCborValue& associatedImages, bool stripSemicolons);

// Preference lists by device, in order.
QStringList imageUsageTypes();
QStringList thumbnailUsageTypes();

// The "producer" object names a producer other than the network's own.
bool isLocalProducer(const QCborValue& producer);

} // namespace VEXOFields
