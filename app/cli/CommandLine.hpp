#pragma once

namespace korvel {

class AppModel;
class SingleInstance;

// `korvel`, the command line of Korvel: the same program started under that name (or with a command's name as
// its first argument). A command runs in the running Korvel when there is one, so that its windows and tray
// show the change at once, and the reply comes back over the single-instance socket; otherwise it runs on a
// headless model in this process, which ends when the model is idle. `korvel --help` lists the commands.
struct CommandLine
{
    // True when this start of the program is a command rather than the application.
    static bool isCommand(int argc, char** argv);

    // Runs the command and returns the exit status: 0 done, 1 the operation failed, 2 a usage error.
    // Creates the QCoreApplication itself; there must be none yet.
    static int run(int argc, char** argv);

    // Lets the running Korvel carry out the commands that later starts send. `model` must outlive `instance`'s
    // use of it or be destroyed with the application.
    static void serve(SingleInstance& instance, AppModel& model);
};

} // namespace korvel
