// Reading a command line the way getopt_long does, so the options front ends pass to
// tivodecode and tdcat read the same here: "-m KEY", "-mKEY", "--mak KEY", "--mak=KEY",
// flags bunched as "-nx", options before or after the input, "--" ending the options, and
// "-" as an operand (standard input). Our own code, so it builds alike on every platform.
#pragma once

#include <string>
#include <vector>

namespace korvane::cli {

struct OptionRule {
    int id;                // what Parse reports for the option
    char shortName;        // 0: long form only
    const char* longName;  // nullptr: short form only
    bool takesValue;
};

struct ParsedOption {
    int id;
    std::string value;
};

struct ParsedCommandLine {
    std::vector<ParsedOption> options;  // in the order given
    std::vector<std::string> operands;
};

// argv[first..argc) against rules. False with *error (a sentence naming the option) for an
// unknown option or a missing value.
bool ParseCommandLine(int argc, char** argv, int first, const std::vector<OptionRule>& rules,
                      ParsedCommandLine* parsed, std::string* error);

}  // namespace korvane::cli
