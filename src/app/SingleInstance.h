#pragma once

#include <QObject>
#include <QStringList>
#include <functional>

class QLocalServer;

// One running client per data folder: a second launch hands its links to the first one (which
// opens them and comes to the front) and ends.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(const QString& dataDir, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when another instance took the links (and was asked to come forward).
    bool forwardToRunningInstance(const QStringList& links, int timeoutMs = 1000);
    // Starts answering later launches; each link they send goes to onLink, and onRaise runs for
    // every later launch.
    bool listen(std::function<void(const QString&)> onLink, std::function<void()> onRaise);

    QString serverName() const { return m_name; }

private:
    QString m_name;
    QLocalServer* m_server = nullptr;
};
