// Cliff walking: a 4 x 12 grid, start in the bottom-left corner, goal in the
// bottom-right corner, and the cells between them a cliff. Every move costs
// -1; stepping into the cliff costs -100 and sends the agent back to the
// start. One-step Sarsa and one-step Watkins (TRACES NONE: Q-learning) learn
// with epsilon-greedy exploration. Sarsa, which learns the value of the
// policy it follows, exploration included, learns the safe path away from
// the edge; Q-learning learns the optimal path along the edge (return -13),
// and falls off more often while it explores. With --lambda L both learn
// with replacing traces and that lambda instead; with --selection RULE
// (greedy, epsilon_greedy or softmax) both select their actions by that rule.

#include <cstdio>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include <tembra/AbstractAction.h>
#include <tembra/ActionLookupTable.h>
#include <tembra/Sarsa.h>
#include <tembra/Utility.h>
#include <tembra/Watkins.h>

#include "ExampleSupport.h"

namespace {

const int ROWS = 4;
const int COLUMNS = 12;
const int START_ROW = 3;
const int START_COLUMN = 0;
const int GOAL_COLUMN = 11;

class Move : public AbstractAction {
public:
    Move(int dRow, int dColumn, const char* name) : dRow(dRow), dColumn(dColumn), name(name) {}
    void addInformation(std::ostream& os) const override { os << name; }
    const int dRow;
    const int dColumn;
    const char* const name;
};

bool inCliff(int row, int column) { return row == START_ROW && column > START_COLUMN && column < GOAL_COLUMN; }
bool atGoal(int row, int column) { return row == START_ROW && column == GOAL_COLUMN; }

// The grid world itself, shared by both learners.
struct Grid {
    int row = START_ROW;
    int column = START_COLUMN;
    double reward = 0.0;

    void reset() {
        row = START_ROW;
        column = START_COLUMN;
    }
    void move(const Move& m) {
        row = std::min(std::max(row + m.dRow, 0), ROWS - 1);
        column = std::min(std::max(column + m.dColumn, 0), COLUMNS - 1);
        reward = -1.0;
        if (inCliff(row, column)) {
            reward = -100.0;
            reset();
        }
    }
};

ActionLookupTable* buildTable() {
    State* state = new State();
    state->registerVariable("row", 0, ROWS - 1);
    state->registerVariable("column", 0, COLUMNS - 1);
    ActionLookupTable* table = new ActionLookupTable(state);
    table->registerAction(new Move(-1, 0, "up"));
    table->registerAction(new Move(1, 0, "down"));
    table->registerAction(new Move(0, -1, "left"));
    table->registerAction(new Move(0, 1, "right"));
    table->create();
    // Traces in a flat list: the same learning as the default map, faster
    // per step, for one int per weight.
    table->setTraceStorage(Types::SPARSE);
    return table;
}

// What the command line changes in the configuration: a lambda above 0
// turns replacing traces on, a selection rule replaces the file's.
struct Overrides {
    double lambda = 0.0;
    bool selectionGiven = false;
    Tembra::ACTION_SELECTION_TYPE selection = Tembra::EPSILON_GREEDY;
};

// The rule named on the command line: the configuration file's word for
// it, in either case. False for any other word.
bool parseSelection(std::string word, Tembra::ACTION_SELECTION_TYPE& selection) {
    for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (word == "GREEDY") {
        selection = Tembra::GREEDY;
    } else if (word == "EPSILON_GREEDY") {
        selection = Tembra::EPSILON_GREEDY;
    } else if (word == "SOFTMAX") {
        selection = Tembra::SOFTMAX;
    } else {
        return false;
    }
    return true;
}

struct GreedyPath {
    double ret = 0.0;
    bool reachesGoal = false;
    bool alongTheEdge = false;  // a step on a cell right above the cliff
    std::vector<std::string> picture;
};

// Follows the greedy action of a table from the start, at most 100 moves.
GreedyPath followGreedy(ActionValueFunction& q) {
    GreedyPath path;
    path.picture.assign(ROWS, std::string(COLUMNS, '.'));
    for (int c = START_COLUMN + 1; c < GOAL_COLUMN; ++c) path.picture[START_ROW][c] = 'C';
    path.picture[START_ROW][START_COLUMN] = 'S';
    path.picture[START_ROW][GOAL_COLUMN] = 'G';
    Grid grid;
    State* state = q.getStatePtr();
    for (int move = 0; move < 100 && !atGoal(grid.row, grid.column); ++move) {
        state->setValueInt(0, grid.row);
        state->setValueInt(1, grid.column);
        q.setState();
        q.setGreedyActionIndex();
        const Move* m = static_cast<const Move*>(q.getActiveAction());
        if (m == nullptr) break;
        grid.move(*m);
        path.ret += grid.reward;
        if (grid.row == START_ROW - 1 && grid.column > START_COLUMN && grid.column < GOAL_COLUMN) {
            path.alongTheEdge = true;
        }
        if (!atGoal(grid.row, grid.column) && !(grid.row == START_ROW && grid.column == START_COLUMN)) {
            path.picture[grid.row][grid.column] = '*';
        }
    }
    path.reachesGoal = atGoal(grid.row, grid.column);
    return path;
}

template <class Learner>
class CliffAgent : public Learner {
public:
    CliffAgent(const ExampleOptions& options, bool freshConfig, const Overrides& overrides, const std::string& label,
               LearningCurve& curve)
        : Learner(options.config), options_(options), label_(label), curve_(curve) {
        if (freshConfig) {
            // The settings of the textbook comparison; saved so that the
            // user can edit them (and send SIGUSR1 to a running learner).
            this->ALPHA = 0.1;
            this->GAMMA = 1.0;
            this->EPSILON = 0.1;
            this->ACTION_SELECTION = Tembra::EPSILON_GREEDY;
            this->TRACES = Tembra::NONE;
            this->saveConf();
        }
        if (overrides.lambda > 0.0) {
            this->TRACES = Tembra::REPLACING;
            this->LAMBDA = overrides.lambda;
        }
        if (overrides.selectionGiven) this->ACTION_SELECTION = overrides.selection;
        this->avfPtr = buildTable();
        this->setSignalPollInterval(options.poll);
        if (options.seedGiven) setSeed(options.seed);
    }

    ActionValueFunction& values() { return *this->avfPtr; }
    int exitStatus() const { return stopStatus(this->sigTermRcvd, this->sigIntRcvd); }
    double meanOfLast(int n) const {
        double sum = 0.0;
        int count = 0;
        for (int i = static_cast<int>(returns_.size()) - 1; i >= 0 && count < n; --i, ++count) sum += returns_[i];
        return count > 0 ? sum / count : 0.0;
    }

protected:
    void setInitialState() override {
        grid_.reset();
        episodeReturn_ = 0.0;
        writeState();
    }
    void takeAction() override { grid_.move(*static_cast<const Move*>(this->avfPtr->getActiveAction())); }
    const bool observeState() override {
        writeState();
        return !atGoal(grid_.row, grid_.column);
    }
    const double calculateReward() override {
        episodeReturn_ += grid_.reward;
        return grid_.reward;
    }
    void finishEpisode() override {
        returns_.push_back(episodeReturn_);
        if (!this->continueEpisode) curve_.row(this->episodes, this->steps, episodeReturn_);
        if (this->episodes % 50 == 0 || this->episodes == options_.episodes) {
            std::printf("%-10s episode %4d  sum of rewards %7.1f  (mean of the last 50: %7.1f)\n", label_.c_str(),
                        this->episodes, episodeReturn_, meanOfLast(50));
            std::fflush(stdout);
        }
        if (this->episodes >= options_.episodes) this->continueLearning = false;
    }

private:
    void writeState() {
        this->avfPtr->getStatePtr()->setValueInt(0, grid_.row);
        this->avfPtr->getStatePtr()->setValueInt(1, grid_.column);
    }

    const ExampleOptions& options_;
    std::string label_;
    LearningCurve& curve_;
    Grid grid_;
    double episodeReturn_ = 0.0;
    std::vector<double> returns_;
};

void printPath(const std::string& label, const GreedyPath& path) {
    std::cout << label << " greedy path: return " << path.ret << (path.reachesGoal ? "" : " (does not reach the goal)")
              << (path.alongTheEdge ? ", along the cliff edge" : ", away from the cliff edge") << std::endl;
    for (const std::string& line : path.picture) std::cout << "    " << line << std::endl;
}

// Saves a learnt table, reads it into a fresh one, binds the actions again
// and returns the greedy path of the reloaded table.
bool saveAndReload(ActionValueFunction& q, const std::string& file, GreedyPath& reloadedPath) {
    if (q.save(file) != 0) return false;
    ActionLookupTable reloaded(file);
    reloaded.setAction(0, new Move(-1, 0, "up"));
    reloaded.setAction(1, new Move(1, 0, "down"));
    reloaded.setAction(2, new Move(0, -1, "left"));
    reloaded.setAction(3, new Move(0, 1, "right"));
    reloadedPath = followGreedy(reloaded);
    return true;
}

template <class Learner>
bool runOne(const ExampleOptions& options, const Overrides& overrides, const std::string& label,
            const std::string& file, GreedyPath& path, int& exitStatus) {
    const bool freshConfig = !fileExists(options.config);
    LearningCurve curve(options.csv.empty() ? "" : labelledPath(options.csv, label), "");
    CliffAgent<Learner> agent(options, freshConfig, overrides, label, curve);
    agent.controlLoop();
    exitStatus = agent.exitStatus();
    path = followGreedy(agent.values());
    GreedyPath reloaded;
    if (!saveAndReload(agent.values(), file, reloaded)) return false;
    std::cout << label << ": saved to " << file << "; reloaded table's greedy return " << reloaded.ret << std::endl;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    ExampleOptions options("cliff_walking", 500);
    if (!options.parse(argc, argv)) return 2;
    blockControlSignals();
    Overrides overrides;
    if (options.extra.count("lambda") != 0) overrides.lambda = std::atof(options.extra["lambda"].c_str());
    if (options.extra.count("selection") != 0) {
        overrides.selectionGiven = true;
        if (!parseSelection(options.extra["selection"], overrides.selection)) {
            std::cerr << "cliff_walking: --selection takes greedy, epsilon_greedy or softmax" << std::endl;
            return 2;
        }
    }
    const std::string base = options.out == "cliff_walking.tembra" ? "cliff_walking" : options.out;

    GreedyPath sarsaPath;
    GreedyPath watkinsPath;
    // A run stopped by a signal saves what it has learnt and ends there.
    int status = 0;
    if (!runOne<Sarsa>(options, overrides, "sarsa", base + ".sarsa.q", sarsaPath, status)) return 1;
    if (status != 0) return status;
    if (!runOne<Watkins>(options, overrides, "watkins", base + ".watkins.q", watkinsPath, status)) return 1;
    if (status != 0) return status;

    std::cout << std::endl;
    printPath("Sarsa", sarsaPath);
    printPath("Q-learning (Watkins)", watkinsPath);
    const bool asInTheTextbook = sarsaPath.reachesGoal && !sarsaPath.alongTheEdge && watkinsPath.ret == -13.0;
    std::cout << "result: "
              << (asInTheTextbook ? "Sarsa safe, Q-learning optimal (learned)"
                                  : "paths differ from the textbook picture")
              << std::endl;
    return 0;
}
