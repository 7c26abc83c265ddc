#include "ZRPAPIWrapper.h"
#include "ZRPAdItem.h"
#include "ZRPLiveRailWrapper.h"
#include "ZRPRequestSigner.h"
#include "core/Error.h"
#include "core/RunLoop.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QStringList>
#include <cstdio>

using namespace zrp;

namespace {

const char* kUsage =
    "usage:\n"
    "  zrpctl sign vexo URL --consumer-key K --secret-key S [--method M] [--nonce N --timestamp T]\n"
    "  zrpctl sign oauth URL --consumer-key K --consumer-secret CS --token-key TK --token-secret TS\n"
    "                        [--method M] [--form-body TEXT] [--nonce N --timestamp T]\n"
    "  zrpctl sign apikey URL --consumer-key K\n"
    "  zrpctl vast FILE\n"
    "  zrpctl get TYPE URL [--signing-info JSON]\n"
    "TYPE: vexo tarvo kyr dtv liverail search push, or 0-6\n";

int usage(const QString& why = QString())
{
    if (!why.isEmpty())
        std::fprintf(stderr, "zrpctl: %s\n", qPrintable(why));
    std::fputs(kUsage, stderr);
    return 2;
}

void printLine(const QByteArray& text)
{
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// "--name value" pairs after the positional arguments; false on a dangling or unknown option.
bool parseOptions(const QStringList& args, int from, const QStringList& known, QMap<QString, QString>* out,
                  QString* why)
{
    for (int i = from; i < args.size(); ++i) {
        const QString& a = args[i];
        if (!a.startsWith(QStringLiteral("--")) || !known.contains(a.mid(2))) {
            *why = QStringLiteral("unknown option %1").arg(a);
            return false;
        }
        if (i + 1 >= args.size()) {
            *why = QStringLiteral("%1 needs a value").arg(a);
            return false;
        }
        out->insert(a.mid(2), args[++i]);
    }
    return true;
}

int sign(const QStringList& args)
{
    if (args.size() < 4)
        return usage();
    const QString scheme = args[2];
    const QString url = args[3];
    QMap<QString, QString> o;
    QString why;
    const QStringList common{"consumer-key", "method", "nonce", "timestamp"};
    QStringList known = common;
    QStringList required{"consumer-key"};
    if (scheme == QLatin1String("vexo")) {
        known << "secret-key";
        required << "secret-key";
    } else if (scheme == QLatin1String("oauth")) {
        known << "consumer-secret"
              << "token-key"
              << "token-secret"
              << "form-body";
        required << "consumer-secret"
                 << "token-key"
                 << "token-secret";
    } else if (scheme == QLatin1String("apikey")) {
        known = QStringList{"consumer-key"};
    } else {
        return usage(QStringLiteral("unknown signing scheme %1").arg(scheme));
    }
    if (!parseOptions(args, 4, known, &o, &why))
        return usage(why);
    for (const QString& r : required) {
        if (!o.contains(r))
            return usage(QStringLiteral("--%1 is required").arg(r));
    }
    if (o.contains("nonce") != o.contains("timestamp"))
        return usage(QStringLiteral("--nonce and --timestamp go together"));

    ZRPSigningInfo info{{"consumerKey", o.value("consumer-key")}};
    const std::pair<const char*, const char*> keys[] = {
        {"secret-key", "secretKey"}, {"consumer-secret", "consumerSecret"},
        {"token-key", "tokenKey"},   {"token-secret", "tokenSecret"},
        {"nonce", "nonce"},          {"timestamp", "timestamp"}};
    for (const auto& [option, key] : keys) {
        if (o.contains(option))
            info.insert(key, o.value(option));
    }
    ZRPURLRequest request(ZRPAPIWrapper::urlWithEncodedParams(url));
    request.httpMethod = o.value("method", QStringLiteral("GET")).toUpper().toLatin1();
    if (o.contains("form-body")) {
        request.httpBody = o.value("form-body").toUtf8();
        request.setValueForHTTPHeaderField("application/x-www-form-urlencoded", "Content-Type");
    }
    if (scheme == QLatin1String("vexo"))
        ZRPRequestSigner::signRequest(request, info);
    else if (scheme == QLatin1String("oauth"))
        ZRPRequestSigner::oAuthSignRequest(request, info);
    else
        ZRPRequestSigner::signApiRequest(request, info);
    printLine(request.urlString.toUtf8());
    return 0;
}

int vast(const QStringList& args)
{
    if (args.size() != 3)
        return usage();
    QFile f(args[2]);
    if (!f.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "zrpctl: cannot read %s: %s\n", qPrintable(args[2]),
                     qPrintable(f.errorString()));
        return 1;
    }
    QJsonArray out;
    for (const QVariant& ad : ZRPLiveRailWrapper::adsFromVAST(f.readAll())) {
        if (auto item = ZRPAdItem::adItemWithDictionary(ad.toMap()))
            out.append(QJsonObject::fromVariantMap(item->toVariantMap()));
    }
    printLine(QJsonDocument(out).toJson(QJsonDocument::Compact));
    return 0;
}

int typeFromText(const QString& t)
{
    static const QStringList names{"vexo", "tarvo", "kyr", "dtv", "liverail", "search", "push"};
    const int i = int(names.indexOf(t.toLower()));
    if (i >= 0)
        return i;
    bool ok = false;
    const int n = t.toInt(&ok);
    return ok ? n : -1;
}

QByteArray jsonText(const QVariant& v)
{
    // Wrapped in an array so that any value, a bare text or null included, is written.
    const QByteArray doc =
        QJsonDocument(QJsonArray{QJsonValue::fromVariant(v)}).toJson(QJsonDocument::Compact);
    return doc.mid(1, doc.size() - 2);
}

int get(const QStringList& args, QCoreApplication& app)
{
    if (args.size() < 4)
        return usage();
    const int type = typeFromText(args[2]);
    QMap<QString, QString> o;
    QString why;
    if (!parseOptions(args, 4, {"signing-info"}, &o, &why))
        return usage(why);
    ZRPSigningInfo info;
    if (o.contains("signing-info")) {
        QJsonParseError err{};
        const QJsonDocument doc = QJsonDocument::fromJson(o.value("signing-info").toUtf8(), &err);
        if (!doc.isObject())
            return usage(QStringLiteral("--signing-info is not a JSON object"));
        const QJsonObject obj = doc.object();
        for (auto it = obj.begin(); it != obj.end(); ++it)
            info.insert(it.key(), it.value().isString() ? it.value().toString() : QString());
    }
    auto wrapper = ZRPAPIWrapper::wrapperOfType(type, info);
    if (!wrapper) {
        std::fprintf(stderr, "zrpctl: no wrapper for type %s with that signing information\n",
                     qPrintable(args[2]));
        return 2;
    }
    int exitCode = 0;
    // Outcomes arrive on the background queue; printing and quitting happen on the main thread.
    wrapper->getDataFromUrl(
        args[3],
        [&app, &exitCode](const QVariant& results) {
            const QByteArray text = jsonText(results);
            RunLoop::post([&app, &exitCode, text]() {
                printLine(text);
                exitCode = 0;
                app.quit();
            });
        },
        [&app, &exitCode](const Error& error) {
            const QJsonObject e{{"domain", error.domain}, {"code", error.code}, {"message", error.message()}};
            const QByteArray text = QJsonDocument(e).toJson(QJsonDocument::Compact);
            RunLoop::post([&app, &exitCode, text]() {
                printLine(text);
                exitCode = 1;
                app.quit();
            });
        },
        QStringLiteral("zrpctl"));
    app.exec();
    return exitCode;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2)
        return usage();
    const QString command = args[1];
    if (command == QLatin1String("sign"))
        return sign(args);
    if (command == QLatin1String("vast"))
        return vast(args);
    if (command == QLatin1String("get"))
        return get(args, app);
    if (command == QLatin1String("--help") || command == QLatin1String("help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    return usage(QStringLiteral("unknown command %1").arg(command));
}
