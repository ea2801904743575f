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
    if (m_data) ::operator delete[](m_data, kPageAlignment);
}

void AlignedBuffer::Resize(size_t size) {
    if (size == m_size) return;
    if (m_data) ::operator delete[](m_data, kPageAlignment);
    m_data = nullptr;
    m_size = 0;
    if (size) m_data = static_cast<uint8_t*>(::operator new[](size, kPageAlignment));
    m_size = size;
}

size_t MemoryByteSource::ReadAt(uint64_t offset, void* buffer, size_t size) {
    if (offset >= m_size) return 0;
    size_t n = static_cast<size_t>(m_size - offset) < size ? static_cast<size_t>(m_size - offset) : size;
    std::memcpy(buffer, m_data + offset, n);
    return n;
}

FileByteSource::~FileByteSource() {
    Close();
}

bool FileByteSource::Open(const std::string& path, std::string* error) {
    Close();
    errno = 0;
    m_file = std::fopen(path.c_str(), "rb");
    if (!m_file) {
        if (error) *error = "Cannot open \"" + path + "\"" + Reason() + ".";
        return false;
    }
    if (!MeasureFile(m_file, &m_size)) {
        if (error) *error = "Cannot measure the size of \"" + path + "\"" + Reason() + ".";
        Close();
        return false;
    }
    m_position = 0;
    m_failed = false;
    return true;
}

void FileByteSource::Close() {
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
    m_size = 0;
    m_position = 0;
}

size_t FileByteSource::ReadAt(uint64_t offset, void* buffer, size_t size) {
    if (!m_file || offset >= m_size || size == 0) return 0;
    if (offset != m_position) {
        if (SeekTo(m_file, offset) != 0) {
            m_failed = true;
            return 0;
        }
        m_position = offset;
    }
    size_t n = std::fread(buffer, 1, size, m_file);
    m_position += n;
    if (n < size && std::ferror(m_file)) m_failed = true;
    return n;
}

bool MemoryByteSink::Write(const uint8_t* data, size_t size) {
    m_bytes.insert(m_bytes.end(), data, data + size);
    return true;
}

FileByteSink::~FileByteSink() {
    Close(nullptr);
}

bool FileByteSink::Open(const std::string& path, std::string* error) {
    Close(nullptr);
    errno = 0;
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file) {
        if (error) *error = "Cannot create \"" + path + "\"" + Reason() + ".";
        return false;
    }
    // Callers write large pieces; stdio's buffer would only split them.
    std::setvbuf(m_file, nullptr, _IONBF, 0);
    m_path = path;
    m_failed = false;
    return true;
}

bool FileByteSink::Write(const uint8_t* data, size_t size) {
    if (!m_file || m_failed) return false;
    if (size != 0 && std::fwrite(data, 1, size, m_file) != size) m_failed = true;
    return !m_failed;
}

bool FileByteSink::Close(std::string* error) {
    if (!m_file) return true;
    errno = 0;
    bool ok = !m_failed && std::fflush(m_file) == 0 && !std::ferror(m_file);
    if (std::fclose(m_file) != 0) ok = false;
    m_file = nullptr;
    if (!ok && error) *error = "Cannot write \"" + m_path + "\"" + Reason() + ".";
    return ok;
}

}  // namespace korvane::media
