#pragma once

#include <QString>
#include <optional>

// One notification fetched from the push registration service. A text the service left out (or
// sent as something other than text) is none, not "".
struct PushNotification
{
    std::optional<QString> shortText; // the alert's title
    std::optional<QString> longText;  // the alert's message

    bool operator==(const PushNotification&) const = default;
};
