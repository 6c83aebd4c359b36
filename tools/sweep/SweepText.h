#ifndef TEMBRA_TOOLS_SWEEP_SWEEPTEXT_H
#define TEMBRA_TOOLS_SWEEP_SWEEPTEXT_H

#include <string>
#include <vector>

namespace tembra_sweep {

// The parts between the separators: "a,,b" is "a", "", "b"; "" is "".
std::vector<std::string> split(const std::string& text, char separator);
std::string replaceAll(std::string text, const std::string& from, const std::string& to);
// A word for the shell: as it is when it holds only harmless characters,
// in single quotes otherwise.
std::string shellQuote(const std::string& word);

}  // namespace tembra_sweep

#endif
