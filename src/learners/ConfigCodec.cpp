#include "learners/ConfigCodec.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale>
#include <sstream>

#include "Tembra.h"

// The words are listed in the order of the enumerators they stand for.
static_assert(Tembra::GREEDY == 0 && Tembra::EPSILON_GREEDY == 1 && Tembra::SOFTMAX == 2, "word order");
static_assert(Tembra::NONE == 0 && Tembra::REPLACING == 1 && Tembra::ACCUMULATING == 2, "word order");

namespace {

using CharTraits = std::char_traits<char>;
using Values = ConfigCodec::Values;
using Kind = ConfigCodec::Kind;

bool isEnd(const int c) { return CharTraits::eq_int_type(c, CharTraits::eof()); }

// The white space that separates words, independent of any locale (and
// safe for bytes above 127).
bool isWhiteSpace(const int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

const double UNBOUNDED = std::numeric_limits<double>::infinity();

// The learners' report for a word they do not know, by key.
const char* unknownWordReport(const Kind kind) {
    return kind == Kind::ACTION_SELECTION ? "Unknown ActionSelection Algorithm " : "Unknown Tracetype ";
}

}  // namespace

const std::vector<ConfigCodec::Key>& ConfigCodec::keys() {
    // Rates and probabilities lie in [0, 1]; a temperature or a trace value
    // of zero or less would stop the softmax or the traces from working.
    static const std::vector<Key> table = {
        {"ALPHA", Kind::NUMBER, &Values::ALPHA, nullptr, 0.0, true, 1.0},
        {"LAMBDA", Kind::NUMBER, &Values::LAMBDA, nullptr, 0.0, true, 1.0},
        {"GAMMA", Kind::NUMBER, &Values::GAMMA, nullptr, 0.0, true, 1.0},
        {"ACTION_SELECTION", Kind::ACTION_SELECTION, nullptr, &Values::ACTION_SELECTION, 0.0, true, 0.0},
        {"EPSILON", Kind::NUMBER, &Values::EPSILON, nullptr, 0.0, true, 1.0},
        {"TEMPERATURE", Kind::NUMBER, &Values::TEMPERATURE, nullptr, 0.0, false, UNBOUNDED},
        {"TRACES", Kind::TRACES, nullptr, &Values::TRACES, 0.0, true, 0.0},
        {"TRACE_VALUE", Kind::NUMBER, &Values::TRACE_VALUE, nullptr, 0.0, false, UNBOUNDED},
    };
    return table;
}

const ConfigCodec::Key* ConfigCodec::findKey(const std::string& name) {
    for (const Key& key : keys()) {
        if (name == key.name) return &key;
    }
    return nullptr;
}

const std::vector<std::string>& ConfigCodec::words(const Kind kind) {
    static const std::vector<std::string> selection = {"GREEDY", "EPSILON_GREEDY", "SOFTMAX"};
    static const std::vector<std::string> traces = {"NONE", "REPLACING", "ACCUMULATING"};
    static const std::vector<std::string> none;
    if (kind == Kind::ACTION_SELECTION) return selection;
    return kind == Kind::TRACES ? traces : none;
}

int ConfigCodec::wordValue(const Kind kind, const std::string& text) {
    const std::vector<std::string>& list = words(kind);
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (text == list[i]) return static_cast<int>(i);
    }
    return -1;
}

const std::string& ConfigCodec::wordText(const Kind kind, const int value) {
    const std::vector<std::string>& list = words(kind);
    if (value >= 0 && static_cast<std::size_t>(value) < list.size()) return list[static_cast<std::size_t>(value)];
    return kind == Kind::ACTION_SELECTION ? list.back() : list.front();
}

std::string ConfigCodec::numberText(const double value, const int precision) {
    // The file is read back with atof: keep the decimal point a point
    // whatever global locale the using program installed.
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text.precision(precision);
    text << value;
    return text.str();
}

std::string ConfigCodec::valueText(const Values& values, const Key& key, const int precision) {
    if (key.kind == Kind::NUMBER) return numberText(values.*key.number, precision);
    return wordText(key.kind, values.*key.word);
}

bool ConfigCodec::set(Values& values, const Key& key, const std::string& text, std::string& problem) {
    if (key.kind != Kind::NUMBER) {
        const int word = wordValue(key.kind, text);
        if (word < 0) {
            problem = unknownWordReport(key.kind) + text;
            return false;
        }
        values.*key.word = word;
        return true;
    }
    // atof: the longest valid prefix, 0.0 for no number at all. A value
    // that is not finite would only poison the weights.
    const double parsed = std::atof(text.c_str());
    if (!std::isfinite(parsed)) {
        problem = std::string("Not a finite number for ") + key.name + ": " + text;
        return false;
    }
    values.*key.number = parsed;
    return true;
}

void ConfigCodec::write(std::ostream& out, const Values& values, const int precision) {
    for (const Key& key : keys()) out << key.name << ' ' << valueText(values, key, precision) << std::endl;
}

void ConfigCodec::read(std::istream& in, Values& values, const Report& report) {
    Reader reader(in);
    Item item;
    std::string problem;
    while (reader.next(item)) {
        if (item.type == Item::Type::INDENTED) report("spaces at begin of line: " + item.text);
        if (item.type != Item::Type::ENTRY) continue;
        // Any other key is ignored without a word.
        const Key* key = findKey(item.key);
        if (key != nullptr && !set(values, *key, item.text, problem)) report(problem);
    }
}

// ---------------------------------------------------------------------------
// The reader

ConfigCodec::Reader::Reader(std::istream& in) : in_(in) {}

int ConfigCodec::Reader::get() {
    const int c = in_.get();
    if (c == '\n') ++line_;
    return c;
}

// The rest of the line, at most LINE_LIMIT characters; the newline is
// consumed and not stored.
ConfigCodec::Reader::LineEnd ConfigCodec::Reader::readRestOfLine(std::string& text) {
    text.clear();
    for (;;) {
        const int c = in_.peek();
        if (isEnd(c)) return LineEnd::END_OF_FILE;
        if (c == '\n') {
            get();
            return LineEnd::NEWLINE;
        }
        if (text.size() == LINE_LIMIT) return LineEnd::TOO_LONG;
        text.push_back(CharTraits::to_char_type(get()));
    }
}

// A white-space delimited word. Blanks before it are skipped; if a newline
// comes first, it is consumed and LINE_ENDED returned, so that the caller
// looks at the next line's first character afresh (a blank line must not
// turn a following comment or indented line into an entry).
ConfigCodec::Reader::WordEnd ConfigCodec::Reader::readWord(std::string& word) {
    word.clear();
    for (;;) {
        const int c = in_.peek();
        if (isEnd(c)) return WordEnd::END_OF_FILE;
        if (!isWhiteSpace(c)) break;
        get();
        if (c == '\n') return WordEnd::LINE_ENDED;
    }
    for (;;) {
        const int c = in_.peek();
        if (isEnd(c) || isWhiteSpace(c)) return WordEnd::WORD;
        if (word.size() == LINE_LIMIT) return WordEnd::TOO_LONG;
        word.push_back(CharTraits::to_char_type(get()));
    }
}

bool ConfigCodec::Reader::next(Item& item) {
    if (ended_) return false;
    const int c = in_.peek();
    if (isEnd(c)) {
        ended_ = true;
        return false;
    }
    item.line = line_;
    item.valueLine = line_;
    item.tooLong = false;
    item.key.clear();
    if (c == '#') return readLine(item, Item::Type::COMMENT);
    if (c == ' ' || c == '\t') return readLine(item, Item::Type::INDENTED);
    return readEntry(item);
}

bool ConfigCodec::Reader::readLine(Item& item, const Item::Type type) {
    item.type = type;
    return finish(item, readRestOfLine(item.text));
}

bool ConfigCodec::Reader::readEntry(Item& item) {
    item.text.clear();
    switch (readWord(item.key)) {
        case WordEnd::LINE_ENDED: item.type = Item::Type::BLANK; return true;
        // End of file before a key (a blank line at the end) is no item.
        case WordEnd::END_OF_FILE: ended_ = true; return false;
        case WordEnd::TOO_LONG:
            item.type = Item::Type::LONG_WORD;
            ended_ = true;
            return true;
        case WordEnd::WORD: break;
    }
    // Exactly one separator character, whatever it is: after a key alone
    // on its line that is the newline, and the next line is taken as the
    // value.
    const int separator = get();
    item.valueLine = line_;
    const LineEnd lineEnd = isEnd(separator) ? LineEnd::END_OF_FILE : readRestOfLine(item.text);
    // A file cut off after its key has no value to assign.
    if (lineEnd == LineEnd::END_OF_FILE && item.text.empty()) {
        item.type = Item::Type::NO_VALUE;
        ended_ = true;
        return true;
    }
    item.separator = CharTraits::to_char_type(separator);
    item.type = Item::Type::ENTRY;
    return finish(item, lineEnd);
}

// What was read of an over-long line is still used; reading ends after it,
// as it does at the end of the file.
bool ConfigCodec::Reader::finish(Item& item, const LineEnd end) {
    item.tooLong = end == LineEnd::TOO_LONG;
    ended_ = end != LineEnd::NEWLINE;
    return true;
}
