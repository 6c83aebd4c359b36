#ifndef TEMBRA_TOOLS_CONFIGCHECK_H
#define TEMBRA_TOOLS_CONFIGCHECK_H

// The check of a configuration file. The learners read whatever a file
// holds without a word: an unknown key is ignored, a number is read as far
// as it goes, so `ALPA 0.5`, `ALPHA 0,5` or `EPSILON = 0.1` learn with
// other values than the file seems to say. The check reads the file by the
// learners' own rules (the configuration codec) and lists, line by line,
// what they would ignore, read otherwise than written or refuse, and
// values outside the range they make sense in.

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "learners/ConfigCodec.h"

namespace tembra_tools {

class ConfigCheck {
public:
    struct Finding {
        int line;  // counted from 1; 0 for the file as a whole
        std::string message;
    };

    static std::vector<Finding> check(std::istream& in);
    // One line per finding: "<name>:<line>: <message>", after prefix.
    static void print(std::ostream& out, const std::string& prefix, const std::string& name,
                      const std::vector<Finding>& findings);

private:
    using Item = ConfigCodec::Item;
    using Key = ConfigCodec::Key;

    void item(const Item& item);
    void entry(const Item& item);
    void unknownKey(const Item& item);
    void trailing(const Key& key, const Item& item);
    void number(const Key& key, const Item& item);
    void range(const Key& key, int line, double value);
    void word(const Key& key, const Item& item);
    void add(int line, const std::string& message);

    std::vector<Finding> findings_;
    std::vector<int> firstLine_ = std::vector<int>(ConfigCodec::keys().size(), 0);
};

}  // namespace tembra_tools

#endif
