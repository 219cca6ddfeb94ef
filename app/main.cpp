// Tendrilview's entry point, for now without a window: checks the argument,
// builds the LSystem and reads the description file, printing the reader's summary.
#include <cstdio>

#include "lsystem/lsystem.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::printf("You have to pass filename as argument!\n");
        return -1;
    }
    LSystem lsystem;
    lsystem.readDescription(argv[1]);
    return 0;
}
