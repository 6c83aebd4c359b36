#include "sweep/SweepSummary.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <locale>
#include <sstream>

#include "ToolSupport.h"
#include "sweep/SweepError.h"
#include "sweep/SweepFiles.h"
#include "sweep/SweepPlan.h"
#include "sweep/SweepText.h"

using tembra_tools::csvField;
using tembra_tools::printable;

namespace tembra_sweep {

namespace {

using Table = std::vector<std::vector<std::string>>;

std::string formatNumber(const double value, const int precision) {
    if (std::isnan(value)) return "nan";
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << std::setprecision(precision) << value;
    return text.str();
}

std::string range(const long long low, const long long high) {
    return low == high ? std::to_string(low) : std::to_string(low) + "-" + std::to_string(high);
}

// One data line of a curve; false, with the reason, when it is not one.
bool readRow(const std::string& line, const std::size_t lineNumber, Curve& curve, std::string& problem) {
    const std::vector<std::string> fields = split(line, ',');
    if (curve.header.empty()) {
        curve.header = fields;
        return true;
    }
    if (fields.size() != curve.header.size()) {
        problem = "line " + std::to_string(lineNumber) + " has " + std::to_string(fields.size()) +
                  " fields, the header " + std::to_string(curve.header.size());
        return false;
    }
    std::vector<double> row;
    for (const std::string& field : fields) {
        char* endOfNumber = nullptr;
        const double value = std::strtod(field.c_str(), &endOfNumber);
        if (field.empty() || endOfNumber == nullptr || *endOfNumber != '\0') {
            problem = "line " + std::to_string(lineNumber) + ": '" + printable(field) + "' is not a number";
            return false;
        }
        row.push_back(value);
    }
    curve.rows.push_back(row);
    return true;
}

std::vector<std::string> csvFilesIn(const std::string& directory) {
    std::vector<std::string> names;
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".csv") == 0 && isFile(directory + "/" + name)) {
            names.push_back(name);
        }
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// Why a curve cannot join its group; empty when it can.
std::string unusable(const Group& group, const Curve& curve, const std::string& column) {
    if (std::find(curve.header.begin(), curve.header.end(), column) == curve.header.end()) {
        return "has no column '" + printable(column) + "'";
    }
    if (!group.curves.empty() && group.curves.front().header != curve.header) {
        return "has other columns than its siblings";
    }
    if (curve.rows.empty()) return "has no episodes";
    return std::string();
}

std::size_t columnOf(const Curve& curve, const std::string& column) {
    return static_cast<std::size_t>(std::find(curve.header.begin(), curve.header.end(), column) - curve.header.begin());
}

// One run's curve: its mean of the column over its last episodes.
void addCurve(Group& group, const std::string& path, const SummaryOptions& options, std::ostream& warnings) {
    Curve curve;
    std::string problem;
    if (!readCurve(path, curve, problem, warnings)) {
        warnings << PROGRAM << ": warning: " << printable(path) << ": " << problem << "; run left out" << std::endl;
        return;
    }
    problem = unusable(group, curve, options.column);
    if (!problem.empty()) {
        warnings << PROGRAM << ": warning: " << printable(path) << " " << problem << "; run left out" << std::endl;
        return;
    }
    const std::size_t column = columnOf(curve, options.column);
    const long long episodes = static_cast<long long>(curve.rows.size());
    const long long last = lastEpisodes(episodes, options);
    double sum = 0.0;
    for (long long r = episodes - last; r < episodes; ++r) sum += curve.rows[static_cast<std::size_t>(r)][column];
    group.values.push_back(sum / static_cast<double>(last));
    group.minEpisodes = std::min(group.minEpisodes, episodes);
    group.maxEpisodes = std::max(group.maxEpisodes, episodes);
    group.minLast = std::min(group.minLast, last);
    group.maxLast = std::max(group.maxLast, last);
    group.curves.push_back(std::move(curve));
}

// Mean over the runs, episode by episode, of every column of the group's
// curves, with the standard error of the summarised column and the number
// of runs that reached the episode.
void writeMeanCurve(const Group& group, const std::size_t column, const std::string& path) {
    const Curve& first = group.curves.front();
    std::ostringstream out;
    out.imbue(std::locale::classic());
    for (std::size_t c = 0; c < first.header.size(); ++c) out << (c == 0 ? "" : ",") << first.header[c];
    out << ",stderr,runs\n";
    std::size_t longest = 0;
    for (const Curve& curve : group.curves) longest = std::max(longest, curve.rows.size());
    for (std::size_t r = 0; r < longest; ++r) {
        std::vector<double> sums(first.header.size(), 0.0);
        std::vector<double> values;
        for (const Curve& curve : group.curves) {
            if (r >= curve.rows.size()) continue;
            for (std::size_t c = 0; c < sums.size(); ++c) sums[c] += curve.rows[r][c];
            values.push_back(curve.rows[r][column]);
        }
        const double n = static_cast<double>(values.size());
        double squares = 0.0;
        for (const double v : values) squares += (v - sums[column] / n) * (v - sums[column] / n);
        const double stderror = values.size() > 1 ? std::sqrt(squares / (n - 1.0)) / std::sqrt(n) : NAN;
        for (std::size_t c = 0; c < sums.size(); ++c) out << (c == 0 ? "" : ",") << formatNumber(sums[c] / n, 10);
        out << ',' << formatNumber(stderror, 10) << ',' << values.size() << "\n";
    }
    writeWholeFile(path, out.str());
}

std::vector<std::string> tableRow(const Group& group, const MeanAndError& result) {
    const bool any = !group.values.empty();
    return {group.combination,
            group.file,
            std::to_string(group.values.size()) + "/" + std::to_string(group.expected),
            any ? range(group.minEpisodes, group.maxEpisodes) : "-",
            any ? range(group.minLast, group.maxLast) : "-",
            formatNumber(result.mean, 6),
            group.values.size() > 1 ? formatNumber(result.stderror, 6) : "-"};
}

std::string csvRow(const Group& group, const MeanAndError& result) {
    const bool any = !group.values.empty();
    std::ostringstream csv;
    csv << csvField(group.combination) << ',' << csvField(group.file) << ',' << group.values.size() << ','
        << group.expected << ',' << (any ? std::to_string(group.minEpisodes) : "") << ','
        << (any ? std::to_string(group.maxEpisodes) : "") << ',' << (any ? std::to_string(group.minLast) : "") << ','
        << (any ? std::to_string(group.maxLast) : "") << ',' << formatNumber(result.mean, 17) << ','
        << formatNumber(result.stderror, 17) << "\n";
    return csv.str();
}

// Columns padded to their widest cell; the numbers to the right.
void printTable(const Table& table, std::ostream& out) {
    std::vector<std::size_t> widths(table.front().size(), 0);
    for (const auto& row : table) {
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    }
    for (const auto& row : table) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            const bool right = c >= 2;
            const std::string pad(widths[c] - row[c].size(), ' ');
            out << (c == 0 ? "" : "  ") << (right ? pad + row[c] : row[c] + (c + 1 < row.size() ? pad : ""));
        }
        out << "\n";
    }
}

}  // namespace

bool readCurve(const std::string& path, Curve& curve, std::string& problem, std::ostream& warnings) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problem = std::strerror(errno);
        return false;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t start = 0;
    std::size_t lineNumber = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            warnings << PROGRAM << ": warning: " << printable(path) << ": incomplete last line left out" << std::endl;
            break;
        }
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && !readRow(line, lineNumber, curve, problem)) return false;
    }
    if (curve.header.empty()) {
        problem = "no header";
        return false;
    }
    return true;
}

RunList readRunList(const std::string& dir) {
    const std::string indexPath = dir + "/" + RUNS_FILE;
    std::ifstream index(indexPath);
    if (!index) failure(printable(dir) + " is not a sweep directory (no " + RUNS_FILE + ")");
    RunList list;
    std::string line;
    std::getline(index, line);  // the header
    while (std::getline(index, line)) {
        const std::vector<std::string> fields = split(line, '\t');
        // The directory is where the summary writes the mean curve: it must
        // stay below the sweep's directory.
        const bool below = fields.size() == 4 && !fields[3].empty() && fields[3][0] != '/' &&
                           ("/" + fields[3] + "/").find("/../") == std::string::npos;
        if (!below) failure(printable(indexPath) + ": damaged line '" + printable(line) + "'");
        if (list.runsPerCombination[fields[1]]++ == 0) list.combinations.push_back(fields[1]);
        list.runs.push_back({fields[1], fields[3]});
    }
    return list;
}

std::vector<Group> collectGroups(const SummaryOptions& options, const RunList& list, std::ostream& warnings) {
    std::vector<Group> groups;
    std::map<std::pair<std::string, std::string>, std::size_t> groupOf;
    for (const auto& run : list.runs) {
        const std::string directory = options.dir + "/" + run.second;
        const std::vector<std::string> files =
            options.csv.empty() ? csvFilesIn(directory) : std::vector<std::string>(1, options.csv);
        for (const std::string& file : files) {
            const auto inserted = groupOf.insert({{run.first, file}, groups.size()});
            if (inserted.second) {
                Group group;
                group.combination = run.first;
                group.directory = run.second.substr(0, run.second.rfind('/'));
                group.file = file;
                group.expected = list.runsPerCombination.at(run.first);
                groups.push_back(group);
            }
            const std::string path = directory + "/" + file;
            if (isFile(path)) addCurve(groups[inserted.first->second], path, options, warnings);
        }
    }
    const std::vector<std::string>& order = list.combinations;
    std::stable_sort(groups.begin(), groups.end(), [&order](const Group& a, const Group& b) {
        const auto ia = std::find(order.begin(), order.end(), a.combination);
        const auto ib = std::find(order.begin(), order.end(), b.combination);
        return ia != ib ? ia < ib : a.file < b.file;
    });
    return groups;
}

long long lastEpisodes(const long long episodes, const SummaryOptions& options) {
    const long long last =
        options.last > 0
            ? options.last
            : static_cast<long long>(std::ceil(static_cast<double>(episodes) * options.lastPercent / 100.0 - 1e-9));
    return std::max(1LL, std::min(last, episodes));
}

MeanAndError meanAndStandardError(const std::vector<double>& values) {
    MeanAndError result{NAN, NAN};
    if (values.empty()) return result;
    const double n = static_cast<double>(values.size());
    double sum = 0.0;
    for (const double v : values) sum += v;
    result.mean = sum / n;
    if (values.size() > 1) {
        double squares = 0.0;
        for (const double v : values) squares += (v - result.mean) * (v - result.mean);
        result.stderror = std::sqrt(squares / (n - 1.0)) / std::sqrt(n);
    }
    return result;
}

int summarize(const SummaryOptions& options, std::ostream& out, std::ostream& warnings) {
    const std::vector<Group> groups = collectGroups(options, readRunList(options.dir), warnings);
    if (groups.empty()) failure("no learning curves (*.csv) in the runs of " + printable(options.dir) + " yet");

    Table table = {{"combination", "file", "runs", "episodes", "last", "mean", "stderr"}};
    std::string csv = "combination,file,runs,expected,episodes_min,episodes_max,last_min,last_max,mean,stderr\n";
    const std::string summaryDir = options.dir + "/" + SUMMARY_DIR;
    for (const Group& group : groups) {
        const MeanAndError result = meanAndStandardError(group.values);
        table.push_back(tableRow(group, result));
        csv += csvRow(group, result);
        if (group.values.empty()) continue;
        const std::string curveDir = summaryDir + "/" + group.directory;
        makeDirectories(curveDir);
        writeMeanCurve(group, columnOf(group.curves.front(), options.column), curveDir + "/" + group.file);
    }
    writeWholeFile(options.dir + "/" + SUMMARY_FILE, csv);
    printTable(table, out);
    out << "\nmean: over the runs (seeds) of each run's mean '" << options.column << "' over its last "
        << (options.last > 0 ? std::to_string(options.last) + " episodes"
                             : formatNumber(options.lastPercent, 6) + "% of episodes")
        << "; stderr: standard error of that mean\n"
        << "written: " << printable(options.dir) << "/" << SUMMARY_FILE << ", mean curves in " << printable(summaryDir)
        << "/" << std::endl;
    return 0;
}

}  // namespace tembra_sweep
