#include "SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <unistd.h>

SingleInstance::SingleInstance(const QString& dataDir, QObject* parent) : QObject(parent)
{
    const QByteArray key = QDir(dataDir).absolutePath().toUtf8();
    m_name = QStringLiteral("zrp-tablet-%1-%2")
                 .arg(getuid())
                 .arg(QString::fromLatin1(
                     QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16)));
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::forwardToRunningInstance(const QStringList& links, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    // One link per line; an empty message still asks the running one to come forward.
    QByteArray message;
    for (const QString& link : links)
        message += link.toUtf8().replace('\n', ' ') + '\n';
    message += '\n';
    socket.write(message);
    socket.flush();
    socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen(std::function<void(const QString&)> onLink, std::function<void()> onRaise)
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_name)) {
        // A server left behind by a crash: nobody answered it, so it is safe to take over.
        QLocalServer::removeServer(m_name);
        if (!m_server->listen(m_name))
            return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this, onLink, onRaise] {
        while (QLocalSocket* s = m_server->nextPendingConnection()) {
            auto buffer = std::make_shared<QByteArray>();
            connect(s, &QLocalSocket::readyRead, s, [s, buffer] { *buffer += s->readAll(); });
            connect(s, &QLocalSocket::disconnected, s, [s, buffer, onLink, onRaise] {
                *buffer += s->readAll();
                // Bounded: a link is a short text, and nobody needs thousands of them at once.
                const QList<QByteArray> lines = buffer->left(64 * 1024).split('\n');
                int n = 0;
                for (const QByteArray& line : lines)
                    if (!line.trimmed().isEmpty() && n++ < 16)
                        onLink(QString::fromUtf8(line.trimmed()));
                onRaise();
                s->deleteLater();
            });
        }
    });
    return true;
}
