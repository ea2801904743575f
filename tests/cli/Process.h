// Runs a command as a front end does: its own working folder and environment, standard input
// fed from a pipe by a writer thread (in pieces, slowly if asked), standard output and error
// read from pipes of their own.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace korvane::test {

using Bytes = std::vector<uint8_t>;

struct Input {
    Bytes bytes;
    size_t piece = 512 << 10;            // pyTivo's write size
    std::chrono::milliseconds pause{0};  // between pieces
    // Hold back everything after this many bytes until the command has written to its
    // standard output (0: never hold back); see Result::outputBeforeEnd.
    size_t holdAfter = 0;
};

struct Result {
    int status = -1;  // the exit status; 128 + n after signal n
    Bytes out;
    std::string err;
    // With Input::holdAfter: whether output came while the rest of the input was held back.
    bool outputBeforeEnd = false;
    // How many bytes the pipes to standard input and from standard output held at the end (0
    // where the system cannot tell).
    long inputPipeBytes = 0, outputPipeBytes = 0;
};

// The size of the pipe behind a descriptor, 0 where the system cannot tell.
inline long PipeBytes(int descriptor) {
#ifdef F_GETPIPE_SZ
    const int bytes = fcntl(descriptor, F_GETPIPE_SZ);
    return bytes > 0 ? bytes : 0;
#else
    (void)descriptor;
    return 0;
#endif
}

// input nullptr: an empty standard input. folder: the working folder ("": this process's).
// environment: NAME=value settings added to this process's.
inline Result RunCommand(const std::vector<std::string>& argv, const Input* input = nullptr,
                         const std::string& folder = "", const std::vector<std::string>& environment = {}) {
    int in[2], out[2], err[2];
    if (pipe(in) || pipe(out) || pipe(err)) std::abort();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            close(fd);
        if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(126);
        for (const std::string& setting : environment)
            putenv(const_cast<char*>(setting.c_str()));
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    signal(SIGPIPE, SIG_IGN);  // a command that stops reading early must not end the test

    Result result;
    std::atomic<bool> outputSeen{false};
    std::thread writer([&] {
        for (size_t done = 0; input && done < input->bytes.size();) {
            if (input->holdAfter && done >= input->holdAfter && !result.outputBeforeEnd) {
                // Generous: only a command that waits for the end of its input fails this.
                for (int i = 0; i < 6000 && !outputSeen; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                result.outputBeforeEnd = outputSeen;
                if (!outputSeen) break;
            }
            size_t n = std::min(input->piece, input->bytes.size() - done);
            if (input->holdAfter > done) n = std::min(n, input->holdAfter - done);
            const ssize_t written = write(in[1], input->bytes.data() + done, n);
            if (written <= 0) break;
            done += static_cast<size_t>(written);
            std::this_thread::sleep_for(input->pause);
        }
        result.inputPipeBytes = PipeBytes(in[1]);
        close(in[1]);
    });
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    uint8_t buffer[65536];
    for (int open = 2; open > 0;) {
        poll(fds, 2, -1);
        for (pollfd& p : fds) {
            if (p.fd < 0 || !(p.revents & (POLLIN | POLLHUP))) continue;
            const ssize_t n = read(p.fd, buffer, sizeof buffer);
            if (n <= 0) {
                if (p.fd == out[0]) result.outputPipeBytes = PipeBytes(p.fd);
                close(p.fd);
                p.fd = -1;
                --open;
            } else if (p.fd == out[0]) {
                result.out.insert(result.out.end(), buffer, buffer + n);
                outputSeen = true;
            } else {
                result.err.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
            }
        }
    }
    writer.join();
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

}  // namespace korvane::test
