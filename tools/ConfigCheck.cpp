#include "ConfigCheck.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>

#include "ToolSupport.h"

namespace tembra_tools {

namespace {

using Kind = ConfigCodec::Kind;

const char* const INVISIBLE = " \t\r\v\f";

std::string quoted(const std::string& text) { return "'" + printable(text) + "'"; }

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string keyList() {
    std::vector<std::string> names;
    for (const ConfigCodec::Key& key : ConfigCodec::keys()) names.push_back(key.name);
    return alternatives(names);
}

std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// What an unknown key was probably meant to be.
std::string keyHint(const std::string& name) {
    if (name.find('=') != std::string::npos) return "a key and its value are separated by one blank, not '='";
    const ConfigCodec::Key* nearest = nullptr;
    std::size_t best = 3;
    for (const ConfigCodec::Key& key : ConfigCodec::keys()) {
        const std::size_t distance = editDistance(upper(name), key.name);
        if (distance < best) {
            best = distance;
            nearest = &key;
        }
    }
    if (nearest == nullptr) return "the keys: " + keyList();
    if (best == 0) return "keys are case-sensitive: " + std::string(nearest->name);
    return "did you mean " + std::string(nearest->name) + "?";
}

// "a carriage return", "2 blanks and a tab"
std::string invisibleCharacters(const std::string& text) {
    static const char* const NAMES[][2] = {{"a blank", "blanks"},
                                           {"a tab", "tabs"},
                                           {"a carriage return", "carriage returns"},
                                           {"a vertical tab", "vertical tabs"},
                                           {"a form feed", "form feeds"}};
    std::string description;
    for (int kind = 0; kind < 5; ++kind) {
        const long count = static_cast<long>(std::count(text.begin(), text.end(), INVISIBLE[kind]));
        if (count == 0) continue;
        description += (description.empty() ? "" : " and ") +
                       (count == 1 ? std::string(NAMES[kind][0]) : std::to_string(count) + " " + NAMES[kind][1]);
    }
    return description;
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(INVISIBLE);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(INVISIBLE) - first + 1);
}

std::string rangeText(const ConfigCodec::Key& key) {
    if (std::isinf(key.high)) {
        return (key.lowIncluded ? "at least " : "greater than ") + ConfigCodec::numberText(key.low);
    }
    return (key.lowIncluded ? "[" : "(") + ConfigCodec::numberText(key.low) + ", " + ConfigCodec::numberText(key.high) +
           "]";
}

}  // namespace

std::vector<ConfigCheck::Finding> ConfigCheck::check(std::istream& in) {
    ConfigCheck check;
    ConfigCodec::Reader reader(in);
    Item item;
    while (reader.next(item)) check.item(item);
    if (in.bad()) check.add(0, "cannot be read to its end");
    std::stable_sort(check.findings_.begin(), check.findings_.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    return check.findings_;
}

void ConfigCheck::print(std::ostream& out, const std::string& prefix, const std::string& name,
                        const std::vector<Finding>& findings) {
    for (const Finding& finding : findings) {
        out << prefix << printable(name);
        if (finding.line > 0) out << ':' << finding.line;
        out << ": " << finding.message << '\n';
    }
}

void ConfigCheck::add(const int line, const std::string& message) { findings_.push_back(Finding{line, message}); }

void ConfigCheck::item(const Item& item) {
    switch (item.type) {
        case Item::Type::COMMENT:
        case Item::Type::BLANK: break;
        case Item::Type::INDENTED:
            add(item.line, "starts with a blank or a tab: the library refuses the line (\"spaces at begin of line\")");
            break;
        case Item::Type::ENTRY: entry(item); break;
        case Item::Type::NO_VALUE:
            if (ConfigCodec::findKey(item.key) == nullptr) unknownKey(item);
            else add(item.line, item.key + " has no value before the end of the file: the library ignores it");
            break;
        case Item::Type::LONG_WORD:
            add(item.line, "a word longer than " + std::to_string(ConfigCodec::LINE_LIMIT) +
                               " characters: the library reads no further");
            break;
    }
    if (item.tooLong) {
        add(item.valueLine, "longer than " + std::to_string(ConfigCodec::LINE_LIMIT) +
                                " characters: the library reads only that much of it and no further lines");
    }
}

void ConfigCheck::entry(const Item& item) {
    const Key* key = ConfigCodec::findKey(item.key);
    if (item.separator == '\n') {
        add(item.line, quoted(item.key) + " is alone on its line: the library takes line " +
                           std::to_string(item.valueLine) + " as its value");
    }
    if (key == nullptr) return unknownKey(item);
    int& first = firstLine_[static_cast<std::size_t>(key - ConfigCodec::keys().data())];
    if (first > 0) {
        add(item.line, std::string(key->name) + " is set again (first on line " + std::to_string(first) +
                           "): the later value wins");
    } else {
        first = item.line;
    }
    trailing(*key, item);
    if (key->kind == Kind::NUMBER) number(*key, item);
    else word(*key, item);
}

void ConfigCheck::unknownKey(const Item& item) {
    add(item.line, "unknown key " + quoted(item.key) + " is ignored (" + keyHint(item.key) + ")");
}

// Invisible characters at the end of the value (a carriage return ending
// the key counts too): numbers read alike with them, words are refused.
void ConfigCheck::trailing(const Key& key, const Item& item) {
    std::string tail = item.separator == '\r' ? "\r" : "";
    const std::size_t last = item.text.find_last_not_of(INVISIBLE);
    tail += item.text.substr(last == std::string::npos ? 0 : last + 1);
    if (tail.empty()) return;
    add(item.valueLine, std::string(key.name) + " ends in invisible characters (" + invisibleCharacters(tail) + ")");
}

void ConfigCheck::number(const Key& key, const Item& item) {
    const std::string text = trimmed(item.text);
    const char* begin = text.c_str();
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    const std::string name = key.name;
    if (text.empty()) return add(item.valueLine, name + " has no value: the library takes 0");
    if (end == begin) {
        const std::string hint = text[0] == '=' ? " (a key and its value are separated by one blank, not '=')" : "";
        return add(item.valueLine, name + " " + quoted(text) + " is not a number: the library takes 0" + hint);
    }
    if (!std::isfinite(value)) {
        return add(item.valueLine, name + " " + quoted(text) + " is not a finite number: the library refuses it");
    }
    if (end != begin + text.size()) {
        add(item.valueLine, name + " " + quoted(text) + " is a number only as far as " +
                                quoted(text.substr(0, static_cast<std::size_t>(end - begin))) + ": the library takes " +
                                ConfigCodec::numberText(value));
    }
    range(key, item.valueLine, value);
}

void ConfigCheck::range(const Key& key, const int line, const double value) {
    const bool aboveLow = key.lowIncluded ? value >= key.low : value > key.low;
    if (aboveLow && value <= key.high) return;
    add(line, std::string(key.name) + " " + ConfigCodec::numberText(value) + " is outside its sensible range (" +
                  rangeText(key) + ")");
}

void ConfigCheck::word(const Key& key, const Item& item) {
    if (ConfigCodec::wordValue(key.kind, item.text) >= 0) return;
    const std::vector<std::string>& words = ConfigCodec::words(key.kind);
    const std::string bare = trimmed(item.text);
    std::string hint;
    if (ConfigCodec::wordValue(key.kind, bare) >= 0) {
        hint = " (invisible characters around the word)";
    } else if (ConfigCodec::wordValue(key.kind, upper(bare)) >= 0) {
        hint = " (the words are case-sensitive)";
    }
    add(item.valueLine, std::string(key.name) + " " + quoted(item.text) + " is not one of " + alternatives(words) +
                            ": the library refuses it" + hint);
}

}  // namespace tembra_tools
