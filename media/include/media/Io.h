// Byte sources and sinks over std::fopen, so the same code opens "Z:\..." paths under Wine
// and POSIX paths natively. No Windows header: media/ is built natively and with mingw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace korvane::media {

// A heap buffer aligned to a page: the kernel copies file data into and out of aligned
// buffers markedly faster. Not copyable; contents are uninitialised.
class AlignedBuffer {
public:
    AlignedBuffer() = default;
    explicit AlignedBuffer(size_t size) { Resize(size); }
    ~AlignedBuffer();
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;

    // Discards the contents.
    void Resize(size_t size);
    uint8_t* Data() { return m_data; }
    const uint8_t* Data() const { return m_data; }
    size_t Size() const { return m_size; }

private:
    uint8_t* m_data = nullptr;
    size_t m_size = 0;
};

// Random-access input. ReadAt returns the number of bytes read: fewer than asked only at the
// end of the data or on a read error (then Failed() tells which).
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    virtual size_t ReadAt(uint64_t offset, void* buffer, size_t size) = 0;
    virtual bool Failed() const { return false; }
};

// Bytes held by the caller; the caller keeps them alive while the source is used.
class MemoryByteSource final : public ByteSource {
public:
    MemoryByteSource(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint64_t Size() const override { return m_size; }
    size_t ReadAt(uint64_t offset, void* buffer, size_t size) override;

private:
    const uint8_t* m_data;
    size_t m_size;
};

// A file opened for reading with std::fopen; 64-bit offsets on every platform.
class FileByteSource final : public ByteSource {
public:
    FileByteSource() = default;
    ~FileByteSource() override;
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;

    // False with *error naming the file when it cannot be opened or measured.
    bool Open(const std::string& path, std::string* error);
    void Close();
    bool IsOpen() const { return m_file != nullptr; }

    uint64_t Size() const override { return m_size; }
    size_t ReadAt(uint64_t offset, void* buffer, size_t size) override;
    bool Failed() const override { return m_failed; }

private:
    std::FILE* m_file = nullptr;
    uint64_t m_size = 0;
    uint64_t m_position = 0;  // where the next fread continues, to skip needless seeks
    bool m_failed = false;
};

// Sequential output. Write returns false on failure; the sink keeps the first error.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual bool Write(const uint8_t* data, size_t size) = 0;
};

// Collects everything in memory (tests, small outputs).
class MemoryByteSink final : public ByteSink {
public:
    bool Write(const uint8_t* data, size_t size) override;
    std::vector<uint8_t>& Bytes() { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

// A file created (or truncated) with std::fopen, unbuffered: every Write goes straight to the
// file, so write in large pieces.
class FileByteSink final : public ByteSink {
public:
    FileByteSink() = default;
    ~FileByteSink() override;
    FileByteSink(const FileByteSink&) = delete;
    FileByteSink& operator=(const FileByteSink&) = delete;

    bool Open(const std::string& path, std::string* error);
    // Flushes and closes; false (with *error) if any write or the close failed.
    bool Close(std::string* error);
    bool Write(const uint8_t* data, size_t size) override;

private:
    std::FILE* m_file = nullptr;
    std::string m_path;
    bool m_failed = false;
};

}  // namespace korvane::media
