// Figures of the service access library: VAST parse time of a 50 KB document, and signatures per
// second for each signing scheme. Prints numbers; never fails.
#include "ZRPAPIWrapper.h"
#include "ZRPAdItem.h"
#include "ZRPLiveRailWrapper.h"
#include "ZRPRequestSigner.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace zrp;

namespace {

// A VAST answer as ad servers write them: the ad with its tracking, companions with HTML in
// CDATA, several media files; padded with companions to the wanted size. With inlineLast, the
// one InLine follows many wrapper ads, so the whole document is read.
QByteArray vastDocument(int targetBytes, bool inlineLast)
{
    QByteArray ad = "<Ad id=\"1\"><InLine><AdSystem>LiveRail</AdSystem><AdTitle>Bench</AdTitle>"
                    "<Impression><![CDATA[http://ads.example/imp?a=1&b=2]]></Impression><Creatives><Creative>"
                    "<Linear><Duration>00:00:30</Duration><TrackingEvents>";
    for (const char* e : {"start", "firstQuartile", "midpoint", "thirdQuartile", "complete", "mute", "pause"})
        ad += "<Tracking event=\"" + QByteArray(e) + "\"><![CDATA[http://ads.example/t?e=" + e +
              "]]></Tracking>";
    ad += "</TrackingEvents><VideoClicks><ClickThrough><![CDATA[http://click.example/]]></ClickThrough></"
          "VideoClicks>"
          "<MediaFiles>";
    for (int b : {300, 600, 1200, 2400})
        ad += "<MediaFile delivery=\"progressive\" type=\"video/mp4\" bitrate=\"" + QByteArray::number(b) +
              "\" width=\"640\" height=\"360\"><![CDATA[http://media.example/ad-" + QByteArray::number(b) +
              ".mp4]]></MediaFile>";
    ad += "</MediaFiles></Linear></Creative>";
    QByteArray companions;
    const QByteArray companion =
        "<Creative><CompanionAds><Companion width=\"300\" height=\"250\"><HTMLResource>"
        "<![CDATA[<a href=\"http://c.example/\"><img src=\"http://c.example/i.png\" "
        "width=\"300\" height=\"250\"/></a>]]></HTMLResource><TrackingEvents><Tracking "
        "event=\"creativeView\"><![CDATA[http://c.example/v]]></Tracking></TrackingEvents>"
        "</Companion></CompanionAds></Creative>";
    QByteArray wrappers;
    const QByteArray wrapper =
        "<Ad id=\"w\"><Wrapper><AdSystem>X</AdSystem><VASTAdTagURI><![CDATA[http://w.example/"
        "vast]]></VASTAdTagURI><Impression><![CDATA[http://w.example/i]]></Impression>"
        "</Wrapper></Ad>";
    const int fixed = ad.size() + 80;
    while (fixed + companions.size() + wrappers.size() < targetBytes) {
        if (inlineLast)
            wrappers += wrapper;
        else
            companions += companion;
    }
    return "<?xml version=\"1.0\"?><VAST version=\"2.0\">" + wrappers + ad + companions +
           "</Creatives></InLine></Ad></VAST>";
}

double medianMicros(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void benchVast(const char* name, const QByteArray& doc)
{
    std::vector<double> samples;
    int ads = 0;
    for (int i = 0; i < 200; ++i) {
        QElapsedTimer t;
        t.start();
        const QVariantList list = ZRPLiveRailWrapper::adsFromVAST(doc);
        for (const QVariant& a : list)
            ads += ZRPAdItem::adItemWithDictionary(a.toMap()) ? 1 : 0;
        samples.push_back(double(t.nsecsElapsed()) / 1000.0);
    }
    std::printf("vast parse %-28s %6.1f KB  median %8.1f us  (%d ad items over 200 runs)\n", name,
                doc.size() / 1024.0, medianMicros(samples), ads);
}

void benchSigner(const char* name, void (*sign)(ZRPURLRequest&, const ZRPSigningInfo&),
                 const ZRPSigningInfo& info)
{
    const QString url = ZRPAPIWrapper::urlWithEncodedParams(
        "https://catalog.example/vexo/v1/videos/"
        "?fields=mediafiles,associated_images,producer&filter_tp_media_object_id="
        "2365000123&order_by=-airdate");
    const int n = 50000;
    QElapsedTimer t;
    t.start();
    qsizetype total = 0;
    for (int i = 0; i < n; ++i) {
        ZRPURLRequest r(url);
        sign(r, info);
        total += r.urlString.size();
    }
    const double secs = double(t.nsecsElapsed()) / 1e9;
    std::printf("sign %-34s %9.0f signatures/s  (%d in %.2f s, %lld chars)\n", name, n / secs, n, secs,
                static_cast<long long>(total));
}

} // namespace

int main()
{
    benchVast("50 KB, InLine first", vastDocument(50 * 1024, false));
    benchVast("50 KB, InLine after wrappers", vastDocument(50 * 1024, true));

    const ZRPSigningInfo catalog{{"consumerKey", "ZRPVPAD-4348D2E8-CC98-4569-90F5-EEC5ACC6279C"},
                                 {"secretKey", "9d915b99-a5a6-446d-818d-4bed536e4e17"}};
    ZRPSigningInfo fixedCatalog = catalog;
    fixedCatalog.insert("nonce", "N1");
    fixedCatalog.insert("timestamp", "1700000000");
    const ZRPSigningInfo oauth{
        {"consumerKey", "ck"}, {"consumerSecret", "cs"}, {"tokenKey", "tk"}, {"tokenSecret", "ts"}};
    benchSigner("catalog (HMAC-SHA1 hex)", ZRPRequestSigner::signRequest, catalog);
    benchSigner("catalog, fixed nonce and timestamp", ZRPRequestSigner::signRequest, fixedCatalog);
    benchSigner("OAuth 1.0 (HMAC-SHA1 Base64)", ZRPRequestSigner::oAuthSignRequest, oauth);
    benchSigner("API key", ZRPRequestSigner::signApiRequest, {{"consumerKey", "K"}});
    return 0;
}
