#include "media/Io.h"

#include <cerrno>
#include <cstring>
#include <new>

namespace korvane::media {
namespace {

int SeekTo(std::FILE* file, uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, static_cast<long long>(offset), SEEK_SET);
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET);
#endif
}

bool MeasureFile(std::FILE* file, uint64_t* size) {
#ifdef _WIN32
    if (_fseeki64(file, 0, SEEK_END) != 0) return false;
    long long end = _ftelli64(file);
#else
    if (fseeko(file, 0, SEEK_END) != 0) return false;
    off_t end = ftello(file);
#endif
    if (end < 0) return false;
    *size = static_cast<uint64_t>(end);
    return SeekTo(file, 0) == 0;
}

std::string Reason() {
    return errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
}

constexpr std::align_val_t kPageAlignment{4096};

}  // namespace

AlignedBuffer::~AlignedBuffer() {
    if (data_) ::operator delete[](data_, kPageAlignment);
}

void AlignedBuffer::Resize(size_t size) {
    if (size == size_) return;
    if (data_) ::operator delete[](data_, kPageAlignment);
    data_ = nullptr;
    size_ = 0;
    if (size) data_ = static_cast<uint8_t*>(::operator new[](size, kPageAlignment));
    size_ = size;
}

size_t MemoryByteSource::ReadAt(uint64_t offset, void* buffer, size_t size) {
    if (offset >= size_) return 0;
    size_t n = static_cast<size_t>(size_ - offset) < size ? static_cast<size_t>(size_ - offset) : size;
    std::memcpy(buffer, data_ + offset, n);
    return n;
}

FileByteSource::~FileByteSource() { Close(); }

bool FileByteSource::Open(const std::string& path, std::string* error) {
    Close();
    errno = 0;
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) {
        if (error) *error = "Cannot open \"" + path + "\"" + Reason() + ".";
        return false;
    }
    if (!MeasureFile(file_, &size_)) {
        if (error) *error = "Cannot measure the size of \"" + path + "\"" + Reason() + ".";
        Close();
        return false;
    }
    position_ = 0;
    failed_ = false;
    return true;
}

void FileByteSource::Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    size_ = 0;
    position_ = 0;
}

size_t FileByteSource::ReadAt(uint64_t offset, void* buffer, size_t size) {
    if (!file_ || offset >= size_ || size == 0) return 0;
    if (offset != position_) {
        if (SeekTo(file_, offset) != 0) {
            failed_ = true;
            return 0;
        }
        position_ = offset;
    }
    size_t n = std::fread(buffer, 1, size, file_);
    position_ += n;
    if (n < size && std::ferror(file_)) failed_ = true;
    return n;
}

bool MemoryByteSink::Write(const uint8_t* data, size_t size) {
    bytes_.insert(bytes_.end(), data, data + size);
    return true;
}

FileByteSink::~FileByteSink() { Close(nullptr); }

bool FileByteSink::Open(const std::string& path, std::string* error) {
    Close(nullptr);
    errno = 0;
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        if (error) *error = "Cannot create \"" + path + "\"" + Reason() + ".";
        return false;
    }
    // Callers write large pieces; stdio's buffer would only split them.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    path_ = path;
    failed_ = false;
    return true;
}

bool FileByteSink::Write(const uint8_t* data, size_t size) {
    if (!file_ || failed_) return false;
    if (size != 0 && std::fwrite(data, 1, size, file_) != size) failed_ = true;
    return !failed_;
}

bool FileByteSink::Close(std::string* error) {
    if (!file_) return true;
    errno = 0;
    bool ok = !failed_ && std::fflush(file_) == 0 && !std::ferror(file_);
    if (std::fclose(file_) != 0) ok = false;
    file_ = nullptr;
    if (!ok && error) *error = "Cannot write \"" + path_ + "\"" + Reason() + ".";
    return ok;
}

}  // namespace korvane::media
