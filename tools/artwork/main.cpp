// Draws every image of the product into the folder given on the command line. The colours are
// those of the application's dark theme; the face is DejaVu Sans.

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>
#include <cstdio>
#include <functional>

namespace {

const QColor kBackground(0x10, 0x12, 0x14);
const QColor kSurface(0x1c, 0x1f, 0x23);
const QColor kSurfaceRaised(0x26, 0x2a, 0x2f);
const QColor kText(0xf2, 0xf2, 0xf2);
const QColor kSecondary(0xb4, 0xb8, 0xbd);
const QColor kAccent(0x1f, 0xb5, 0xa8);
const QColor kSeparator(0x33, 0x37, 0x3c);

QFont face(qreal px, bool bold = false)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(qMax(1, qRound(px)));
    f.setBold(bold);
    return f;
}

QImage canvas(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

void smooth(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
}

// The network's wordmark: "ZRP" in a rounded teal tile. h is the tile's height.
void wordmark(QPainter& p, QPointF centre, qreal h, qreal opacity = 1.0)
{
    p.save();
    p.setOpacity(opacity);
    const qreal w = h * 2.1;
    const QRectF tile(centre.x() - w / 2, centre.y() - h / 2, w, h);
    QLinearGradient g(tile.topLeft(), tile.bottomRight());
    g.setColorAt(0, kAccent.lighter(115));
    g.setColorAt(1, kAccent.darker(135));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(tile, h * 0.22, h * 0.22);
    p.setPen(QColor(0x0b, 0x0d, 0x0e));
    QFont f = face(h * 0.62, true);
    f.setLetterSpacing(QFont::PercentageSpacing, 104);
    p.setFont(f);
    p.drawText(tile, Qt::AlignCenter, QStringLiteral("ZRP"));
    p.restore();
}

// A calm field: the background colour with a faint teal glow and a diagonal sheen.
void field(QPainter& p, const QRectF& r, qreal glow)
{
    p.fillRect(r, kBackground);
    QRadialGradient rg(QPointF(r.left() + r.width() * 0.18, r.top() + r.height() * 0.12), r.width() * 0.75);
    QColor a = kAccent;
    a.setAlphaF(glow);
    rg.setColorAt(0, a);
    rg.setColorAt(1, Qt::transparent);
    p.fillRect(r, rg);
    QRadialGradient rg2(QPointF(r.right(), r.bottom()), r.width() * 0.6);
    QColor b(0x3a, 0x4b, 0x7a);
    b.setAlphaF(glow * 0.6);
    rg2.setColorAt(0, b);
    rg2.setColorAt(1, Qt::transparent);
    p.fillRect(r, rg2);
}

QImage placeholder(int w, int h)
{
    QImage img = canvas(w, h);
    QPainter p(&img);
    smooth(p);
    QLinearGradient g(0, 0, w, h);
    g.setColorAt(0, kSurfaceRaised);
    g.setColorAt(1, kSurface);
    p.fillRect(img.rect(), g);
    // A soft play-like wedge of light behind the mark.
    QRadialGradient rg(QPointF(w * 0.5, h * 0.5), w * 0.45);
    QColor a = kAccent;
    a.setAlphaF(0.10);
    rg.setColorAt(0, a);
    rg.setColorAt(1, Qt::transparent);
    p.fillRect(img.rect(), rg);
    wordmark(p, QPointF(w / 2.0, h / 2.0), h * 0.22, 0.55);
    return img;
}

QImage selectStation()
{
    QImage img = canvas(68, 35);
    QPainter p(&img);
    smooth(p);
    p.setPen(QPen(kSecondary, 1.2, Qt::DashLine));
    p.setBrush(kSurfaceRaised);
    p.drawRoundedRect(QRectF(0.8, 0.8, 66.4, 33.4), 5, 5);
    p.setPen(kText);
    p.setFont(face(9.5, true));
    p.drawText(QRectF(0, 3, 68, 14), Qt::AlignCenter, QStringLiteral("SELECT"));
    p.drawText(QRectF(0, 17, 68, 14), Qt::AlignCenter, QStringLiteral("STATION"));
    return img;
}

QImage segment(bool on)
{
    // Stretched between a 5-point cap on each side.
    QImage img = canvas(30, 44);
    QPainter p(&img);
    smooth(p);
    const QRectF r(0.5, 0.5, 29, 43);
    if (on) {
        QLinearGradient g(0, 0, 0, 44);
        g.setColorAt(0, kAccent.lighter(112));
        g.setColorAt(1, kAccent.darker(112));
        p.setBrush(g);
        p.setPen(QPen(kAccent.darker(140), 1));
    } else {
        QLinearGradient g(0, 0, 0, 44);
        g.setColorAt(0, kSurfaceRaised.lighter(112));
        g.setColorAt(1, kSurfaceRaised);
        p.setBrush(g);
        p.setPen(QPen(kSeparator, 1));
    }
    p.drawRoundedRect(r, 5, 5);
    return img;
}

QImage background(int w, int h)
{
    QImage img = canvas(w, h);
    QPainter p(&img);
    smooth(p);
    field(p, img.rect(), 0.10);
    return img;
}

QImage frame(int w, int h)
{
    // Lies over the content area: transparent inside, a soft inner shade at the edges.
    QImage img = canvas(w, h);
    QPainter p(&img);
    smooth(p);
    const int edge = 18;
    auto shade = [&](QRectF r, QPointF from, QPointF to) {
        QLinearGradient g(from, to);
        g.setColorAt(0, QColor(0, 0, 0, 140));
        g.setColorAt(1, QColor(0, 0, 0, 0));
        p.fillRect(r, g);
    };
    shade(QRectF(0, 0, w, edge), QPointF(0, 0), QPointF(0, edge));
    shade(QRectF(0, h - edge, w, edge), QPointF(0, h), QPointF(0, h - edge));
    shade(QRectF(0, 0, edge, h), QPointF(0, 0), QPointF(edge, 0));
    shade(QRectF(w - edge, 0, edge, h), QPointF(w, 0), QPointF(w - edge, 0));
    p.setPen(QPen(kSeparator, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 5, 5);
    return img;
}

QImage launch(int w, int h)
{
    QImage img = canvas(w, h);
    QPainter p(&img);
    smooth(p);
    field(p, img.rect(), 0.16);
    wordmark(p, QPointF(w / 2.0, h / 2.0 - 20), 64);
    p.setPen(kSecondary);
    p.setFont(face(16));
    p.drawText(QRectF(0, h / 2.0 + 30, w, 28), Qt::AlignCenter, QStringLiteral("Television worth watching"));
    return img;
}

QImage horizontalFade(bool left)
{
    QImage img = canvas(24, 198);
    QPainter p(&img);
    QLinearGradient g(left ? 0 : 24, 0, left ? 24 : 0, 0);
    g.setColorAt(0, kBackground);
    QColor t = kBackground;
    t.setAlpha(0);
    g.setColorAt(1, t);
    p.fillRect(img.rect(), g);
    return img;
}

QImage topFade()
{
    QImage img = canvas(16, 6);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, 6);
    g.setColorAt(0, QColor(0, 0, 0, 110));
    g.setColorAt(1, QColor(0, 0, 0, 0));
    p.fillRect(img.rect(), g);
    return img;
}

// Bar buttons: a 44-point touch target with a 22-point glyph in light grey.
QImage button(const std::function<void(QPainter&)>& glyph)
{
    QImage img = canvas(44, 44);
    QPainter p(&img);
    smooth(p);
    p.translate(11, 11); // the glyph's 22 x 22 box
    p.setPen(QPen(kText, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    glyph(p);
    return img;
}

void infoGlyph(QPainter& p)
{
    p.drawEllipse(QRectF(1, 1, 20, 20));
    p.drawLine(QPointF(11, 10), QPointF(11, 16));
    p.setBrush(kText);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(11, 6.3), 1.4, 1.4);
}

void settingsGlyph(QPainter& p)
{
    QPainterPath gear;
    const QPointF c(11, 11);
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const qreal a0 = (i - 0.5) * M_PI / teeth;
        const qreal a1 = (i + 0.5) * M_PI / teeth;
        const qreal r = (i % 2 == 0) ? 10.0 : 7.6;
        const QPointF p0 = c + QPointF(std::cos(a0) * r, std::sin(a0) * r);
        const QPointF p1 = c + QPointF(std::cos(a1) * r, std::sin(a1) * r);
        if (i == 0)
            gear.moveTo(p0);
        else
            gear.lineTo(p0);
        gear.lineTo(p1);
    }
    gear.closeSubpath();
    p.setPen(QPen(kText, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(gear);
    p.drawEllipse(c, 3.2, 3.2);
}

void supportGlyph(QPainter& p)
{
    QPainterPath heart;
    heart.moveTo(11, 19.5);
    heart.cubicTo(2, 13, 0.5, 8.5, 3, 5);
    heart.cubicTo(5.5, 1.8, 9.5, 2.5, 11, 6);
    heart.cubicTo(12.5, 2.5, 16.5, 1.8, 19, 5);
    heart.cubicTo(21.5, 8.5, 20, 13, 11, 19.5);
    p.drawPath(heart);
}

void favoritesGlyph(QPainter& p)
{
    QPainterPath star;
    const QPointF c(11, 11.8);
    for (int i = 0; i < 10; ++i) {
        const qreal a = -M_PI / 2 + i * M_PI / 5;
        const qreal r = (i % 2 == 0) ? 10.5 : 4.4;
        const QPointF pt = c + QPointF(std::cos(a) * r, std::sin(a) * r);
        if (i == 0)
            star.moveTo(pt);
        else
            star.lineTo(pt);
    }
    star.closeSubpath();
    p.drawPath(star);
}

void profileGlyph(QPainter& p)
{
    p.drawEllipse(QPointF(11, 7), 4.5, 4.5);
    QPainterPath body;
    body.moveTo(2.5, 21);
    body.cubicTo(3, 15, 7, 13.2, 11, 13.2);
    body.cubicTo(15, 13.2, 19, 15, 19.5, 21);
    p.drawPath(body);
}

void searchGlyph(QPainter& p)
{
    p.drawEllipse(QPointF(9, 9), 7, 7);
    p.setPen(QPen(kText, 2.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(14.2, 14.2), QPointF(20.5, 20.5));
}

// The web panel's close button: a dark disc with a light ring and a cross, 30 points.
QImage closeModal()
{
    QImage img = canvas(30, 30);
    QPainter p(&img);
    smooth(p);
    p.setBrush(QColor(0x10, 0x12, 0x14, 235));
    p.setPen(QPen(kText, 2));
    p.drawEllipse(QRectF(2, 2, 26, 26));
    p.setPen(QPen(kText, 2.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10.5, 10.5), QPointF(19.5, 19.5));
    p.drawLine(QPointF(19.5, 10.5), QPointF(10.5, 19.5));
    return img;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: zrp-artwork OUTPUT_DIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    const QList<QPair<QString, QImage>> images = {
        {"ZRP240x135.png", placeholder(240, 135)},
        {"ZRP768x432.png", placeholder(768, 432)},
        {"Select-Station.png", selectStation()},
        {"segmentON.png", segment(true)},
        {"segmentOFF.png", segment(false)},
        {"Spotlight-Background-Landscape.png", background(1024, 768)},
        {"Spotlight-Background-Portrait.png", background(768, 1024)},
        {"Background-Frame-Landscape.png", frame(1024, 768)},
        {"Background-Frame-Portrait.png", frame(768, 1024)},
        {"Default-Landscape.png", launch(1024, 768)},
        {"Default-Portrait.png", launch(768, 1024)},
        {"Gradient-Left.png", horizontalFade(true)},
        {"Gradient-Right.png", horizontalFade(false)},
        {"Gradient-Top-Small.png", topFade()},
        {"Button-Info.png", button(infoGlyph)},
        {"Button-Settings.png", button(settingsGlyph)},
        {"Button-Support.png", button(supportGlyph)},
        {"Button-Favorites.png", button(favoritesGlyph)},
        {"Button-Profile.png", button(profileGlyph)},
        {"Button-Search.png", button(searchGlyph)},
        {"Close-Modal.png", closeModal()},
    };
    int failed = 0;
    for (const auto& [name, image] : images) {
        const QString path = out.filePath(name);
        // No time stamps or text chunks: the same program writes the same bytes.
        if (!image.save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ++failed;
        } else {
            std::printf("%s %dx%d\n", qPrintable(name), image.width(), image.height());
        }
    }
    return failed ? 1 : 0;
}
