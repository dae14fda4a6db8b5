#include "pictures.h"

#include "prerendered.h"

#include <QImage>

#include <cstring>

namespace {

const PrerenderedPicture* prerendered(const QString& name) {
    const QByteArray wanted = name.toLatin1();
    for (int i = 0; i < kPrerenderedPictureCount; ++i)
        if (std::strcmp(kPrerenderedPictures[i].name, wanted.constData()) == 0) return &kPrerenderedPictures[i];
    return nullptr;
}

QPixmap pixmapOf(const PrerenderedImage& image) {
    // The image reads the pixels where they lie; the pixmap takes a copy.
    const QImage pixels(reinterpret_cast<const uchar*>(image.pixels), image.width, image.height, image.width * 4,
                        QImage::Format_ARGB32_Premultiplied);
    return QPixmap::fromImage(pixels);
}

}  // namespace

QPixmap picture(const QString& name) {
    const PrerenderedPicture* found = prerendered(name);
    return found ? pixmapOf(found->images[0]) : QPixmap();
}

QIcon programIcon() {
    QIcon icon;
    // Every size a window manager or task bar asks for is there, so the
    // desktop needs no SVG icon plug-in.
    if (const PrerenderedPicture* found = prerendered(QStringLiteral("quillora")))
        for (int i = 0; i < found->count; ++i) icon.addPixmap(pixmapOf(found->images[i]));
    return icon;
}
