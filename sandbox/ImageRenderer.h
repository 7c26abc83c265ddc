#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

namespace zrp::sandbox {

// Draws the catalog's pictures: a title on a coloured field, encoded as PNG. Text is drawn with a
// small built-in pixel font, so rendering needs no font database and no GUI application, works
// on any server thread, and gives the same bytes everywhere.
class ImageRenderer
{
public:
    // Pixel size of each usage type the client chooses from; invalid for an unknown type.
    static QSize sizeForUsage(const QString& usage);

    static QByteArray renderPng(QSize size, quint32 rgb, const QString& title, const QString& caption);
};

} // namespace zrp::sandbox
