// The engine installer. The engine itself comes with the program, so
// installing it means registering it: "Engine-Version" is written into the
// hive, which the program reads at every start. Then the user is told that
// Quillora can be started again, in a message box when there is a display,
// else on the terminal.
//
// This is the only program that writes the hive. It keeps every other key and
// value and replaces the file whole or not at all; a hive it cannot read is
// left alone rather than replaced by one that lost its contents.

#include "cp1252.h"
#include "engine.h"
#include "fonts.h"
#include "messagebox.h"
#include "registryhive.h"
#include "settingsstore.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

constexpr char kInstalledText[] =
    "Die \"Quillora-Engine\" ist jetzt installiert.\n"
    "Sie k\xF6nnen Quillora jetzt erneut starten.";
constexpr char kFailedText[] = "Die \"Quillora-Engine\" konnte nicht installiert werden.\n";

std::string hiveName(const std::string& hivePath) { return archive::utf8ToCp1252(hivePath); }

// The reason of a failure, Windows-1252; nothing when the engine is registered.
std::optional<std::string> registerEngine(const std::string& hivePath) {
    RegistryHive hive;
    switch (hive.load(hivePath)) {
    case RegistryHive::LoadStatus::Loaded:
    case RegistryHive::LoadStatus::Missing:
        break;
    case RegistryHive::LoadStatus::Unreadable:
        return "Die Datei '" + hiveName(hivePath) + "' kann nicht gelesen werden.";
    case RegistryHive::LoadStatus::NotAHive:
        return "Die Datei '" + hiveName(hivePath) + "' ist keine Registrierungsdatei.";
    }
    const std::string key = std::string(rootKeyName(rpLocalMachine)) + "\\" + kEngineRegPath + "\\" + kEngineSection;
    hive.setText(key, kEngineVersionIdent, archive::kEngineVersion);
    if (const int errnum = hive.save(hivePath))
        return "Die Datei '" + hiveName(hivePath) + "' kann nicht geschrieben werden (" +
               archive::utf8ToCp1252(std::strerror(errnum)) + ").";
    return std::nullopt;
}

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// An offscreen platform shows nothing, so the user would never see the box.
bool displayAvailable() {
    if (isSet("QT_QPA_PLATFORM")) {
        const std::string platform = std::getenv("QT_QPA_PLATFORM");
        return platform.rfind("offscreen", 0) != 0 && platform.rfind("minimal", 0) != 0;
    }
    return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
}

void printLine(std::FILE* stream, const std::string& text) {
    std::fputs(archive::cp1252ToUtf8(text).c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<std::string> failure = registerEngine(TIniCtrl::defaultHivePath());

    if (displayAvailable()) {
        QApplication application(argc, argv);
        QApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
        installProgramFonts();
        if (failure) MessageBox::showError(nullptr, kFailedText + *failure);
        else MessageBox::showMessage(nullptr, kInstalledText);
    } else if (failure) {
        printLine(stderr, kFailedText + *failure);
    } else {
        printLine(stdout, kInstalledText);
    }
    return failure ? EXIT_FAILURE : EXIT_SUCCESS;
}
