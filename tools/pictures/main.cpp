// Draws the program's SVG pictures when it is built and writes their pixels
// as a C++ source (prerendered.h), so the program's start needs no SVG
// renderer and no SVG library:
//
//   quillora-prerender OUT.cpp NAME=FILE.svg[:SIDE,SIDE...]...
//
// A picture without sides is drawn at its own size; the program's icon at
// each side given. The fonts are those of the font configuration in the
// environment (FONTCONFIG_FILE: the program's dependencies only) under the
// program's own substitutions, as the windows draw their texts.

#include "fonts.h"
#include "svgpicture.h"
#include "wholefile.h"

#include <QFileInfo>
#include <QGuiApplication>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Picture {
    std::string name;
    std::vector<QImage> images;
};

bool parse(const std::string& argument, Picture& picture, QString& file, std::vector<int>& sides) {
    const auto equals = argument.find('=');
    if (equals == std::string::npos || equals == 0) return false;
    picture.name = argument.substr(0, equals);
    std::string rest = argument.substr(equals + 1);
    const auto colon = rest.rfind(':');
    if (colon != std::string::npos) {
        std::string list = rest.substr(colon + 1);
        rest.resize(colon);
        size_t start = 0;
        while (start <= list.size()) {
            const auto comma = list.find(',', start);
            const std::string side = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            if (side.empty() || side.find_first_not_of("0123456789") != std::string::npos) return false;
            sides.push_back(std::stoi(side));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    file = QString::fromLocal8Bit(rest.c_str());
    return true;
}

void write(std::ostream& out, const std::vector<Picture>& pictures) {
    out << "// Written by quillora-prerender when the program was built; not to be edited.\n"
           "#include \"prerendered.h\"\n\nnamespace {\n";
    for (const Picture& picture : pictures) {
        for (size_t i = 0; i < picture.images.size(); ++i) {
            const QImage& image = picture.images[i];
            out << "const quint32 " << picture.name << i << "[] = {";
            for (int y = 0; y < image.height(); ++y) {
                const auto* row = reinterpret_cast<const quint32*>(image.constScanLine(y));
                for (int x = 0; x < image.width(); ++x) {
                    char text[16];
                    std::snprintf(text, sizeof text, "%s0x%x,", x % 8 == 0 ? "\n" : "", row[x]);
                    out << text;
                }
            }
            out << "};\n";
        }
        out << "const PrerenderedImage " << picture.name << "[] = {";
        for (size_t i = 0; i < picture.images.size(); ++i)
            out << "{" << picture.images[i].width() << ", " << picture.images[i].height() << ", " << picture.name << i
                << "}, ";
        out << "};\n";
    }
    out << "}  // namespace\n\nconst PrerenderedPicture kPrerenderedPictures[] = {\n";
    for (const Picture& picture : pictures)
        out << "    {\"" << picture.name << "\", " << picture.name << ", " << picture.images.size() << "},\n";
    out << "};\nconst int kPrerenderedPictureCount = " << pictures.size() << ";\n";
}

}  // namespace

int main(int argc, char** argv) {
    // Drawn the same on any build machine, with or without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUT.cpp NAME=FILE.svg[:SIDE,...]...\n", argv[0]);
        return 2;
    }
    installFontSubstitutions();
    std::vector<Picture> pictures;
    for (int i = 2; i < argc; ++i) {
        Picture picture;
        QString file;
        std::vector<int> sides;
        if (!parse(argv[i], picture, file, sides)) {
            std::fprintf(stderr, "%s: cannot read the argument '%s'\n", argv[0], argv[i]);
            return 2;
        }
        if (sides.empty()) sides.push_back(0);
        for (const int side : sides) {
            const QImage image = svgPicture(file, QSize(side, side));
            if (image.isNull()) {
                std::fprintf(stderr, "%s: %s is no picture\n", argv[0], qPrintable(QFileInfo(file).filePath()));
                return 1;
            }
            picture.images.push_back(image);
        }
        pictures.push_back(std::move(picture));
    }
    std::ostringstream source;
    write(source, pictures);
    try {
        archive::WholeFileWriter out = archive::WholeFileWriter::forFileSystemPath(argv[1]);
        out.write(source.str());
        out.commit();
    } catch (const archive::FileWriteError& error) {
        std::fprintf(stderr, "%s: %s\n", argv[0], error.what());
        return 1;
    }
    return 0;
}
