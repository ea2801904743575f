#include "cli/FileDescriptors.h"

#include <fcntl.h>

#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <fstream>
#endif

namespace korvane::cli::fd {

#ifdef _WIN32
namespace {
// The C runtime takes an unsigned count; a gigabyte at a time is plenty.
unsigned Count(size_t size) {
    return static_cast<unsigned>(size < (size_t(1) << 30) ? size : (size_t(1) << 30));
}
}  // namespace

const int kStandardInput = 0;
const int kStandardOutput = 1;

void UseBinaryMode(int descriptor) {
    _setmode(descriptor, _O_BINARY);
}
int OpenForReading(const std::string& path) {
    return _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_SEQUENTIAL);
}
int OpenForWriting(const std::string& path) {
    return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
}
long long Read(int descriptor, void* buffer, size_t size) {
    return _read(descriptor, buffer, Count(size));
}
long long Write(int descriptor, const void* data, size_t size) {
    return _write(descriptor, data, Count(size));
}
long long WriteGathered(int descriptor, const Bytes* pieces, size_t count) {
    return count ? Write(descriptor, pieces[0].data, pieces[0].size) : 0;
}
int Close(int descriptor) {
    return _close(descriptor);
}
#else
namespace {
// Linux and macOS take at most 1024 pieces in one writev (IOV_MAX).
constexpr size_t kMostGathered = 1024;
}  // namespace

const int kStandardInput = STDIN_FILENO;
const int kStandardOutput = STDOUT_FILENO;

void UseBinaryMode(int) {}
int OpenForReading(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY);
}
int OpenForWriting(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
}
long long Read(int descriptor, void* buffer, size_t size) {
    return ::read(descriptor, buffer, size);
}
long long Write(int descriptor, const void* data, size_t size) {
    return ::write(descriptor, data, size);
}
long long WriteGathered(int descriptor, const Bytes* pieces, size_t count) {
    iovec vector[kMostGathered];
    const size_t n = count < kMostGathered ? count : kMostGathered;
    for (size_t i = 0; i < n; ++i)
        vector[i] = {const_cast<void*>(pieces[i].data), pieces[i].size};
    return ::writev(descriptor, vector, static_cast<int>(n));
}
int Close(int descriptor) {
    return ::close(descriptor);
}
#endif

void EnlargePipe(int descriptor) {
#ifdef F_SETPIPE_SZ
    size_t bytes = kPipeBytes;
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISFIFO(status.st_mode)) return;
    // Asking for more than this limit fails for unprivileged processes; asking for it works.
    long long limit = 0;
    std::ifstream("/proc/sys/fs/pipe-max-size") >> limit;
    if (limit > 0 && static_cast<unsigned long long>(limit) < bytes) bytes = static_cast<size_t>(limit);
    const int now = ::fcntl(descriptor, F_GETPIPE_SZ);
    if (now < 0 || static_cast<size_t>(now) >= bytes) return;
    // Refused (the user's pipes already hold their share): the pipe stays as it is.
    ::fcntl(descriptor, F_SETPIPE_SZ, static_cast<int>(bytes));
#else
    (void)descriptor;
#endif
}

std::string Reason(int error) {
    return error ? std::string(": ") + std::strerror(error) : std::string();
}

}  // namespace korvane::cli::fd
