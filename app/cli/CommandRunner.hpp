#pragma once

#include "app/cli/CommandSyntax.hpp"

#include <qcoro/qcorotask.h>

#include <functional>
#include <string>
#include <vector>

namespace korvel {

class AppModel;

// What a command left for its caller: the exit status and the texts for standard output and standard error.
struct CommandResult
{
    // partlyDone: the profile `create` made is there, but without its app or the data it was to import.
    enum Status { done = 0, failed = 1, misused = 2, partlyDone = 3 };

    int status = done;
    std::string output;
    std::string errorOutput;
};

// Runs one parsed command on a model through its own operations, in the running Korvel or in a headless model
// of the calling process. A failure is the model's errorMessage, exactly as the interface shows it; it fails the
// command when it concerns a profile the command acts on or no one profile, and is a warning otherwise (another
// profile's sync round or automatic rebuild), as are the model's warnings.
struct CommandRunner
{
    enum class Place {
        Here, // a headless model that ends with the command: wait until the model is idle
        RunningKorvel, // the model of the running application: wait only for what changes something
    };
    // Receives a line per step of long work (building, importing).
    using Progress = std::function<void(const std::string& line)>;

    // Never throws for a failure or bad input; the model's destruction ends the task with ModelGone. `notes` are
    // warnings from before the command (what the model said when it started).
    static QCoro::Task<CommandResult> run(
        AppModel& model, Invocation invocation, Place place, Progress progress, std::vector<std::string> notes = {});
};

} // namespace korvel
