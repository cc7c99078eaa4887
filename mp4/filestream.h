// Streams over files with the library's own stream buffer (explicit access,
// share mode and block size), and a read-once stream over a byte vector.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <streambuf>
#include <vector>

#include "fileio.h"

namespace fileutil {

// A stream buffer over a file handle with a caller-chosen block size. Reading
// and writing may be mixed; the logical position is the file pointer minus
// unread input plus pending output. Positions are 64-bit.
class StreamBuffer : public std::streambuf {
 public:
  explicit StreamBuffer(uint32_t bufferSize);
  ~StreamBuffer() override;
  StreamBuffer(const StreamBuffer&) = delete;
  StreamBuffer& operator=(const StreamBuffer&) = delete;

  FileHandle Open(const wchar_t* path, uint32_t access, uint32_t share, void* securityAttributes,
                  uint32_t disposition, uint32_t flags, void* templateFile);
  // Sends pending output and closes; false when either failed.
  bool Close();
  bool IsOpen() const { return file_ != InvalidFileHandle(); }
  // True once a read or write of the file has failed.
  bool HadError() const { return error_; }
  // True once a write failed because the volume was full.
  bool HadDiskFull() const { return diskFull_; }
  // Sends pending output, then cuts the file to `size` bytes.
  bool Truncate(uint64_t size);

 protected:
  int_type overflow(int_type c) override;
  int_type underflow() override;
  pos_type seekoff(off_type off, std::ios_base::seekdir way, std::ios_base::openmode which) override;
  pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;
  int sync() override;

 private:
  bool FlushOutput();
  bool DropInput();

  std::vector<char> getBlock_;
  std::vector<char> putBlock_;
  uint32_t bufferSize_;
  FileHandle file_;
  bool error_ = false;
  bool diskFull_ = false;
};

template <class Base>
class FileStream : public Base {
 public:
  FileStream() : Base(nullptr) {}
  FileStream(const wchar_t* path, uint32_t bufferSize, uint32_t access, uint32_t share, void* sa,
             uint32_t disposition, uint32_t flags, void* templateFile)
      : Base(nullptr) {
    open(path, bufferSize, access, share, sa, disposition, flags, templateFile);
  }
  ~FileStream() override { delete buffer_; }
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  // Returns the file handle (invalid on failure; the stream is then bad).
  FileHandle open(const wchar_t* path, uint32_t bufferSize, uint32_t access, uint32_t share, void* sa,
                  uint32_t disposition, uint32_t flags, void* templateFile) {
    if (!SetBufferSize(bufferSize)) return InvalidFileHandle();
    FileHandle h = buffer_->Open(path, access, share, sa, disposition, flags, templateFile);
    if (h == InvalidFileHandle()) this->setstate(std::ios_base::badbit);
    return h;
  }
  bool SetBufferSize(uint32_t size) {
    delete buffer_;
    buffer_ = new (std::nothrow) StreamBuffer(size);
    this->rdbuf(buffer_);
    if (!buffer_) this->setstate(std::ios_base::badbit);
    return buffer_ != nullptr;
  }
  bool is_open() const { return buffer_ && buffer_->IsOpen(); }
  // Closes the file; false when pending output could not be sent.
  bool close() {
    bool ok = true;
    if (buffer_) {
      ok = buffer_->Close();
      if (buffer_->HadDiskFull()) diskFull_ = true;
      delete buffer_;
      buffer_ = nullptr;
      this->rdbuf(nullptr);
      this->setstate(std::ios_base::badbit);
    }
    return ok;
  }
  StreamBuffer* GetBuffer() { return buffer_; }
  // True once a write failed because the volume was full (also after close).
  bool HadDiskFull() const { return diskFull_ || (buffer_ && buffer_->HadDiskFull()); }

 private:
  StreamBuffer* buffer_ = nullptr;
  bool diskFull_ = false;
};

typedef FileStream<std::istream> ifstream;
typedef FileStream<std::ostream> ofstream;
typedef FileStream<std::iostream> fstream;

// A read-once buffer over byte vectors (output writes into the existing bytes
// of the output vector only). It cannot seek.
class MemoryStreamBuffer : public std::streambuf {
 public:
  MemoryStreamBuffer(const std::vector<uint8_t>* input, std::vector<uint8_t>* output);

 protected:
  int_type overflow(int_type c) override;
};

class InputMemoryStream : public std::istream {
 public:
  explicit InputMemoryStream(const std::vector<uint8_t>& bytes);
  ~InputMemoryStream() override;

 private:
  MemoryStreamBuffer* buffer_;
};

}  // namespace fileutil
