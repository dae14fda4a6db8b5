#pragma once
// The pictures' pixels as the build drew them from the SVG files
// (tools/pictures): premultiplied ARGB, one 32-bit value per pixel in the
// machine's order, row after row.

#include <QtGlobal>

struct PrerenderedImage {
    int width;
    int height;
    const quint32* pixels;
};

struct PrerenderedPicture {
    const char* name;
    const PrerenderedImage* images;  // the icon has one per size
    int count;
};

extern const PrerenderedPicture kPrerenderedPictures[];
extern const int kPrerenderedPictureCount;
