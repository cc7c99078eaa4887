// The file stream buffer and the memory stream buffer.
#include "filestream.h"

#include <cstring>
#include <new>

namespace fileutil {

StreamBuffer::StreamBuffer(uint32_t bufferSize)
    : getBlock_(size_t(bufferSize ? bufferSize : 1) + 1, 0), putBlock_(size_t(bufferSize ? bufferSize : 1) + 1, 0),
      bufferSize_(bufferSize ? bufferSize : 1), file_(InvalidFileHandle()) {
  setg(nullptr, nullptr, nullptr);
  setp(nullptr, nullptr);
}

StreamBuffer::~StreamBuffer() { Close(); }

FileHandle StreamBuffer::Open(const wchar_t* path, uint32_t access, uint32_t share, void*, uint32_t disposition,
                              uint32_t flags, void*) {
  Close();
  error_ = false;
  file_ = FileOpen(path, access, share, disposition, flags);
  return file_;
}

bool StreamBuffer::Close() {
  if (!IsOpen()) return true;
  bool ok = sync() == 0;
  if (!FileClose(file_)) ok = false;
  file_ = InvalidFileHandle();
  setg(nullptr, nullptr, nullptr);
  setp(nullptr, nullptr);
  return ok;
}

bool StreamBuffer::FlushOutput() {
  if (!pbase()) return true;
  size_t pending = size_t(pptr() - pbase());
  bool ok = true;
  if (pending) {
    uint32_t written = 0;
    ok = IsOpen() && FileWrite(file_, pbase(), uint32_t(pending), written) && written == pending;
    if (!ok) {
      error_ = true;
      if (LastWriteFoundDiskFull()) diskFull_ = true;
    }
  }
  setp(putBlock_.data(), putBlock_.data() + bufferSize_);
  return ok;
}

// Gives up the unread input and moves the file pointer back to the logical position.
bool StreamBuffer::DropInput() {
  bool ok = true;
  if (gptr() && egptr() > gptr()) {
    uint64_t at = 0;
    ok = FileSeek(file_, -int64_t(egptr() - gptr()), kSeekCurrent, at);
    if (!ok) error_ = true;
  }
  setg(nullptr, nullptr, nullptr);
  return ok;
}

int StreamBuffer::sync() {
  bool ok = FlushOutput();
  if (!DropInput()) ok = false;
  return ok ? 0 : -1;
}

StreamBuffer::int_type StreamBuffer::overflow(int_type c) {
  if (!IsOpen()) return traits_type::eof();
  if (!DropInput()) return traits_type::eof();
  if (!pbase()) setp(putBlock_.data(), putBlock_.data() + bufferSize_);
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  if (pptr() >= epptr() && !FlushOutput()) return traits_type::eof();
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

StreamBuffer::int_type StreamBuffer::underflow() {
  if (gptr() && gptr() < egptr()) return traits_type::to_int_type(*gptr());
  if (!IsOpen()) return traits_type::eof();
  if (!FlushOutput()) return traits_type::eof();
  setp(nullptr, nullptr);  // the next output goes through overflow
  uint32_t got = 0;
  if (!FileRead(file_, getBlock_.data(), bufferSize_, got)) error_ = true;
  if (got == 0) {
    setg(nullptr, nullptr, nullptr);
    return traits_type::eof();
  }
  setg(getBlock_.data(), getBlock_.data(), getBlock_.data() + got);
  return traits_type::to_int_type(*gptr());
}

StreamBuffer::pos_type StreamBuffer::seekoff(off_type off, std::ios_base::seekdir way, std::ios_base::openmode) {
  if (!IsOpen()) return pos_type(off_type(-1));
  uint64_t filePos = 0;
  if (!FileSeek(file_, 0, kSeekCurrent, filePos)) return pos_type(off_type(-1));
  int64_t unread = (gptr() && egptr() > gptr()) ? int64_t(egptr() - gptr()) : 0;
  int64_t pending = pbase() ? int64_t(pptr() - pbase()) : 0;
  int64_t logical = int64_t(filePos) - unread + pending;
  if (way == std::ios_base::cur && off == 0) return pos_type(off_type(logical));
  int64_t target;
  if (way == std::ios_base::beg) {
    target = off;
  } else if (way == std::ios_base::cur) {
    target = logical + off;
  } else if (way == std::ios_base::end) {
    if (sync() != 0) return pos_type(off_type(-1));
    uint64_t end = 0;
    if (!FileSeek(file_, 0, kSeekEnd, end)) return pos_type(off_type(-1));
    target = int64_t(end) + off;
  } else {
    return pos_type(off_type(-1));
  }
  if (target < 0) return pos_type(off_type(-1));
  if (sync() != 0) return pos_type(off_type(-1));
  uint64_t at = 0;
  if (!FileSeek(file_, target, kSeekBegin, at)) return pos_type(off_type(-1));
  return pos_type(off_type(at));
}

StreamBuffer::pos_type StreamBuffer::seekpos(pos_type pos, std::ios_base::openmode which) {
  return seekoff(off_type(pos), std::ios_base::beg, which);
}

bool StreamBuffer::Truncate(uint64_t size) {
  if (!IsOpen() || sync() != 0) return false;
  return FileTruncate(file_, size);
}

MemoryStreamBuffer::MemoryStreamBuffer(const std::vector<uint8_t>* input, std::vector<uint8_t>* output) {
  if (input && !input->empty()) {
    char* p = const_cast<char*>(reinterpret_cast<const char*>(input->data()));
    setg(p, p, p + input->size());
  }
  if (output && !output->empty()) {
    char* p = reinterpret_cast<char*>(output->data());
    setp(p, p + output->size());
  }
}

MemoryStreamBuffer::int_type MemoryStreamBuffer::overflow(int_type c) { return traits_type::not_eof(c); }

InputMemoryStream::InputMemoryStream(const std::vector<uint8_t>& bytes)
    : std::istream(nullptr), buffer_(new (std::nothrow) MemoryStreamBuffer(&bytes, nullptr)) {
  rdbuf(buffer_);
}

InputMemoryStream::~InputMemoryStream() { delete buffer_; }

}  // namespace fileutil
