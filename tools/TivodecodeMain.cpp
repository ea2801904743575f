// korvane-tivodecode: the decrypting command TiVo front ends call as "tivodecode".
#include "cli/FrontEndCommands.h"

int main(int argc, char** argv) {
    return korvane::cli::RunTivodecode(argc, argv);
}
