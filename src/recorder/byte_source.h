#pragma once
// Where a loader reads from: a file, or bytes in memory (the fuzz targets).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace recorder {

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Up to `size` bytes; fewer only at the end or on a read error.
    virtual std::size_t read(void* into, std::size_t size) = 0;
    // The whole size, known before reading.
    virtual uint64_t size() const = 0;
};

class MemorySource final : public ByteSource {
  public:
    MemorySource(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::size_t read(void* into, std::size_t size) override;
    uint64_t size() const override { return size_; }

  private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

class FileSource final : public ByteSource {
  public:
    // Nothing when the file cannot be opened (or is a folder).
    static std::unique_ptr<FileSource> open(const std::filesystem::path& path);
    ~FileSource() override;
    std::size_t read(void* into, std::size_t size) override;
    uint64_t size() const override { return size_; }

  private:
    FileSource(std::FILE* file, uint64_t size) : file_(file), size_(size) {}
    std::FILE* file_;
    uint64_t size_;
};

}  // namespace recorder
