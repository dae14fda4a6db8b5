#pragma once
// The settings store `IniCtrl1`: reads named text values from the registry
// (the hive file of registryhive.h), addressed by a root key, a key path, a
// section and a value name, and hands back a default when the value is not
// there. It never writes.

#include <stdexcept>
#include <string>

enum TRegRootKey { rpClassesRoot, rpCurrentUser, rpLocalMachine, rpUsers, rpCurrentConfig, rpDynData };
// The store reads the registry whatever the target: ini files are not part of
// this program, and itAuto means the registry.
enum TIniTarget { itIniFile, itRegistry, itAuto };

// Where the engine installer registers the engine and the start-up looks for it.
inline constexpr char kEngineRegPath[] = "Software\\Vortagon";
inline constexpr char kEngineSection[] = "Quillora-Engine";
inline constexpr char kEngineVersionIdent[] = "Engine-Version";

// A failed read: German, Windows-1252.
class SettingsError : public std::runtime_error {
public:
    explicit SettingsError(const std::string& message) : std::runtime_error(message) {}
};

// The registry's name of a root key, "HKEY_LOCAL_MACHINE" for rpLocalMachine.
const char* rootKeyName(TRegRootKey root);

class TIniCtrl {
public:
    // `hivePath` is a file system path (UTF-8), not a program string.
    explicit TIniCtrl(std::string hivePath = defaultHivePath());

    TRegRootKey RegRoot = rpCurrentUser;
    std::string RegPath;
    TIniTarget Target = itAuto;

    // The value `ident` of `section` below RegRoot\RegPath, or `defaultValue`
    // when the key, the section or the value is absent or the hive cannot be
    // read. An empty section means the previous read's ("Common" at first);
    // "#ROOT" means RegPath itself. Windows-1252 in and out.
    // Throws SettingsError "Ungültiger Datentyp für '<ident>'" for a value
    // that is no string, and "Konnte Daten für '<ident>' nicht holen" for one
    // whose data cannot be read.
    std::string ReadSetting(const std::string& section, const std::string& ident, const std::string& defaultValue);

    const std::string& hivePath() const { return hivePath_; }

    // $XDG_CONFIG_HOME/Vortagon/registry.reg; ~/.config when XDG_CONFIG_HOME
    // is unset, empty or not absolute.
    static std::string defaultHivePath();

private:
    std::string hivePath_;
    std::string previousSection_;  // stands in for an empty section
};
