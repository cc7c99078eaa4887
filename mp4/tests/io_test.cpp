// File streams, data handlers, text encodings and the mutex.
#include "mp4_test_util.h"

#include <cstdio>
#include <thread>

#include "datahandler.h"
#include "filestream.h"
#include "sync.h"
#include "textencoding.h"

using namespace mp4test;
using namespace fileutil;

namespace {

std::string TempPath(const char* name) { return HostPath(std::string(VOG_FIXTURE_DIR) + "/" + name); }

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

}  // namespace

TEST(FileStreams, ReadPositionsAndBytes) {
  Bytes bytes;
  for (int i = 0; i < 10000; ++i) bytes += char(i * 7);
  bytes[100] = char(0xFF);
  std::string path = TempPath("stream_read.bin");
  WriteFile(path, bytes);
  ifstream in(Wide(path).c_str(), 4096, kGenericRead, kFileShareRead, nullptr, kOpenExisting, kFlagsSequentialScan,
              nullptr);
  ASSERT_TRUE(in.is_open());
  char block[100];
  in.read(block, 100);
  EXPECT_EQ(100, int(in.tellg()));
  EXPECT_EQ(255, in.get()) << "0xFF is a byte, not the end";
  Bytes rest(9899, 0);
  in.read(&rest[0], 9899);
  EXPECT_EQ(bytes.substr(101), rest);
  EXPECT_EQ(EOF, in.get());
  in.clear();
  in.seekg(5000);
  EXPECT_EQ(bytes[5000], char(in.get()));
  in.seekg(-10, std::ios_base::end);
  EXPECT_EQ(9990, int(in.tellg()));
  ifstream missing(Wide(TempPath("no_such_dir/none.bin")).c_str(), 4096, kGenericRead, kFileShareRead, nullptr,
                   kOpenExisting, 0, nullptr);
  EXPECT_FALSE(missing.is_open());
  EXPECT_FALSE(ifstream().is_open());
  std::remove(path.c_str());
}

TEST(FileStreams, MixedReadingAndWriting) {
  std::string path = TempPath("stream_rw.bin");
  WriteFile(path, Bytes(10000, 'a'));
  {
    fstream io(Wide(path).c_str(), 16, kGenericRead | kGenericWrite, 0, nullptr, kOpenExisting, kFlagsNormal, nullptr);
    ASSERT_TRUE(io.is_open());
    char b[10];
    io.read(b, 10);
    io.seekp(10);
    io.write("XYZ", 3);  // after reading, at the logical position
    io.seekg(3, std::ios_base::cur);
    EXPECT_EQ('a', io.get());
    io.seekp(9998);
    io.write("0123", 4);  // grows the file
    EXPECT_EQ(10002, int(io.tellp()));
    EXPECT_TRUE(io.close());
  }
  Bytes back;
  ASSERT_TRUE(LoadFile(path, back));
  ASSERT_EQ(10002u, back.size());
  EXPECT_EQ("aXYZaa", back.substr(9, 6));
  EXPECT_EQ("0123", back.substr(9998));
  std::remove(path.c_str());
}

#ifndef _WIN32
// Positions beyond 4 GiB (a sparse file).
TEST(FileStreams, SixtyFourBitPositions) {
  std::string path = TempPath("stream_big.bin");
  {
    fstream out(Wide(path).c_str(), 4096, kGenericRead | kGenericWrite, 0, nullptr, kCreateAlways, kFlagsNormal,
                nullptr);
    ASSERT_TRUE(out.is_open());
    out.seekp(std::streamoff(5) << 30);
    out.write("end", 3);
    ASSERT_TRUE(out.close());
  }
  uint64_t size = 0;
  ASSERT_TRUE(FileGetSize(Wide(path).c_str(), size));
  EXPECT_EQ((uint64_t(5) << 30) + 3, size);
  std::ifstream plain(path, std::ios::binary);
  std::istream& in = plain;
  FileStreamHandler handler(in);
  uint64_t told = 0;
  EXPECT_TRUE(handler.GetSize(told));
  EXPECT_EQ(size, told);
  EXPECT_TRUE(handler.Skip(uint64_t(5) << 30));
  char b[3];
  handler.Read(b, 3);
  EXPECT_EQ("end", std::string(b, 3));
  std::remove(path.c_str());
}
#endif

TEST(DataHandlers, SizeAndSkip) {
  std::istringstream seekable(Bytes(1000, 'x'));
  seekable.seekg(500);
  FileStreamHandler a(seekable);
  uint64_t size = 0;
  EXPECT_TRUE(a.GetSize(size));
  EXPECT_EQ(1000u, size);
  EXPECT_EQ(0, int(seekable.tellg())) << "asking rewinds";
  std::istringstream forward(Bytes(1000, 'x'));
  StreamHandler b(forward);
  EXPECT_FALSE(b.GetSize(size));
  EXPECT_EQ(UINT64_MAX, size);
  EXPECT_TRUE(b.Skip(999));
  EXPECT_FALSE(b.Skip(2)) << "past the end";
}

TEST(TextEncodings, BytesToString) {
  struct Row {
    Bytes bytes;
    uint32_t codePage;
    std::wstring text;
  } rows[] = {
      {Hex("fe ff 00 41 00 42"), kCodePageLatin1, L"AB"},
      {Hex("ff fe 41 00 42 00"), kCodePageLatin1, L"AB"},
      {Hex("41 42 00 00"), kCodePageLatin1, L"AB"},
      {Hex("e9"), kCodePageUtf8, L"\u00e9"},
      {Hex("c3 a9 e2 82 ac 00"), kCodePageUtf8, L"\u00e9\u20ac"},
      {Hex("c3 a9"), kCodePageLatin1, L"\u00c3\u00a9"},
      {Hex("f0 9f 8e b5"), kCodePageUtf8, std::wstring{wchar_t(0xD83C), wchar_t(0xDFB5)}},
      {Hex("c3 28 41"), kCodePageUtf8, L"\ufffd(A"},
      {Bytes(), kCodePageUtf8, L""},
  };
  for (const Row& r : rows) {
    std::wstring out;
    BytesToString(out, ByteVector(r.bytes.begin(), r.bytes.end()), r.codePage);
    EXPECT_EQ(r.text, out) << Hex("00") + r.bytes;
  }
}

TEST(TextEncodings, WriteAndRead) {
  std::ostringstream a;
  EXPECT_EQ(6u, GetCharEncoding(1).Write(a, L"A"));
  EXPECT_EQ(Hex("fe ff 00 41 00 00"), a.str());
  EXPECT_EQ(6u, GetCharEncoding(1).GetEncodedSize(L"A"));
  std::ostringstream b;
  EXPECT_EQ(1u, GetCharEncoding(3).Write(b, L""));
  EXPECT_EQ(Hex("00"), b.str());
  std::ostringstream c;
  GetCharEncoding(3).Write(c, L"\u00e9\u20ac");
  EXPECT_EQ(Hex("c3 a9 e2 82 ac 00"), c.str());
  EXPECT_EQ(6u, GetCharEncoding(3).GetEncodedSize(L"\u00e9\u20ac"));
  std::istringstream d("xyz");
  std::wstring text = L"old";
  EXPECT_EQ(0u, ReadEncodedString(7, 3, text, d));
  EXPECT_TRUE(text.empty());
  EXPECT_EQ('x', d.get()) << "nothing read";
  std::istringstream e(Hex("61 62 00 63"));
  ByteVector bytes;
  EXPECT_EQ(3u, ReadByteString(bytes, 5, e));
  EXPECT_EQ((ByteVector{0x61, 0x62, 0}), bytes);
  std::istringstream f("abc");
  EXPECT_EQ(0u, ReadByteString(bytes, 0, f)) << "n = 0 reads nothing";
  EXPECT_EQ('a', f.get());
  std::istringstream g(Hex("00 41 00 42 00 00 00 43"));
  EXPECT_EQ(3u, GetCharEncoding(2).Read(text, 8, g) / 2);
  EXPECT_EQ(L"AB", text);
}

TEST(TextEncodings, GuidText) {
  GUID g = {0x00112233, 0x0455, 0x6677, {0x08, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};
  std::wostringstream out;
  WriteGuid(out, g);
  EXPECT_EQ(L"{00112233-0455-6677-0899-aabbccddeeff}", out.str());
  std::wistringstream in(L"{00112233-4455-6677-8899-AABBCCDDEEFF}");
  GUID r;
  ReadGuid(in, r);
  EXPECT_EQ(0x00112233u, r.Data1);
  EXPECT_EQ(0x4455, r.Data2);
  EXPECT_EQ(0x88, r.Data4[0]);
  EXPECT_EQ(0xFF, r.Data4[7]);
  std::wistringstream shortText(L"{0011}");
  ReadGuid(shortText, r);
  EXPECT_EQ(0u, r.Data1);
}

TEST(TextEncodings, CopyStreamBytesStopsAtAShortRead) {
  std::istringstream in(Bytes(10000, 'q'));
  std::ostringstream out;
  EXPECT_EQ(9992u, CopyStreamBytes(out, in, 9992));
  EXPECT_EQ(Bytes(9992, 'q'), out.str());
  std::istringstream shortIn(Bytes(5000, 'r'));
  std::ostringstream out2;
  EXPECT_EQ(5000u, CopyStreamBytes(out2, shortIn, 9000)) << "only the bytes read are written";
  EXPECT_EQ(5000u, out2.str().size());
}

TEST(Mutex, LocksAcrossThreads) {
  Mutex m;
  m.Lock();
  m.Lock();  // recursive, as a Win32 mutex
  bool busy = false;
  std::thread other([&] { busy = m.IsBusy(); });
  other.join();
  EXPECT_TRUE(busy);
  m.Unlock();
  m.Unlock();
  std::thread again([&] {
    busy = m.IsBusy();
    if (!busy) m.Unlock();
  });
  again.join();
  EXPECT_FALSE(busy);
  { MutexLock lock(m); }
}

TEST(Event, AutoResetSignalAcrossThreads) {
  Event e;
  EXPECT_FALSE(e.Wait(0)) << "not signalled at first";
  EXPECT_FALSE(e.IsSet());
  e.Set();
  EXPECT_TRUE(e.IsSet());
  EXPECT_FALSE(e.IsSet()) << "a true answer consumed the signal";
  e.Set();
  e.Reset();
  EXPECT_FALSE(e.Wait(10));
  // Another thread's Set wakes an unbounded wait.
  std::thread setter([&] { e.Set(); });
  EXPECT_TRUE(e.Wait(Event::kInfinite));
  setter.join();
}

#ifdef _WIN32
namespace {

// Waits for its event, then answers `result`; the exit hook adds 1000.
class WorkerThread : public Thread {
 public:
  Event go;
  uint32_t result = 7;
  uint32_t ran = 0;
  uint32_t Run() override {
    go.Wait(Event::kInfinite);
    ++ran;
    return result;
  }
  uint32_t OnExit(uint32_t code) override { return code + 1000; }
};

// Never ends by itself; says when it runs its own code.
class EndlessThread : public Thread {
 public:
  Event entered;
  uint32_t Run() override {
    entered.Set();
    for (;;) Sleep(10);
  }
};

}  // namespace

TEST(Thread, StartJoinTerminate) {
  WorkerThread w;
  EXPECT_EQ(0u, w.Join()) << "never started";
  ASSERT_TRUE(w.Start());
  EXPECT_TRUE(w.IsRunning());
  EXPECT_NE(0u, w.GetThreadId());
  EXPECT_TRUE(w.Start()) << "already running: nothing new starts";
  w.go.Set();
  EXPECT_EQ(1007u, w.Join()) << "the exit hook's answer is the exit code";
  EXPECT_EQ(1u, w.ran);
  EXPECT_FALSE(w.IsRunning());
  EXPECT_EQ(0u, w.Join());

  EndlessThread endless;
  ASSERT_TRUE(endless.Start());
  // Ended only once it runs its loop: a thread killed while the system still
  // starts it (loader lock held) can keep every later thread from starting.
  ASSERT_TRUE(endless.entered.Wait(10000));
  endless.Terminate();
  EXPECT_FALSE(endless.IsRunning());
  EXPECT_EQ(0u, endless.Join());
  {
    EndlessThread dropped;
    ASSERT_TRUE(dropped.Start());
    ASSERT_TRUE(dropped.entered.Wait(10000));
  }  // the destructor ends it
}
#endif
