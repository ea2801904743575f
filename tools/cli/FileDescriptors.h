// The system's own file calls, the same on POSIX systems and Windows' C runtime: the
// commands read and write through descriptors rather than stdio, so that a read returns what
// a pipe holds now and a write goes out in the size it was made.
#pragma once

#include <cstddef>
#include <string>

namespace korvane::cli::fd {

extern const int kStandardInput;
extern const int kStandardOutput;

// Binary mode for standard input or output on Windows (no line-end translation).
void UseBinaryMode(int descriptor);
// -1 on failure, with errno set.
int OpenForReading(const std::string& path);
int OpenForWriting(const std::string& path);  // created, or truncated
// Bytes moved, 0 at the end of the input, -1 on failure with errno set (EINTR included).
long long Read(int descriptor, void* buffer, size_t size);
long long Write(int descriptor, const void* data, size_t size);
// Writes the pieces in turn as one write where the system can (writev), else the first
// piece alone; returns the bytes written as Write does.
struct Bytes {
    const void* data;
    size_t size;
};
long long WriteGathered(int descriptor, const Bytes* pieces, size_t count);
int Close(int descriptor);

// A pipe we are handed holds 64 KiB on Linux: the process at either end then waits and wakes
// the other every 16 pages, and the switching cost more than the copying (a 1 GB recording
// piped through took a third longer). Grows the pipe behind the descriptor to kPipeBytes, the
// size the commands read and write in, or to the most an unprivileged process may ask for.
// Nothing happens for other descriptors, on systems that cannot, or when the system says no:
// a small pipe is slower, not wrong.
constexpr size_t kPipeBytes = size_t(1) << 20;
void EnlargePipe(int descriptor);

// ": <the system's sentence for error>", or nothing for 0.
std::string Reason(int error);

}  // namespace korvane::cli::fd
