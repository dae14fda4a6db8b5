#include "registryhive.h"

#include "cp1252.h"
#include "wholefile.h"

#include <QString>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

constexpr std::string_view kHeaderRegedit4 = "REGEDIT4";
constexpr std::string_view kHeaderVersion5 = "Windows Registry Editor Version 5.00";
// Hex data is wrapped the way export files do it, so long values stay readable.
constexpr int kHexBytesPerLine = 24;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimLeft(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    return s;
}

std::string_view trimRight(std::string_view s) {
    while (!s.empty() && (isBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::string_view trim(std::string_view s) { return trimRight(trimLeft(s)); }

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && archive::equalsIgnoringAsciiCase(s.substr(0, prefix.size()), prefix);
}


// UTF-16LE code units as UTF-8, stopping at the first NUL unit when asked;
// a lone surrogate becomes U+FFFD rather than being dropped.
std::string utf16leToUtf8(const std::uint8_t* data, size_t size, bool stopAtNul) {
    std::string out;
    const size_t units = size / 2;
    auto unitAt = [&](size_t i) { return static_cast<char32_t>(data[2 * i] | (data[2 * i + 1] << 8)); };
    for (size_t i = 0; i < units; ++i) {
        char32_t unit = unitAt(i);
        if (unit == 0 && stopAtNul) break;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            const char32_t low = unitAt(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                archive::appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;
        archive::appendUtf8(out, unit);
    }
    return out;
}

// The file's bytes as UTF-8 text.
std::string decodeFile(std::string_view bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE)
        return utf16leToUtf8(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 2, bytes.size() - 2, false);
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    if (archive::isValidUtf8(bytes)) return std::string(bytes);
    // An old REGEDIT4 file written in the Windows code page.
    return archive::cp1252ToUtf8(bytes);
}

// A quoted string starting at s[pos] == '"', with \\ and \" escaped. Any other
// backslash stands for itself. Sets pos behind the closing quote.
std::optional<std::string> parseQuoted(std::string_view s, size_t& pos) {
    if (pos >= s.size() || s[pos] != '"') return std::nullopt;
    std::string out;
    for (size_t i = pos + 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            pos = i + 1;
            return out;
        }
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
            out += s[++i];
            continue;
        }
        out += c;
    }
    return std::nullopt;
}

std::string quote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::uint32_t> parseHexNumber(std::string_view s, size_t maxDigits) {
    if (s.empty() || s.size() > maxDigits) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : s) {
        const int d = hexDigit(c);
        if (d < 0) return std::nullopt;
        value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return value;
}

// "41,00,42" (blanks allowed around the commas); empty for no bytes.
std::optional<std::vector<std::uint8_t>> parseHexBytes(std::string_view s) {
    std::vector<std::uint8_t> bytes;
    s = trim(s);
    if (s.empty()) return bytes;
    while (true) {
        const size_t comma = s.find(',');
        const auto number = parseHexNumber(trim(s.substr(0, comma)), 2);
        if (!number) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(*number));
        if (comma == std::string_view::npos) return bytes;
        s.remove_prefix(comma + 1);
    }
}

std::string hexText(const std::vector<std::uint8_t>& bytes, size_t firstLineUsed) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    int onLine = static_cast<int>(firstLineUsed / 3);
    for (size_t i = 0; i < bytes.size(); ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0x0F];
        if (i + 1 < bytes.size()) {
            out += ',';
            if (++onLine >= kHexBytesPerLine) {
                out += "\\\n  ";
                onLine = 0;
            }
        }
    }
    return out;
}

// A text with a line break cannot stand between quotes on one line; it is
// written as string data in hex, which the format allows, NUL included.
std::vector<std::uint8_t> stringData(std::string_view utf8, RegistryHive::Format format) {
    std::vector<std::uint8_t> bytes;
    if (format == RegistryHive::Format::Regedit4) {
        const std::string ansi = archive::utf8ToCp1252(utf8);
        bytes.assign(ansi.begin(), ansi.end());
        bytes.push_back(0);
        return bytes;
    }
    for (const QChar character : QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()))) {
        const char16_t unit = character.unicode();
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

std::string serialiseValue(const RegistryValue& value, RegistryHive::Format format) {
    if (value.form == RegistryValue::Form::Unreadable || value.form == RegistryValue::Form::Verbatim)
        return value.line;
    if (value.form == RegistryValue::Form::Text && value.text.find_first_of("\r\n") != std::string::npos) {
        RegistryValue asHex = value;
        asHex.form = RegistryValue::Form::Hex;
        asHex.bytes = stringData(value.text, format);
        return serialiseValue(asHex, format);
    }
    std::string out = value.name.empty() ? "@" : quote(value.name);
    out += '=';
    switch (value.form) {
    case RegistryValue::Form::Text:
        out += quote(value.text);
        break;
    case RegistryValue::Form::Dword: {
        char digits[9];
        std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(value.dword));
        out += "dword:";
        out += digits;
        break;
    }
    case RegistryValue::Form::Hex:
        if (value.type == kRegBinary) {
            out += "hex:";
        } else {
            char prefix[24];
            std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
            out += prefix;
        }
        out += hexText(value.bytes, out.size());
        break;
    default:
        break;
    }
    return out;
}

// The key itself or a key below it.
bool isSameOrBelow(std::string_view path, std::string_view keyPath) {
    return sameRegistryName(path, keyPath) ||
           (path.size() > keyPath.size() && path[keyPath.size()] == '\\' &&
            sameRegistryName(path.substr(0, keyPath.size()), keyPath));
}

bool isAscii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

}  // namespace

bool sameRegistryName(std::string_view a, std::string_view b) {
    if (isAscii(a) && isAscii(b)) return archive::equalsIgnoringAsciiCase(a, b);
    const QString qa = QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size()));
    const QString qb = QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size()));
    return qa.compare(qb, Qt::CaseInsensitive) == 0;
}

bool RegistryValue::dataEmpty() const {
    switch (form) {
    case Form::Hex:
        return bytes.empty();
    case Form::Text:  // the registry stores the terminating NUL
    case Form::Dword:
    default:
        return false;
    }
}

RegistryHive::LoadStatus RegistryHive::load(const std::string& path) {
    *this = RegistryHive();
    std::error_code error;
    if (!std::filesystem::exists(path, error)) return error ? LoadStatus::Unreadable : LoadStatus::Missing;
    if (!std::filesystem::is_regular_file(path, error)) return LoadStatus::Unreadable;
    std::ifstream file(path, std::ios::binary);
    if (!file) return LoadStatus::Unreadable;
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) return LoadStatus::Unreadable;
    if (!parse(bytes)) {
        *this = RegistryHive();
        return LoadStatus::NotAHive;
    }
    return LoadStatus::Loaded;
}

bool RegistryHive::parse(std::string_view fileBytes) {
    format_ = Format::Version5;
    preamble_.clear();
    keys_.clear();

    const std::string text = decodeFile(fileBytes);
    std::vector<std::string> lines;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.emplace_back(trimRight(std::string_view(text).substr(start, end - start)));
        start = end + 1;
    }

    size_t i = 0;
    while (i < lines.size() && trim(lines[i]).empty()) ++i;
    if (i == lines.size()) return false;
    const std::string_view header = trim(lines[i]);
    if (header == kHeaderRegedit4) format_ = Format::Regedit4;
    else if (header == kHeaderVersion5) format_ = Format::Version5;
    else return false;

    // Index into keys_ rather than a pointer: adding keys moves them.
    std::optional<size_t> current;
    for (++i; i < lines.size(); ++i) {
        std::string line(trimLeft(lines[i]));
        if (line.empty()) continue;
        if (line.front() == '[') {
            const size_t close = line.rfind(']');
            if (close == std::string::npos) {
                // Values after a broken key line belong to no key we know.
                current.reset();
                preamble_.push_back(line);
                continue;
            }
            std::string_view path = std::string_view(line).substr(1, close - 1);
            if (!path.empty() && path.front() == '-') {
                deleteKey(path.substr(1));
                current.reset();
                continue;
            }
            current = keyIndex(path);
            continue;
        }
        if (line.front() == '"' || line.front() == '@') {
            // A continued line is stripped at its end like every line: joined
            // with a blank continuation it would end where the part before
            // ended, in blanks, a stray CR or another backslash, and the
            // writer, which puts it on one line, would be read differently
            // the next time. The end of the file continues a line with
            // nothing, as the empty line after a file's last line end does.
            while (true) {
                line.resize(trimRight(line).size());
                if (line.empty() || line.back() != '\\') break;
                line.pop_back();
                if (i + 1 < lines.size()) line += trimLeft(lines[++i]);
            }
            // GCC 12 thinks *current may be read unset here, behind its own test.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
            if (current) parseValueLine(&keys_[*current], line);
            else preamble_.push_back(line);
#pragma GCC diagnostic pop
            continue;
        }
        RegistryValue verbatim;
        verbatim.form = RegistryValue::Form::Verbatim;
        verbatim.line = line;
        if (current) keys_[*current].values.push_back(std::move(verbatim));
        else preamble_.push_back(line);
    }
    return true;
}

void RegistryHive::parseValueLine(RegistryKey* key, const std::string& line) {
    RegistryValue value;
    value.line = line;
    size_t pos = 0;
    if (line.front() == '@') {
        pos = 1;
    } else if (auto name = parseQuoted(line, pos)) {
        value.name = std::move(*name);
    } else {
        value.form = RegistryValue::Form::Verbatim;
        key->values.push_back(std::move(value));
        return;
    }
    std::string_view rest = trimLeft(std::string_view(line).substr(pos));
    if (rest.empty() || rest.front() != '=') {
        value.form = RegistryValue::Form::Verbatim;
        value.name.clear();
        key->values.push_back(std::move(value));
        return;
    }
    const std::string_view data = trim(rest.substr(1));

    value.form = RegistryValue::Form::Unreadable;
    if (data == "-") {
        std::erase_if(key->values, [&](const RegistryValue& v) {
            return v.form != RegistryValue::Form::Verbatim && sameRegistryName(v.name, value.name);
        });
        return;
    }
    if (!data.empty() && data.front() == '"') {
        size_t end = 0;
        if (auto text = parseQuoted(data, end); text && end == data.size()) {
            value.form = RegistryValue::Form::Text;
            value.type = kRegString;
            value.text = std::move(*text);
        }
    } else if (startsWithNoCase(data, "dword:")) {
        if (auto number = parseHexNumber(data.substr(6), 8)) {
            value.form = RegistryValue::Form::Dword;
            value.type = kRegDword;
            value.dword = *number;
        }
    } else if (startsWithNoCase(data, "hex")) {
        std::string_view afterHex = data.substr(3);
        std::optional<std::uint32_t> type = kRegBinary;
        if (!afterHex.empty() && afterHex.front() == '(') {
            const size_t close = afterHex.find(')');
            type = close == std::string_view::npos ? std::nullopt
                                                     : parseHexNumber(afterHex.substr(1, close - 1), 8);
            afterHex = close == std::string_view::npos ? std::string_view() : afterHex.substr(close + 1);
        }
        if (type && !afterHex.empty() && afterHex.front() == ':') {
            if (auto bytes = parseHexBytes(afterHex.substr(1))) {
                value.form = RegistryValue::Form::Hex;
                value.type = *type;
                value.bytes = std::move(*bytes);
            }
        }
    }
    if (value.form != RegistryValue::Form::Unreadable) value.line.clear();

    // A later line for the same name replaces the earlier one, as an import would.
    for (auto& existing : key->values) {
        if (existing.form != RegistryValue::Form::Verbatim && sameRegistryName(existing.name, value.name)) {
            existing = std::move(value);
            return;
        }
    }
    key->values.push_back(std::move(value));
}

std::string RegistryHive::serialise() const {
    std::string out(format_ == Format::Regedit4 ? kHeaderRegedit4 : kHeaderVersion5);
    out += '\n';
    for (const auto& line : preamble_) {
        out += line;
        out += '\n';
    }
    for (const auto& key : keys_) {
        out += "\n[";
        out += key.path;
        out += "]\n";
        for (const auto& value : key.values) {
            out += serialiseValue(value, format_);
            out += '\n';
        }
    }
    return out;
}

int RegistryHive::save(const std::string& path) const {
    namespace fs = std::filesystem;
    std::error_code error;
    // The writer writes through a symbolic link to the file it names.
    const fs::path target(path);
    fs::create_directories(target.parent_path().empty() ? fs::path(".") : target.parent_path(), error);
    if (error) return error.value();
    try {
        archive::WholeFileWriter file = archive::WholeFileWriter::forFileSystemPath(target.string());
        file.write(serialise());
        file.commit();
    } catch (const archive::FileWriteError& failure) {
        return failure.code();
    }
    return 0;
}

bool RegistryHive::keyExists(std::string_view keyPath) const {
    for (const auto& key : keys_)
        if (isSameOrBelow(key.path, keyPath)) return true;
    return false;
}

const RegistryValue* RegistryHive::findValue(std::string_view keyPath, std::string_view name) const {
    for (const auto& key : keys_) {
        if (!sameRegistryName(key.path, keyPath)) continue;
        for (const auto& value : key.values)
            if (value.form != RegistryValue::Form::Verbatim && sameRegistryName(value.name, name))
                return &value;
        return nullptr;
    }
    return nullptr;
}

std::optional<std::string> RegistryHive::textOf(const RegistryValue& value) const {
    if (!value.isStringType()) return std::nullopt;
    switch (value.form) {
    case RegistryValue::Form::Text:
        return value.text.substr(0, value.text.find('\0'));
    case RegistryValue::Form::Hex:
        if (format_ == Format::Version5) return utf16leToUtf8(value.bytes.data(), value.bytes.size(), true);
        {
            std::string ansi(value.bytes.begin(), value.bytes.end());
            return archive::cp1252ToUtf8(ansi.substr(0, ansi.find('\0')));
        }
    default:
        return std::nullopt;
    }
}

size_t RegistryHive::keyIndex(std::string_view keyPath) {
    for (size_t i = 0; i < keys_.size(); ++i)
        if (sameRegistryName(keys_[i].path, keyPath)) return i;
    keys_.push_back(RegistryKey{std::string(keyPath), {}});
    return keys_.size() - 1;
}

void RegistryHive::deleteKey(std::string_view keyPath) {
    std::erase_if(keys_, [&](const RegistryKey& key) { return isSameOrBelow(key.path, keyPath); });
}

void RegistryHive::setText(std::string_view keyPath, std::string_view name, std::string_view text) {
    RegistryKey& key = keys_[keyIndex(keyPath)];
    RegistryValue value;
    value.form = RegistryValue::Form::Text;
    value.type = kRegString;
    value.name = std::string(name);
    value.text = std::string(text);
    for (auto& existing : key.values) {
        if (existing.form != RegistryValue::Form::Verbatim && sameRegistryName(existing.name, name)) {
            value.name = existing.name;
            existing = std::move(value);
            return;
        }
    }
    key.values.push_back(std::move(value));
}
