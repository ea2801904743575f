#include "cli/FileDescriptors.h"

#include <fcntl.h>

#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
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
int Close(int descriptor) {
    return _close(descriptor);
}
#else
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
int Close(int descriptor) {
    return ::close(descriptor);
}
#endif

std::string Reason(int error) {
    return error ? std::string(": ") + std::strerror(error) : std::string();
}

}  // namespace korvane::cli::fd
