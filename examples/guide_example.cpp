// The program of the user guide (docs/guide.md), which quotes it piece by
// piece between the "// [name]" marks.
//
// A corridor of cells 0 to 6: the agent starts in cell 0 and steps left or
// right until it reaches the door in cell 6. Every step costs 1, so the
// shortest way out is the best. Sarsa learns Q(cell, step) in an action
// lookup table, stops after a number of episodes, saves the table to a Q
// file, and reads it back to print the policy it learnt.
//
//   guide_example [CONFIG_FILE [Q_FILE [EPISODES]]]

// [includes]
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string>
#include <unistd.h>

#include <tembra/AbstractAction.h>
#include <tembra/ActionLookupTable.h>
#include <tembra/Sarsa.h>
#include <tembra/State.h>
// [includes]

// [action]
// An action is any object derived from AbstractAction; the learner only
// chooses among them by index, takeAction gives them their meaning.
class Step : public AbstractAction {
public:
    explicit Step(const int direction) : direction(direction) {}
    void addInformation(std::ostream& os) const override { os << (direction < 0 ? "left" : "right"); }

    const int direction;  // -1 or +1
};
// [action]

// [agent]
const int DOOR = 6;  // the corridor's last cell

class Corridor : public Sarsa {
public:
    Corridor(const std::string& configFile, ActionValueFunction* values, const int episodesToRun)
        : Sarsa(configFile), episodesToRun(episodesToRun) {
        avfPtr = values;  // the learner owns the value function from here on
        state = values->getStatePtr();
        cellId = state->getVariableId("cell");
    }

protected:
    // The four hooks: the environment.
    void setInitialState() override {
        cell = 0;
        state->setValueInt(cellId, cell);
    }
    void takeAction() override {
        const Step* step = static_cast<const Step*>(avfPtr->getActiveAction());
        cell = std::min(std::max(cell + step->direction, 0), DOOR);
    }
    const bool observeState() override {
        state->setValueInt(cellId, cell);
        return cell != DOOR;  // false ends the episode
    }
    const double calculateReward() override { return -1.0; }

    // Ending learning: clear continueLearning after the last episode.
    void finishEpisode() override {
        Sarsa::finishEpisode();  // the notice "episode = N  steps = M"
        if (episodes >= episodesToRun) continueLearning = false;
    }

private:
    const int episodesToRun;
    State* state;
    unsigned int cellId;
    int cell = 0;
};
// [agent]

int main(int argc, char** argv) {
    const std::string configFile = argc > 1 ? argv[1] : "guide_example.conf";
    const std::string qFile = argc > 2 ? argv[2] : "guide_example.q";
    const int episodes = argc > 3 ? std::max(1, std::atoi(argv[3])) : 50;

    // [build]
    State* state = new State();
    state->registerVariable("cell", 0, DOOR);  // id 0; values 0..6

    ActionLookupTable* table = new ActionLookupTable(state);  // owns the State
    table->registerAction(new Step(-1));                      // index 0; the table owns it
    table->registerAction(new Step(+1));                      // index 1
    table->create();                                          // after the last registerAction
    // [build]

    // [learn]
    {
        Corridor agent(configFile, table, episodes);
        std::cout << "learning in process " << getpid() << std::endl;
        agent.controlLoop();
        if (table->save(qFile) != 0) return 1;
    }  // the agent deletes the table, with its State and its actions
    // [learn]

    // [reload]
    ActionLookupTable loaded(qFile);  // the State and the weights from the file
    if (loaded.getNumberOfActions() != 2) return 1;
    loaded.setAction(0, new Step(-1));  // the file holds no action objects
    loaded.setAction(1, new Step(+1));

    State* cells = loaded.getStatePtr();
    const unsigned int cellId = cells->getVariableId("cell");
    std::string policy;
    for (int cell = 0; cell < DOOR; ++cell) {
        cells->setValueInt(cellId, cell);
        loaded.setState();
        loaded.setGreedyActionIndex();
        loaded.getActiveAction()->addInformation(std::cout << "cell " << cell << ": ");
        std::cout << "  Q = " << loaded.getActionValue(loaded.getActiveActionIndex()) << std::endl;
        policy += loaded.getActiveActionIndex() == 1 ? " right" : " left";
    }
    std::cout << "policy:" << policy << std::endl;
    // [reload]
    return 0;
}
