#include "VersionComparator.h"

#include <QStringList>

namespace zrp::VersionComparator {

namespace {

enum class Kind
{
    Number,
    Period,
    Text
};

Kind kindOf(QChar c)
{
    if (c.isDigit())
        return Kind::Number;
    if (c == QLatin1Char('.'))
        return Kind::Period;
    return Kind::Text;
}

struct Part
{
    Kind kind;
    QString text;
};

QList<Part> split(const QString& v)
{
    QList<Part> parts;
    for (QChar c : v) {
        const Kind k = kindOf(c);
        // Every period is a part of its own; digits and text run together.
        if (parts.isEmpty() || parts.last().kind != k || k == Kind::Period)
            parts.append({k, QString(c)});
        else
            parts.last().text += c;
    }
    return parts;
}

int compareNumbers(const QString& a, const QString& b)
{
    // Compared as digit strings so that no length of number overflows.
    QString x = a, y = b;
    while (x.size() > 1 && x.startsWith(QLatin1Char('0')))
        x.remove(0, 1);
    while (y.size() > 1 && y.startsWith(QLatin1Char('0')))
        y.remove(0, 1);
    if (x.size() != y.size())
        return x.size() < y.size() ? -1 : 1;
    return x.compare(y);
}

} // namespace

int compare(const QString& a, const QString& b)
{
    const QList<Part> pa = split(a);
    const QList<Part> pb = split(b);
    const qsizetype n = std::min(pa.size(), pb.size());
    for (qsizetype i = 0; i < n; ++i) {
        const Part& x = pa[i];
        const Part& y = pb[i];
        if (x.kind == y.kind) {
            int c = 0;
            if (x.kind == Kind::Number)
                c = compareNumbers(x.text, y.text);
            else if (x.kind == Kind::Text)
                c = x.text.compare(y.text);
            if (c != 0)
                return c < 0 ? -1 : 1;
            continue;
        }
        // Different kinds: text (a pre-release tag) is older than anything else; between a
        // number and a period, the number is newer.
        if (x.kind == Kind::Text)
            return -1;
        if (y.kind == Kind::Text)
            return 1;
        return x.kind == Kind::Number ? 1 : -1;
    }
    if (pa.size() == pb.size())
        return 0;
    // One is longer: a trailing tag makes it older ("1.0b" < "1.0"), anything else newer.
    const bool aLonger = pa.size() > pb.size();
    const Part& extra = aLonger ? pa[n] : pb[n];
    const bool longerIsNewer = extra.kind != Kind::Text;
    return (aLonger == longerIsNewer) ? 1 : -1;
}

} // namespace zrp::VersionComparator
