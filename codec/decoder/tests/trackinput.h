// The access units and AudioSpecificConfig of an AAC track, from an MP4 file
// (sample tables of the first AAC track) or from an ADTS stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TrackInput {
 public:
  bool open(const std::string& path, std::string* error);
  const std::vector<uint8_t>& asc() const { return asc_; }
  // The next access unit; false at the end.
  bool next(std::vector<uint8_t>* unit);
  uint64_t index() const { return next_; }

 private:
  bool openMp4(std::string* error);
  bool openAdts(std::string* error);
  std::vector<uint8_t> file_;
  std::vector<uint8_t> asc_;
  std::vector<uint64_t> offsets_;
  std::vector<uint32_t> sizes_;
  uint64_t next_ = 0;
};
