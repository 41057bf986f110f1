// norvsql: the interactive SQL console. Everything happens in the shell's start-up.
#include "shell/startup.h"

int main(int argc, char** argv) {
    return console_main(argc, argv);
}
