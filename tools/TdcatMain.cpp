// korvane-tdcat: the metadata command TiVo front ends call as "tdcat".
#include "cli/FrontEndCommands.h"

int main(int argc, char** argv) {
    return korvane::cli::RunTdcat(argc, argv);
}
