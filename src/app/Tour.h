#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>

class QTimer;

// Walks the screens that exist, saves a picture of each into a folder and prints, per screen,
// the time from launch to the screen being complete (data loaded, visible images shown).
class Tour : public QObject
{
    Q_OBJECT
public:
    Tour(const QString& directory, const QElapsedTimer& sinceLaunch, QObject* parent = nullptr);
    void start();

signals:
    void finished(int exitCode);

private:
    struct Stop
    {
        QString name;
        std::function<void()> open; // empty for the screen shown at launch
        std::function<bool()> complete;
    };
    void next();
    void poll();
    bool save(const QString& name);

    QString m_dir;
    QElapsedTimer m_launch;
    QList<Stop> m_stops;
    int m_index = -1;
    qint64 m_openedAt = 0;
    int m_quietPolls = 0;
    QTimer* m_timer = nullptr;
};
