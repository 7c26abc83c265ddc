#pragma once

#include <QString>

namespace zrp {

// Compares application versions the way people read them: "1.10" is newer than "1.9",
// "2.0" newer than "2.0b3", "1.0.1" newer than "1.0". Versions are split into runs of digits,
// periods and other characters and compared run by run, digit runs as numbers.
namespace VersionComparator {
// < 0 when a is older than b, 0 when equal, > 0 when a is newer.
int compare(const QString& a, const QString& b);
} // namespace VersionComparator

} // namespace zrp
