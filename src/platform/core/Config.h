#pragma once

#include "Error.h"

#include <QString>
#include <QStringList>
#include <QUrl>
#include <map>
#include <vector>

namespace zrp {

// Every host, key, token and account id of the product, with compiled defaults. A config file
// (INI, `--config`) names real deployments; rebindToSandbox() points every service at one
// embedded-network URL, each under its own path prefix.
class Config
{
public:
    struct Entry
    {
        const char* key;
        const char* defaultValue;
        // Path under the sandbox URL for base URLs; nullptr for keys and tokens.
        const char* sandboxPath;
    };

    static Config& shared();
    static const std::vector<Entry>& entries();

    Config();

    QString value(const QString& key) const; // empty when unknown
    QUrl url(const QString& key) const;
    // "true"/"false" (also 1/0, yes/no, on/off); anything else, or nothing, is defaultValue.
    bool boolValue(const QString& key, bool defaultValue) const;
    void setValue(const QString& key, const QString& value);
    QStringList keys() const;
    void resetToDefaults();

    // INI file: "[section]" then "name = value"; the key is "section.name". Unknown keys are
    // refused so that a typo does not silently leave a default in place.
    bool loadIni(const QString& path, Error* error = nullptr);

    // Every base URL becomes sandbox + its path prefix.
    void rebindToSandbox(const QUrl& sandbox);
    QUrl sandboxURL() const { return m_sandbox; }

    // Persisted state lives under dataDir (settings, calendar) and cacheDir (HTTP cache). Both
    // default to the XDG homes; `--data-dir` puts everything under one folder.
    QString dataDir() const;
    QString cacheDir() const;
    void setDataDir(const QString& dir); // also moves the cache under it
    QString settingsPath() const;        // dataDir/settings.sqlite
    QString httpCacheDir() const;        // cacheDir/http-cache
    QString calendarPath() const;        // dataDir/calendar.ics

private:
    std::map<QString, QString> m_values;
    QUrl m_sandbox;
    QString m_dataDir;
    QString m_cacheDir;
};

} // namespace zrp
