#pragma once
// The registry of this system: one hive file in the text form of registry
// export files ("REGEDIT4" or "Windows Registry Editor Version 5.00").
// Keys are full paths such as
//   HKEY_LOCAL_MACHINE\Software\Vortagon\Quillora-Engine
// and key and value names compare without regard to letter case.
//
// Texts here are UTF-8: this is the file layer. The settings store converts
// to and from the program's Windows-1252 at its border.
//
// The program only reads the hive; the engine installer is its only writer,
// and it replaces the file whole or not at all.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Registry data types as the hive's hex(n) notation numbers them.
inline constexpr std::uint32_t kRegString = 1;
inline constexpr std::uint32_t kRegExpandString = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiString = 7;

struct RegistryValue {
    enum class Form {
        Text,        // "name"="text"
        Dword,       // "name"=dword:0000000a
        Hex,         // "name"=hex:.. or hex(n):..
        Unreadable,  // a named value whose data cannot be understood; kept verbatim
        Verbatim     // a comment or a line that is no value; kept verbatim, has no name
    };

    Form form = Form::Text;
    std::string name;  // empty for the key's default value (@)
    std::uint32_t type = kRegString;
    std::string text;                 // Form::Text
    std::uint32_t dword = 0;          // Form::Dword
    std::vector<std::uint8_t> bytes;  // Form::Hex, as stored
    std::string line;                 // Form::Unreadable and Form::Verbatim: the whole line

    // What the registry would report as the value's data size being zero.
    bool dataEmpty() const;
    bool isStringType() const { return type == kRegString || type == kRegExpandString; }
};

struct RegistryKey {
    std::string path;  // as written in the file, without brackets
    std::vector<RegistryValue> values;
};

class RegistryHive {
public:
    enum class Format { Regedit4, Version5 };
    enum class LoadStatus { Loaded, Missing, Unreadable, NotAHive };

    // Reads the file at `path`. Anything but Loaded leaves the hive empty.
    LoadStatus load(const std::string& path);
    // Parses the bytes of a hive file: UTF-8 with or without byte order mark,
    // UTF-16LE with byte order mark, or (when not valid UTF-8) Windows-1252.
    // False when the text does not start with one of the two headers.
    bool parse(std::string_view fileBytes);
    // The hive file's text: UTF-8 without byte order mark, in the hive's format.
    std::string serialise() const;
    // Replaces the file at `path` whole or not at all: a temporary file beside
    // it is written, flushed to disk and renamed over it. Creates the folder.
    // Returns 0 or the errno of the step that failed; the old file is then untouched.
    int save(const std::string& path) const;

    Format format() const { return format_; }
    const std::vector<RegistryKey>& keys() const { return keys_; }

    // A key exists when it is written in the file or lies on the path to one
    // that is.
    bool keyExists(std::string_view keyPath) const;
    // Nothing when the key or the value is absent. Name "" is the default value.
    const RegistryValue* findValue(std::string_view keyPath, std::string_view name) const;
    // The text of a string-typed value up to its first NUL; the data of hex(1)
    // and hex(2) is UTF-16LE in version 5 files and Windows-1252 in REGEDIT4 files.
    std::optional<std::string> textOf(const RegistryValue& value) const;

    // Sets a plain string value, creating the key when needed. An existing
    // key and value keep the spelling of their names. Names hold no line break.
    void setText(std::string_view keyPath, std::string_view name, std::string_view text);

private:
    // The index of the key, added at the end when absent.
    size_t keyIndex(std::string_view keyPath);
    void deleteKey(std::string_view keyPath);
    void parseValueLine(RegistryKey* key, const std::string& line);

    Format format_ = Format::Version5;
    std::vector<std::string> preamble_;  // verbatim lines before the first key
    std::vector<RegistryKey> keys_;
};

// Case-insensitive comparison of key and value names, as the registry does it.
bool sameRegistryName(std::string_view a, std::string_view b);
