// What a command tells its user: on standard error only, each line prefixed with the
// command's name, so that standard output carries the stream and nothing else.
#pragma once

#include <cstdio>
#include <string>
#include <utility>

namespace korvane::cli {

class Messages {
public:
    Messages(std::string program, int verbosity) : m_program(std::move(program)), m_verbosity(verbosity) {}

    // Failures and damage: always shown.
    void Error(const std::string& text) const { Print(text); }
    // Shown from the given number of -v options on.
    void Note(int level, const std::string& text) const {
        if (m_verbosity >= level) Print(text);
    }
    int Verbosity() const { return m_verbosity; }
    const std::string& Program() const { return m_program; }

private:
    void Print(const std::string& text) const {
        std::fprintf(stderr, "%s: %s\n", m_program.c_str(), text.c_str());
    }

    std::string m_program;
    int m_verbosity;
};

}  // namespace korvane::cli
