// Data handlers.
#include "datahandler.h"

#include <new>

namespace fileutil {

static const uint64_t kSkipStep = 0x7FFFFFFF;

static bool SeekForward(std::istream& in, uint64_t count) {
  while (count > 0) {
    uint64_t step = count > kSkipStep ? kSkipStep : count;
    in.seekg(std::streamoff(step), std::ios_base::cur);
    if (in.fail()) return false;
    count -= step;
  }
  return true;
}

static bool SeekableSize(std::istream& in, uint64_t& size) {
  in.clear();
  in.seekg(0, std::ios_base::end);
  std::streamoff end = std::streamoff(in.tellg());
  in.seekg(0, std::ios_base::beg);
  in.clear();
  if (end < 0) {
    size = UINT64_MAX;
    return false;
  }
  size = uint64_t(end);
  return true;
}

FileHandler::FileHandler(const wchar_t* path) {
  stream_.open(path, 4096, kGenericRead, kFileShareRead, nullptr, kOpenExisting, kFlagsSequentialScan, nullptr);
}

void FileHandler::Read(char* buffer, int count) { stream_.read(buffer, count); }
bool FileHandler::Skip(uint64_t count) { return SeekForward(stream_, count); }
bool FileHandler::GetSize(uint64_t& size) {
  if (!stream_.is_open()) {
    size = 0;
    return true;
  }
  return SeekableSize(stream_, size);
}

void FileStreamHandler::Read(char* buffer, int count) { in_->read(buffer, count); }
bool FileStreamHandler::Skip(uint64_t count) { return SeekForward(*in_, count); }
bool FileStreamHandler::GetSize(uint64_t& size) { return SeekableSize(*in_, size); }

void StreamHandler::Read(char* buffer, int count) { in_->read(buffer, count); }
bool StreamHandler::Skip(uint64_t count) {
  while (count > 0) {
    uint64_t step = count > kSkipStep ? kSkipStep : count;
    in_->ignore(std::streamsize(step));
    if (uint64_t(in_->gcount()) < step) return false;
    count -= step;
  }
  return true;
}
bool StreamHandler::GetSize(uint64_t& size) {
  size = UINT64_MAX;
  return false;
}

DataHandler* CreateFileHandler(const wchar_t* path) { return new (std::nothrow) FileHandler(path); }
DataHandler* CreateFileStreamHandler(std::istream& in) { return new (std::nothrow) FileStreamHandler(in); }
DataHandler* CreateStreamHandler(std::istream& in) { return new (std::nothrow) StreamHandler(in); }

}  // namespace fileutil
