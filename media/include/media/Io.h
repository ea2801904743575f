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
    uint8_t* Data() { return data_; }
    const uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
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
    MemoryByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint64_t Size() const override { return size_; }
    size_t ReadAt(uint64_t offset, void* buffer, size_t size) override;

private:
    const uint8_t* data_;
    size_t size_;
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
    bool IsOpen() const { return file_ != nullptr; }

    uint64_t Size() const override { return size_; }
    size_t ReadAt(uint64_t offset, void* buffer, size_t size) override;
    bool Failed() const override { return failed_; }

private:
    std::FILE* file_ = nullptr;
    uint64_t size_ = 0;
    uint64_t position_ = 0;  // where the next fread continues, to skip needless seeks
    bool failed_ = false;
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
    std::vector<uint8_t>& Bytes() { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
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
    std::FILE* file_ = nullptr;
    std::string path_;
    bool failed_ = false;
};

}  // namespace korvane::media
