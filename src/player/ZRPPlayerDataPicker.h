#pragma once

#include <QMap>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <optional>

namespace zrp {

// Chooses, by the device, the stream file and the images of a catalog video or program.
class ZRPPlayerDataPicker
{
public:
    using PriorityTable = QMap<QString, int>; // usage -> priority; 1 is best, 4 never chosen

    static std::optional<QVariantMap> mediaFileFromOptions(const QVariantList& mediaFiles);
    static QString imageURLFromOptions(const QVariantList& images);     // null when none fits
    static QString thumbnailURLFromOptions(const QVariantList& images); // null when none fits
    static QString imageURLUsingPrioritiesTable(const PriorityTable& table, const QVariantList& images);

    // 0 tablet (or no description), 1 "iPhone 4" / "iPod touch 4G", 2 any other.
    static int deviceClass();
    static PriorityTable imagePriorities(int deviceClass);
    static PriorityTable thumbnailPriorities(int deviceClass);
};

} // namespace zrp
