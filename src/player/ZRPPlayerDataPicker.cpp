#include "ZRPPlayerDataPicker.h"

#include "ZRPPlayerDictionary.h"
#include "core/Device.h"

namespace zrp {

using namespace ZRPPlayerDictionary;

std::optional<QVariantMap> ZRPPlayerDataPicker::mediaFileFromOptions(const QVariantList& mediaFiles)
{
    const QString description = Device::platformDescription();
    const bool phone = description.isEmpty() || description.contains(QStringLiteral("iPhone"));
    static const QMap<QString, int> phonePriorities{
        {"iPad-16x9", 4}, {"iPad-4x3", 3}, {"iPhone-16x9", 1}, {"iPhone-4x3", 2}};
    static const QMap<QString, int> otherPriorities{
        {"iPad-16x9", 1}, {"iPad-4x3", 2}, {"iPhone-16x9", 3}, {"iPhone-4x3", 4}};
    const QMap<QString, int>& priorities = phone ? phonePriorities : otherPriorities;

    std::optional<QVariantMap> best;
    int bestPriority = 5;
    for (const QVariant& v : mediaFiles) {
        const QVariantMap file = v.toMap();
        const QString encoding =
            valueForKeyPath(file, QStringLiteral("video_encoding.name"), QStringLiteral("No encoding"))
                .toString();
        const int priority = priorities.value(encoding, 0);
        if (priority == 0)
            continue;
        if (priority < bestPriority) {
            best = file;
            bestPriority = priority;
            if (priority == 1)
                break;
        }
    }
    return best;
}

int ZRPPlayerDataPicker::deviceClass()
{
    const QString d = Device::platformDescription();
    if (d.isEmpty() || d.contains(QStringLiteral("iPad")))
        return 0;
    if (d.contains(QStringLiteral("iPhone 4")) || d.contains(QStringLiteral("iPod touch 4G")))
        return 1;
    return 2;
}

static ZRPPlayerDataPicker::PriorityTable table(int small, int padSmall, int medium, int large)
{
    return {
        {"iPhone-Small", small}, {"iPad-Small", padSmall}, {"iPhone-Medium", medium}, {"iPad-Large", large}};
}

ZRPPlayerDataPicker::PriorityTable ZRPPlayerDataPicker::imagePriorities(int deviceClass)
{
    switch (deviceClass) {
    case 0:
        return table(4, 3, 2, 1);
    case 1:
        return table(3, 2, 1, 4);
    default:
        return table(1, 2, 3, 4);
    }
}

ZRPPlayerDataPicker::PriorityTable ZRPPlayerDataPicker::thumbnailPriorities(int deviceClass)
{
    switch (deviceClass) {
    case 0:
        return table(3, 2, 1, 4);
    case 1:
        return table(4, 3, 2, 1);
    default:
        return table(1, 2, 3, 4);
    }
}

QString ZRPPlayerDataPicker::imageURLUsingPrioritiesTable(const PriorityTable& table,
                                                          const QVariantList& images)
{
    QString chosen;
    int best = 4;
    for (const QVariant& v : images) {
        const QVariantMap image = v.toMap();
        const QString usage =
            valueForKeyPath(image, QStringLiteral("%1.%2").arg("type", "usage_type")).toString();
        const int priority = table.value(usage, 0);
        if (priority == 0)
            continue;
        if (priority < best) {
            best = priority;
            chosen = valueForKey(image, QStringLiteral("url")).toString();
            if (priority == 1)
                break;
        }
    }
    return chosen;
}

QString ZRPPlayerDataPicker::imageURLFromOptions(const QVariantList& images)
{
    return imageURLUsingPrioritiesTable(imagePriorities(deviceClass()), images);
}

QString ZRPPlayerDataPicker::thumbnailURLFromOptions(const QVariantList& images)
{
    return imageURLUsingPrioritiesTable(thumbnailPriorities(deviceClass()), images);
}

} // namespace zrp
