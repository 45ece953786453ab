#include "Startup.h"

int main(int argc, char *argv[])
{
    return runZelk(argc, argv);
}
