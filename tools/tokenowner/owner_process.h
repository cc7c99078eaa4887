// A tokenowner process driven through pipes: a buffer in another process,
// for the memory-token tests and the stand-in host.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

class OwnerProcess {
 public:
  // Starts "PROGRAM [--mapping] size" (by default tokenowner.exe from the
  // working directory).
  OwnerProcess(DWORD size, bool mapping, const std::wstring& program = L"tokenowner.exe") {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE childIn = nullptr, childOut = nullptr;
    if (!CreatePipe(&childIn, &toChild_, &sa, 0) || !CreatePipe(&fromChild_, &childOut, &sa, 0)) return;
    SetHandleInformation(toChild_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(fromChild_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = childIn;
    si.hStdOutput = childOut;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::wstring command = L"\"" + program + L"\" ";
    if (mapping) command += L"--mapping ";
    command += std::to_wstring(size);
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    PROCESS_INFORMATION pi = {};
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
      process_ = pi.hProcess;
      CloseHandle(pi.hThread);
    }
    CloseHandle(childIn);
    CloseHandle(childOut);
    if (!process_) return;
    std::string first = ReadLine();
    unsigned long pid = 0, got = 0;
    unsigned long long base = 0, section = 0;
    if (std::sscanf(first.c_str(), "pid=%lu base=0x%llx mapping=0x%llx size=%lu", &pid, &base, &section, &got) == 4) {
      pid_ = pid;
      base_ = static_cast<DWORD_PTR>(base);
      mapping_ = static_cast<DWORD_PTR>(section);
    }
  }
  ~OwnerProcess() {
    Quit();
    if (toChild_) CloseHandle(toChild_);
    if (fromChild_) CloseHandle(fromChild_);
  }
  OwnerProcess(const OwnerProcess&) = delete;
  OwnerProcess& operator=(const OwnerProcess&) = delete;

  bool ok() const { return pid_ != 0; }
  DWORD pid() const { return pid_; }
  DWORD_PTR base() const { return base_; }
  DWORD_PTR mapping() const { return mapping_; }

  // The owner's bytes [offset, offset + length).
  std::vector<unsigned char> Dump(DWORD offset, DWORD length) {
    Send("dump " + std::to_string(offset) + " " + std::to_string(length) + "\n");
    std::string hex = ReadLine();
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
  }

  // Ends the process and waits for it; all handles to it are closed.
  void Quit() {
    if (!process_) return;
    Send("quit\n");
    if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
    CloseHandle(process_);
    process_ = nullptr;
  }

  static unsigned char Pattern(DWORD i, unsigned seed) { return static_cast<unsigned char>((i * 7 + seed) & 0xFF); }

 private:
  void Send(const std::string& text) {
    DWORD written = 0;
    WriteFile(toChild_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
  std::string ReadLine() {
    std::string line;
    while (true) {
      size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        break;
      }
      char chunk[65536];
      DWORD got = 0;
      if (!ReadFile(fromChild_, chunk, sizeof chunk, &got, nullptr) || got == 0) {
        line.swap(pending_);
        break;
      }
      pending_.append(chunk, got);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

  std::string pending_;  // read from the pipe, not yet taken as lines
  HANDLE process_ = nullptr;
  HANDLE toChild_ = nullptr;
  HANDLE fromChild_ = nullptr;
  DWORD pid_ = 0;
  DWORD_PTR base_ = 0, mapping_ = 0;
};
