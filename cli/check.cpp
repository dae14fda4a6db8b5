#include "check.h"

#include "cp1252.h"
#include "texts.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <utility>

namespace cli {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool hasOuterBlanks(std::string_view text) {
    return !text.empty() && (isBlank(text.front()) || isBlank(text.back()));
}

// The five bytes Windows-1252 leaves undefined: a file may hold them, no
// font shows them.
bool hasUndefinedByte(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
    });
}

// Letters in upper case, blanks gone: what a name was meant to be when only
// those differ.
std::string looseForm(std::string_view text) {
    std::string loose;
    for (char c : text)
        if (!isBlank(c)) loose += static_cast<char>(archive::upperCp1252(static_cast<unsigned char>(c)));
    return loose;
}

std::optional<long long> wholeNumber(std::string_view text) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end) return std::nullopt;
    return value;
}

bool before(archive::Issue a, archive::Issue b) { return a.year != b.year ? a.year < b.year : a.month < b.month; }

std::string joined(std::string_view a, std::string_view b) {
    std::string text(a);
    text += ' ';
    text += b;
    return text;
}

}  // namespace

std::string issueText(archive::Issue issue) {
    std::string text = std::to_string(issue.month);
    text += '/';
    text += std::to_string(issue.year);
    return text;
}

std::string tableLabel(const archive::ViewDef& view) {
    const std::string_view file = view.tableFile;
    return std::string(file.substr(0, file.find('.')));
}

void checkFields(const archive::ViewDef& view, const std::vector<archive::StoredField>& fields,
                 const FindingSink& sink) {
    const std::string label = tableLabel(view);
    auto report = [&](std::string_view field, std::string problem) {
        sink(Finding{label, 0, false, std::string(field), std::nullopt, std::move(problem)});
    };
    for (size_t i = 0; i < view.fields.size(); ++i) {
        const archive::FieldDef& wanted = view.fields[i];
        const auto found = std::find_if(fields.begin(), fields.end(), [&](const archive::StoredField& field) {
            return archive::equalsIgnoringCase(field.name, wanted.name);
        });
        if (found == fields.end()) {
            report(wanted.name, std::string(texts::kFieldMissing));
            continue;
        }
        const auto position = static_cast<size_t>(found - fields.begin());
        if (position != i)
            report(wanted.name, joined(texts::kFieldPosition, std::to_string(position + 1)) + " " +
                                    joined(texts::kFieldPositionWanted, std::to_string(i + 1)));
        if (found->name != wanted.name) report(found->name, joined(texts::kFieldName, archive::quoted(wanted.name)));
        if (found->kind != wanted.kind) {
            std::string problem = joined(texts::kFieldKind, archive::quoted(found->declared));
            problem += ", ";
            problem += wanted.kind == archive::FieldKind::Integer ? texts::kExpectInteger : texts::kExpectText;
            report(found->name, std::move(problem));
        }
    }
    for (const archive::StoredField& field : fields)
        if (archive::fieldIndex(view, field.name) < 0) report(field.name, std::string(texts::kFieldExtra));
}

RowChecker::RowChecker(const archive::ViewDef& view, const std::vector<archive::StoredField>& fields,
                       std::optional<archive::Issue> newest, FindingSink sink)
    : view_(view), label_(tableLabel(view)), newest_(newest), sink_(std::move(sink)) {
    auto stored = [&](std::string_view name) {
        for (size_t i = 0; i < fields.size(); ++i)
            if (archive::equalsIgnoringCase(fields[i].name, name)) return static_cast<int>(i);
        return -1;
    };
    for (const archive::StoredField& field : fields) fieldNames_.push_back(field.name);
    codedField_.assign(fields.size(), false);
    title_ = stored("TITEL");
    issue_ = stored("AUSGABE");
    rating_ = stored("WERTUNG");
    category_ = stored(view.categoryField);
    codeNames_.reserve(view.fields.size());
    for (const archive::FieldDef& definition : view.fields) {
        const int index = stored(definition.name);
        if (index < 0) continue;
        if (definition.kind == archive::FieldKind::Integer && index != rating_) integers_.push_back(index);
        std::span<const std::string_view> names;
        if (definition.name == view.categoryField) {
            names = view.categories;
        } else if (definition.cyclesMedia) {
            names = archive::media();
        } else if (!definition.codes.empty()) {
            auto& list = codeNames_.emplace_back();
            for (const archive::CodeEntry& entry : definition.codes) list.push_back(entry.name);
            names = list;
        } else {
            continue;
        }
        coded_.push_back({index, names});
        codedField_[static_cast<size_t>(index)] = true;
    }
}

void RowChecker::report(const archive::StoredRow& row, bool fileLine, int field, std::string problem) const {
    sink_(Finding{label_, row.rowId, fileLine, fieldNames_[static_cast<size_t>(field)],
                  row.cells[static_cast<size_t>(field)], std::move(problem)});
}

void RowChecker::checkIssue(const archive::StoredRow& row, bool fileLine) const {
    const archive::Cell& code = row.cells[static_cast<size_t>(issue_)];
    const std::optional<archive::Issue> issue = code ? archive::parseIssueCode(*code) : std::nullopt;
    if (!issue) {
        report(row, fileLine, issue_, std::string(texts::kIssueForm));
        return;
    }
    if (before(*issue, archive::Issue{})) {
        report(row, fileLine, issue_, joined(texts::kIssueBeforeFirst, issueText(archive::Issue{})));
    } else if (newest_ && before(*newest_, *issue)) {
        report(row, fileLine, issue_, joined(texts::kIssueAfterNewest, issueText(*newest_)));
    }
}

void RowChecker::checkCoded(const archive::StoredRow& row, bool fileLine, const CodedField& coded) const {
    const archive::Cell& value = row.cells[static_cast<size_t>(coded.index)];
    const std::string_view text = value ? std::string_view(*value) : std::string_view();
    if (std::find(coded.names.begin(), coded.names.end(), text) != coded.names.end()) return;
    std::string problem(texts::kNotInList);
    const std::string loose = looseForm(text);
    for (std::string_view name : coded.names) {
        if (looseForm(name) != loose) continue;
        problem += "; ";
        problem += joined(texts::kMeant, archive::quoted(name));
        break;
    }
    report(row, fileLine, coded.index, std::move(problem));
}

void RowChecker::check(const archive::StoredRow& row, bool fileLine) {
    if (issue_ >= 0) checkIssue(row, fileLine);
    if (rating_ >= 0) {
        if (const archive::Cell& rating = row.cells[static_cast<size_t>(rating_)]) {
            const std::optional<long long> number = wholeNumber(*rating);
            if (!number || *number < 0 || *number > 100) report(row, fileLine, rating_, std::string(texts::kRatingRange));
        }
    }
    for (int index : integers_)
        if (const archive::Cell& value = row.cells[static_cast<size_t>(index)]; value && !wholeNumber(*value))
            report(row, fileLine, index, std::string(texts::kNotInteger));
    for (const CodedField& coded : coded_) checkCoded(row, fileLine, coded);
    if (title_ >= 0) {
        const archive::Cell& title = row.cells[static_cast<size_t>(title_)];
        if (!title || title->find_first_not_of(" \t") == std::string::npos)
            report(row, fileLine, title_, std::string(texts::kEmptyTitle));
    }
    for (size_t c = 0; c < row.cells.size(); ++c) {
        const archive::Cell& value = row.cells[c];
        if (!value) continue;
        const int field = static_cast<int>(c);
        if (row.foreign[c] || hasUndefinedByte(*value)) report(row, fileLine, field, std::string(texts::kForeignText));
        // A name of a list with blanks around it is told as the name meant.
        if (!codedField_[c] && hasOuterBlanks(*value) && value->find_first_not_of(" \t") != std::string::npos)
            report(row, fileLine, field, std::string(texts::kOuterBlanks));
    }
    if (title_ < 0 || issue_ < 0) return;
    const archive::Cell& title = row.cells[static_cast<size_t>(title_)];
    if (!title || title->empty()) return;
    repeatKey(row);
    const Seen* first = firstWithKey(row.rowId, fileLine);
    if (!first) return;
    std::string problem(texts::kRepeats);
    problem += ' ';
    problem += first->fileLine ? texts::kFileLine : texts::kLine;
    problem += ' ';
    problem += std::to_string(first->row);
    report(row, fileLine, title_, std::move(problem));
}

void RowChecker::repeatKey(const archive::StoredRow& row) {
    key_.clear();
    for (int field : {title_, issue_, category_}) {
        if (field < 0) continue;
        if (const archive::Cell& value = row.cells[static_cast<size_t>(field)]) key_ += *value;
        key_ += '\t';
    }
}

void RowChecker::remember(const archive::StoredRow& row) {
    if (title_ < 0 || issue_ < 0) return;
    const archive::Cell& title = row.cells[static_cast<size_t>(title_)];
    if (!title || title->empty()) return;
    repeatKey(row);
    firstWithKey(row.rowId, false);
}

void RowChecker::reserve(size_t rows) {
    size_t size = 64;
    while (size < 2 * rows) size *= 2;
    if (size <= slots_.size()) return;
    seen_.reserve(rows);
    keys_.reserve(rows * 32);
    slots_.assign(size, 0);
    for (size_t index = 0; index < seen_.size(); ++index) {
        const Seen& entry = seen_[index];
        const uint64_t hash = std::hash<std::string_view>{}(std::string_view(keys_).substr(entry.offset, entry.length));
        size_t slot = hash & (size - 1);
        while (slots_[slot] != 0) slot = (slot + 1) & (size - 1);
        slots_[slot] = (hash & ~uint64_t{0xFFFFFFFF}) | (index + 1);
    }
}

const RowChecker::Seen* RowChecker::firstWithKey(int64_t row, bool fileLine) {
    if (2 * (seen_.size() + 1) > slots_.size()) reserve(2 * (seen_.size() + 1));
    const uint64_t hash = std::hash<std::string_view>{}(key_);
    const uint64_t tag = hash & ~uint64_t{0xFFFFFFFF};
    const size_t mask = slots_.size() - 1;
    size_t slot = hash & mask;
    for (; slots_[slot] != 0; slot = (slot + 1) & mask) {
        if ((slots_[slot] & ~uint64_t{0xFFFFFFFF}) != tag) continue;
        const Seen& entry = seen_[(slots_[slot] & 0xFFFFFFFF) - 1];
        if (std::string_view(keys_).substr(entry.offset, entry.length) == key_) return &entry;
    }
    slots_[slot] = tag | (seen_.size() + 1);
    seen_.push_back(Seen{keys_.size(), static_cast<uint32_t>(key_.size()), fileLine, row});
    keys_ += key_;
    return nullptr;
}

}  // namespace cli
