#include "CommandLineRun.h"
#include "Startup.h"

int main(int argc, char *argv[])
{
    // Before any application object: the command line must work without a display.
    if (CommandLineRun::isWanted(argc, argv))
        return CommandLineRun::exec(argc, argv);
    return runZelk(argc, argv);
}
