#ifndef TEMBRA_CONFIGCODEC_H
#define TEMBRA_CONFIGCODEC_H

#include <cstddef>
#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

// The configuration file's text, in one place: its eight keys, the words
// of the two word keys, how numbers are written, and how lines are read.
// The learners read and write their files through it, and so do the tools
// (tembra-sweep writes the runs' files, tembra-inspect checks files) and
// the benchmarks, so that all of them agree on every byte.
//
// Reading follows the learners' rules: "#" at the start of a line is a
// comment, a line starting with a blank or a tab is refused, a key is a
// white-space delimited word, exactly one separator character follows it
// (after a key alone on its line that is the newline, and the next line
// becomes the value), the value is the rest of the line, numbers read as
// atof reads them, words must match exactly. A line (or the rest of one
// after its key) of more than LINE_LIMIT characters ends the reading.
class ConfigCodec {
public:
    static constexpr std::size_t LINE_LIMIT = 511;

    // The eight learning parameters, in the order of the file. The word
    // keys hold their enumerator's value (Tembra::ACTION_SELECTION_TYPE,
    // Tembra::TRACE_TYPE); the defaults are the learners' own.
    struct Values {
        double ALPHA = 0.1;
        double LAMBDA = 0.5;
        double GAMMA = 0.9;
        int ACTION_SELECTION = 0;  // GREEDY
        double EPSILON = 0.1;
        double TEMPERATURE = 0.5;
        int TRACES = 1;  // REPLACING
        double TRACE_VALUE = 1.0;
    };

    enum class Kind { NUMBER, ACTION_SELECTION, TRACES };

    struct Key {
        const char* name;
        Kind kind;
        double Values::*number;  // for a number key
        int Values::*word;       // for a word key
        // The range a value makes sense in, for the check of a file (the
        // learners take any finite number): from low (included or not) up
        // to high (included).
        double low;
        bool lowIncluded;
        double high;
    };

    // The keys in the order of the file.
    static const std::vector<Key>& keys();
    // The key of that name (case-sensitive), or null.
    static const Key* findKey(const std::string& name);
    // The words of a word key, in the order of their enumerators.
    static const std::vector<std::string>& words(Kind kind);
    // The enumerator a word stands for, or -1 for any other text.
    static int wordValue(Kind kind, const std::string& text);
    // The word written for a value; values outside the enumerators are
    // written as SOFTMAX and NONE.
    static const std::string& wordText(Kind kind, int value);
    // A number as the file holds it: the stream's default general format
    // with that many significant digits, whatever the global locale.
    static std::string numberText(double value, int precision = 6);
    // The text of a key's value.
    static std::string valueText(const Values& values, const Key& key, int precision = 6);

    // Sets the key from a value text by the learners' rules: atof for a
    // number, the exact word for a word key. False, with the learners'
    // report in problem, when the value is refused (a number that is not
    // finite, an unknown word); the value is then left as it was.
    static bool set(Values& values, const Key& key, const std::string& text, std::string& problem);

    // Writes the eight lines, each ended with std::endl.
    static void write(std::ostream& out, const Values& values, int precision = 6);

    // Reads a file's entries into values; each refused line or value is
    // handed to report (the learners' report text), in the order of the file.
    using Report = std::function<void(const std::string& message)>;
    static void read(std::istream& in, Values& values, const Report& report);

    // One thing the reader found.
    struct Item {
        enum class Type {
            COMMENT,    // text: the line
            BLANK,      // an empty (or white-space only) line between entries
            INDENTED,   // a line starting with a blank or a tab, refused; text: the line
            ENTRY,      // key, separator, text: the value
            NO_VALUE,   // a key that the end of the file cuts off from its value
            LONG_WORD,  // a key longer than LINE_LIMIT
        };
        Type type = Type::BLANK;
        int line = 0;       // where it starts, counted from 1
        int valueLine = 0;  // ENTRY: the line its value came from
        char separator = ' ';
        std::string key;
        std::string text;
        // The line was longer than LINE_LIMIT: text holds its first
        // LINE_LIMIT characters.
        bool tooLong = false;
    };

    // The reading, one item at a time. The stream, not its buffer, is read,
    // character by character: no line, however long, binary or
    // unterminated, makes it allocate more than LINE_LIMIT characters, and
    // a read error (a directory, a failing disk) ends it as the end of the
    // file does.
    class Reader {
    public:
        explicit Reader(std::istream& in);
        // The next item; false when the reading has ended.
        bool next(Item& item);

    private:
        enum class LineEnd { NEWLINE, END_OF_FILE, TOO_LONG };
        enum class WordEnd { WORD, LINE_ENDED, END_OF_FILE, TOO_LONG };

        int get();
        LineEnd readRestOfLine(std::string& text);
        WordEnd readWord(std::string& word);
        bool readLine(Item& item, Item::Type type);
        bool readEntry(Item& item);
        bool finish(Item& item, LineEnd end);

        std::istream& in_;
        int line_ = 1;
        bool ended_ = false;
    };
};

#endif
