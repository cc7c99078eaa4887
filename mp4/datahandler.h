// Byte sources of the box reader: a file named by path, a seekable stream the
// caller owns, and a stream that can only be read forward.
#pragma once

#include <cstdint>
#include <istream>

#include "filestream.h"

namespace fileutil {

class DataHandler {
 public:
  virtual ~DataHandler() {}
  virtual void Read(char* buffer, int count) = 0;
  // Moves forward; false when the source reported a failure.
  virtual bool Skip(uint64_t count) = 0;
  virtual std::istream& GetStream() = 0;
  // The source's length; false (and the largest value) when it cannot tell.
  // Asking rewinds a seekable source to its start.
  virtual bool GetSize(uint64_t& size) = 0;
};

class FileHandler : public DataHandler {
 public:
  explicit FileHandler(const wchar_t* path);
  void Read(char* buffer, int count) override;
  bool Skip(uint64_t count) override;
  std::istream& GetStream() override { return stream_; }
  bool GetSize(uint64_t& size) override;
  bool IsOpen() const { return stream_.is_open(); }

 private:
  ifstream stream_;
};

class FileStreamHandler : public DataHandler {
 public:
  explicit FileStreamHandler(std::istream& in) : in_(&in) {}
  void Read(char* buffer, int count) override;
  bool Skip(uint64_t count) override;
  std::istream& GetStream() override { return *in_; }
  bool GetSize(uint64_t& size) override;

 private:
  std::istream* in_;
};

class StreamHandler : public DataHandler {
 public:
  explicit StreamHandler(std::istream& in) : in_(&in) {}
  void Read(char* buffer, int count) override;
  bool Skip(uint64_t count) override;
  std::istream& GetStream() override { return *in_; }
  bool GetSize(uint64_t& size) override;

 private:
  std::istream* in_;
};

// Null when memory is short.
DataHandler* CreateFileHandler(const wchar_t* path);
DataHandler* CreateFileStreamHandler(std::istream& in);
DataHandler* CreateStreamHandler(std::istream& in);

}  // namespace fileutil
