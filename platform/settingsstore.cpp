#include "settingsstore.h"

#include "cp1252.h"
#include "registryhive.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace {

constexpr char kDefaultSection[] = "Common";
constexpr char kRootSection[] = "#ROOT";

// Blanks are spaces and control characters, as the section memory sees them.
bool isBlankText(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) > ' ') return false;
    return true;
}

std::string withIdent(const char* before, const std::string& ident, const char* after) {
    return std::string(before) + ident + after;
}

}  // namespace

const char* rootKeyName(TRegRootKey root) {
    switch (root) {
    case rpClassesRoot: return "HKEY_CLASSES_ROOT";
    case rpCurrentUser: return "HKEY_CURRENT_USER";
    case rpLocalMachine: return "HKEY_LOCAL_MACHINE";
    case rpUsers: return "HKEY_USERS";
    case rpCurrentConfig: return "HKEY_CURRENT_CONFIG";
    case rpDynData: return "HKEY_DYN_DATA";
    }
    return "HKEY_CURRENT_USER";
}

TIniCtrl::TIniCtrl(std::string hivePath) : hivePath_(std::move(hivePath)) {}

std::string TIniCtrl::defaultHivePath() {
    std::string configHome;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
        configHome = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) {
            const passwd* user = ::getpwuid(::getuid());
            home = user && user->pw_dir ? user->pw_dir : "";
        }
        configHome = std::string(home) + "/.config";
    }
    return configHome + "/Vortagon/registry.reg";
}

std::string TIniCtrl::ReadSetting(const std::string& section, const std::string& ident,
                                  const std::string& defaultValue) {
    // A path with a backslash in front is taken from the root; one at the end
    // changes nothing, so "Software\Vortagon\" is the same key as without it.
    std::string path = archive::cp1252ToUtf8(RegPath);
    if (!path.empty() && path.front() == '\\') path.erase(0, 1);
    while (!path.empty() && path.back() == '\\') path.pop_back();
    const std::string root = rootKeyName(RegRoot);
    const std::string keyPath = path.empty() ? root : root + "\\" + path;

    std::string effectiveSection;
    if (isBlankText(section)) {
        effectiveSection = previousSection_.empty() ? kDefaultSection : previousSection_;
    } else {
        effectiveSection = section;
        previousSection_ = section;
    }

    // Every read looks at the file afresh; an unreadable hive has no keys.
    RegistryHive hive;
    hive.load(hivePath_);

    // The predefined root keys always exist; below a missing key the section
    // is looked for under the root itself.
    const std::string& base = hive.keyExists(keyPath) ? keyPath : root;
    const std::string sectionKey =
        effectiveSection == kRootSection ? base : base + "\\" + archive::cp1252ToUtf8(effectiveSection);
    if (sectionKey != root && !hive.keyExists(sectionKey)) return defaultValue;

    const RegistryValue* value = hive.findValue(sectionKey, archive::cp1252ToUtf8(ident));
    if (!value) return defaultValue;
    if (value->form == RegistryValue::Form::Unreadable)
        throw SettingsError(withIdent("Konnte Daten f\xFCr '", ident, "' nicht holen"));
    if (value->dataEmpty()) return std::string();
    if (const auto text = hive.textOf(*value)) return archive::utf8ToCp1252(*text);
    throw SettingsError(withIdent("Ung\xFCltiger Datentyp f\xFCr '", ident, "'"));
}
