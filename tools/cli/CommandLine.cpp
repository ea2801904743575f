#include "cli/CommandLine.h"

namespace korvane::cli {
namespace {

const OptionRule* FindShort(const std::vector<OptionRule>& rules, char name) {
    for (const OptionRule& rule : rules)
        if (rule.shortName == name) return &rule;
    return nullptr;
}

const OptionRule* FindLong(const std::vector<OptionRule>& rules, const std::string& name) {
    for (const OptionRule& rule : rules)
        if (rule.longName && name == rule.longName) return &rule;
    return nullptr;
}

}  // namespace

bool ParseCommandLine(int argc, char** argv, int first, const std::vector<OptionRule>& rules,
                      ParsedCommandLine* parsed, std::string* error) {
    bool optionsEnded = false;
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg == "-" || arg.size() < 2 || arg[0] != '-') {
            parsed->operands.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg[1] == '-') {
            const size_t equals = arg.find('=');
            const std::string name =
                arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            const OptionRule* rule = FindLong(rules, name);
            if (!rule) {
                *error = "unknown option --" + name;
                return false;
            }
            ParsedOption option{rule->id, {}};
            if (rule->takesValue) {
                if (equals != std::string::npos) {
                    option.value = arg.substr(equals + 1);
                } else if (i + 1 < argc) {
                    option.value = argv[++i];
                } else {
                    *error = "option --" + name + " needs a value";
                    return false;
                }
            } else if (equals != std::string::npos) {
                *error = "option --" + name + " takes no value";
                return false;
            }
            parsed->options.push_back(option);
        } else {
            // A bunch of short flags; the first that takes a value ends it, with the rest of
            // the word (or the next word) as its value.
            for (size_t k = 1; k < arg.size(); ++k) {
                const OptionRule* rule = FindShort(rules, arg[k]);
                if (!rule) {
                    *error = std::string("unknown option -") + arg[k];
                    return false;
                }
                ParsedOption option{rule->id, {}};
                if (rule->takesValue) {
                    if (k + 1 < arg.size()) {
                        option.value = arg.substr(k + 1);
                    } else if (i + 1 < argc) {
                        option.value = argv[++i];
                    } else {
                        *error = std::string("option -") + arg[k] + " needs a value";
                        return false;
                    }
                    parsed->options.push_back(option);
                    break;
                }
                parsed->options.push_back(option);
            }
        }
    }
    return true;
}

}  // namespace korvane::cli
