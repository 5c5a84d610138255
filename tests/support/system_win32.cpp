// The Windows forms of the test support's system calls: child processes
// through CreateProcessW with pipes, open handles counted by the system,
// named pipes, links and junctions, and the lock that stands in for a
// private network.
#include "support/network.h"
#include "support/test_support.h"

// After the runtime's headers: the Windows headers' macros would rename
// their members (SendMessage becomes SendMessageA).
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>
#include <winioctl.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace corvid::testing {

namespace {

std::wstring Wide(std::u16string_view units) { return std::wstring(units.begin(), units.end()); }

// Appends one argument as the C runtime's splitting of a command line reads
// it back: quoted when it is empty or holds blanks or quotes, with the
// backslashes before a quote doubled.
void AppendArgument(std::wstring& line, const std::wstring& arg) {
  if (!line.empty()) line += L' ';
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  for (std::size_t i = 0;; ++i) {
    std::size_t slashes = 0;
    while (i < arg.size() && arg[i] == L'\\') {
      ++i;
      ++slashes;
    }
    if (i == arg.size()) {
      line.append(slashes * 2, L'\\');
      break;
    }
    if (arg[i] == L'"') {
      line.append(slashes * 2 + 1, L'\\');
    } else {
      line.append(slashes, L'\\');
    }
    line += arg[i];
  }
  line += L'"';
}

// A pipe whose `childEnd` (0: reading, 1: writing) is inherited and whose
// other end is not.
void MakePipe(HANDLE ends[2], int childEnd) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  if (!CreatePipe(&ends[0], &ends[1], &inherit, 0)) throw std::runtime_error("CreatePipe failed");
  SetHandleInformation(ends[1 - childEnd], HANDLE_FLAG_INHERIT, 0);
}

// What the writer of a child's standard input shares with the caller; it
// outlives the call when a write stays blocked after the child has gone.
struct Feed {
  HANDLE pipe = nullptr;
  std::string input;
  std::string inputAfter;
  std::mutex lock;
  std::condition_variable changed;
  std::string out;  // standard output so far
  bool ended = false;
};

// The input goes once standard output holds `inputAfter`, or not at all
// when the child ends without; either way standard input is closed after.
DWORD WINAPI WriteInput(void* parameter) {
  std::shared_ptr<Feed> feed = *static_cast<std::shared_ptr<Feed>*>(parameter);
  delete static_cast<std::shared_ptr<Feed>*>(parameter);
  std::unique_lock guard(feed->lock);
  feed->changed.wait(guard, [&] { return feed->ended || feed->out.find(feed->inputAfter) != std::string::npos; });
  bool give = feed->out.find(feed->inputAfter) != std::string::npos;
  guard.unlock();
  for (std::size_t at = 0; give && at < feed->input.size();) {
    DWORD put = 0;
    if (!WriteFile(feed->pipe, feed->input.data() + at, static_cast<DWORD>(feed->input.size() - at), &put, nullptr))
      break;
    at += put;
  }
  CloseHandle(feed->pipe);
  return 0;
}

// Moves the bytes waiting in `pipe` to `into`; false when there were none.
// Never waits for the pipe's end: a process the child started (Wine starts
// its desktop process from the first one that shows a window) may hold the
// writing end long after the child is gone.
bool TakeWaiting(HANDLE pipe, std::string& into) {
  DWORD waiting = 0;
  if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr) || waiting == 0) return false;
  std::size_t had = into.size();
  into.resize(had + waiting);
  DWORD got = 0;
  if (!ReadFile(pipe, into.data() + had, waiting, &got, nullptr)) got = 0;
  into.resize(had + got);
  return got > 0;
}

}  // namespace

namespace {

ProcessResult Run(const std::vector<std::u16string>& argv, const std::string& input, double timeoutSeconds,
                  const std::u16string& workDir, const std::string& inputAfter, ChildOutput output) {
  std::wstring line;
  for (const std::u16string& arg : argv) AppendArgument(line, Wide(arg));
  HANDLE in[2], out[2] = {nullptr, nullptr}, err[2];
  MakePipe(in, 0);
  if (output != ChildOutput::Missing) MakePipe(out, 1);
  if (output == ChildOutput::Unread) {
    CloseHandle(out[0]);
    out[0] = nullptr;
  }
  MakePipe(err, 1);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in[0];
  // No handle is INVALID_HANDLE_VALUE: for a null one Wine gives the child
  // its console instead.
  startup.hStdOutput = output == ChildOutput::Missing ? INVALID_HANDLE_VALUE : out[1];
  startup.hStdError = err[1];
  PROCESS_INFORMATION process{};
  const std::wstring application = Wide(argv.at(0));
  const std::wstring directory = Wide(workDir);
  bool created = CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                nullptr, workDir.empty() ? nullptr : directory.c_str(), &startup, &process) != 0;
  for (HANDLE childEnd : {in[0], out[1], err[1]})
    if (childEnd) CloseHandle(childEnd);
  if (!created) {
    for (HANDLE end : {in[1], out[0], err[0]})
      if (end) CloseHandle(end);
    throw std::runtime_error("CreateProcessW failed: " + std::to_string(GetLastError()));
  }
  CloseHandle(process.hThread);

  auto feed = std::make_shared<Feed>();
  feed->pipe = in[1];
  feed->input = input;
  feed->inputAfter = inputAfter;
  HANDLE writer = nullptr;
  if (input.empty()) {
    CloseHandle(in[1]);
  } else {
    auto* parameter = new std::shared_ptr<Feed>(feed);
    writer = CreateThread(nullptr, 0, WriteInput, parameter, 0, nullptr);
    if (!writer) {
      delete parameter;
      CloseHandle(in[1]);
    }
  }

  ProcessResult result;
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutSeconds * 1000);
  for (bool ended = false;;) {
    bool took = out[0] && TakeWaiting(out[0], result.out);
    took = TakeWaiting(err[0], result.err) || took;
    if (took) {
      std::lock_guard guard(feed->lock);
      feed->out = result.out;
      feed->changed.notify_all();
    }
    if (ended) {
      if (!took) break;  // the child is gone and its pipes are empty
      continue;
    }
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) {
      result.timedOut = true;
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, INFINITE);
      ended = true;
      continue;
    }
    DWORD pause = took ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 2));
    ended = WaitForSingleObject(process.hProcess, pause) == WAIT_OBJECT_0;
  }
  {
    std::lock_guard guard(feed->lock);
    feed->ended = true;
    feed->changed.notify_all();
  }
  // A write into a pipe that someone else still holds open could wait for
  // ever; cut it short and let the writer go.
  if (writer) {
    if (WaitForSingleObject(writer, 1000) != WAIT_OBJECT_0) CancelSynchronousIo(writer);
    CloseHandle(writer);
  }
  for (HANDLE end : {out[0], err[0]})
    if (end) CloseHandle(end);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  result.status = static_cast<int>(code);
  return result;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::u16string>& argv, const std::string& input,
                         double timeoutSeconds, const std::u16string& workDir, const std::string& inputAfter) {
  return Run(argv, input, timeoutSeconds, workDir, inputAfter, ChildOutput::Read);
}

ProcessResult RunProcess(const std::vector<std::u16string>& argv, ChildOutput output, const std::string& input,
                         double timeoutSeconds) {
  return Run(argv, input, timeoutSeconds, u"", "", output);
}

// Without handles of its own to pass, a child made without a window gets a
// console of its own, hidden, for its standard handles.
int RunInConsole(const std::vector<std::u16string>& argv, double timeoutSeconds) {
  std::wstring line;
  for (const std::u16string& arg : argv) AppendArgument(line, Wide(arg));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const std::wstring application = Wide(argv.at(0));
  if (!CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &process))
    throw std::runtime_error("CreateProcessW failed: " + std::to_string(GetLastError()));
  CloseHandle(process.hThread);
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutSeconds * 1000)) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &code);
  } else {
    TerminateProcess(process.hProcess, code);
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

namespace {

// The name of the kind of object `handle` is ("File", "Event", ...), from
// ntdll, which MinGW's headers leave out; empty when it cannot be told.
std::wstring ObjectKind(HANDLE handle) {
  struct Name {
    USHORT length;
    USHORT capacity;
    wchar_t* text;
  };
  alignas(8) unsigned char buffer[512] = {};
  using Query = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  static const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll"), "NtQueryObject")));
  constexpr int kTypeInformation = 2;
  ULONG got = 0;
  if (!query || query(handle, kTypeInformation, buffer, sizeof buffer, &got) < 0) return L"";
  const auto* name = reinterpret_cast<const Name*>(buffer);
  return name->text ? std::wstring(name->text, name->length / sizeof(wchar_t)) : L"";
}

}  // namespace

// Files and sockets, the handles the runtime opens, are objects of the
// kind "File"; the system's libraries make and keep events, semaphores and
// threads of their own as they please. Counted one by one (Wine's
// GetProcessHandleCount says 0): handle values are multiples of 4 from 4
// on, given out low first, and a long run of unused values ends the table.
int OpenDescriptors() {
  int count = 0;
  for (ULONG_PTR value = 4, unused = 0; unused < 1024; value += 4) {
    auto handle = reinterpret_cast<HANDLE>(value);
    DWORD flags = 0;
    if (!GetHandleInformation(handle, &flags)) {
      ++unused;
      continue;
    }
    unused = 0;
    if (ObjectKind(handle) == L"File") ++count;
  }
  return count;
}

// Windows has no private networks: the tests share the machine's loopback.
// A lock the suite's processes share, held until the process ends, keeps
// two of them from contending for the fixed ports (80, 8080) at once.
std::string EnterPrivateNetwork() {
  static HANDLE lock = CreateMutexW(nullptr, FALSE, L"Local\\corvid-test-network");
  if (!lock) return "the test network's lock could not be made: error " + std::to_string(GetLastError());
  DWORD waited = WaitForSingleObject(lock, 5 * 60 * 1000);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
    return "another test process held the test network's lock for five minutes";
  return "";
}

void ResetOnClose(TSocket& peer) {
  linger abort{1, 0};
  setsockopt(static_cast<SOCKET>(peer.Socket()), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
             sizeof abort);
}

// Asked of the system itself, not of the code under test, so that a fault
// there fails the tests instead of skipping them.
std::string NeedResets() {
  static const std::string why = [] {
    ScriptedServer server(0, [](TSocket& peer) {
      peer.Send(reinterpret_cast<const std::uint8_t*>("x"), 1, 0);
      ResetOnClose(peer);
    });
    Ref<TSocket> client = TSocket::CreateTCP();
    if (!client || !client->Connect(kLoopback, server.Port())) return std::string("no loopback connection");
    server.Join();
    Sleep(100);
    char bytes[4];
    int got = 0;
    for (int reads = 0; reads < 4 && (got = recv(static_cast<SOCKET>(client->Socket()), bytes, sizeof bytes, 0)) > 0;)
      ++reads;
    client->Close();
    return std::string(got == SOCKET_ERROR ? ""
                                           : "a socket closed without lingering reaches its peer as an orderly end "
                                             "here (Wine), not as a reset");
  }();
  return why;
}

bool SocketHandleOpen(Int handle) {
  int type = 0;
  int length = sizeof type;
  return getsockopt(static_cast<SOCKET>(handle), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) == 0;
}

long PeakMemoryKilobytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return static_cast<long>(counters.PeakWorkingSetSize / 1024);
}

// The server end of the pipe; the thread waits for a reader, writes, and
// closes it, which ends the data for the reader once it has read it all.
struct FedPipe::Feeder {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  std::thread thread;
};

namespace {

bool AwaitClient(HANDLE pipe, OVERLAPPED& overlapped);

std::string UniquePipeName() {
  static int made = 0;
  return "\\\\.\\pipe\\corvid-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++made);
}

void FeedPipe(HANDLE pipe, const std::string& bytes) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  bool connected = AwaitClient(pipe, overlapped);
  for (std::size_t at = 0; connected && at < bytes.size();) {
    DWORD put = 0;
    ResetEvent(overlapped.hEvent);
    if (!WriteFile(pipe, bytes.data() + at, static_cast<DWORD>(bytes.size() - at), &put, &overlapped) &&
        (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(pipe, &overlapped, &put, TRUE)))
      break;
    at += put;
  }
  if (connected) FlushFileBuffers(pipe);
  CloseHandle(overlapped.hEvent);
  CloseHandle(pipe);
}

}  // namespace

FedPipe::FedPipe(const TempDir&, std::string bytes) {
  name_ = UniquePipeName();
  const std::wstring name(name_.begin(), name_.end());
  feeder_ = std::make_unique<Feeder>();
  feeder_->pipe = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
  if (feeder_->pipe == INVALID_HANDLE_VALUE) throw std::runtime_error("CreateNamedPipeW failed");
  feeder_->thread = std::thread(FeedPipe, feeder_->pipe, std::move(bytes));
}

FedPipe::~FedPipe() { feeder_->thread.join(); }

struct DrainedPipe::Drainer {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  std::string received;
  std::thread thread;
};

namespace {

// Waits for a client of the overlapped `pipe`, at most 15 seconds.
// A client that came and already went still left what it wrote.
bool AwaitClient(HANDLE pipe, OVERLAPPED& overlapped) {
  if (ConnectNamedPipe(pipe, &overlapped) || GetLastError() == ERROR_PIPE_CONNECTED ||
      GetLastError() == ERROR_NO_DATA)
    return true;
  if (GetLastError() != ERROR_IO_PENDING) return false;
  DWORD unused = 0;
  if (WaitForSingleObject(overlapped.hEvent, 15000) == WAIT_OBJECT_0 &&
      GetOverlappedResult(pipe, &overlapped, &unused, FALSE))
    return true;
  CancelIo(pipe);
  GetOverlappedResult(pipe, &overlapped, &unused, TRUE);
  return false;
}

void DrainPipe(HANDLE pipe, std::string& into) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  for (bool open = AwaitClient(pipe, overlapped); open;) {
    char buffer[4096];
    DWORD got = 0;
    ResetEvent(overlapped.hEvent);
    open = ReadFile(pipe, buffer, sizeof buffer, &got, &overlapped) ||
           (GetLastError() == ERROR_IO_PENDING && GetOverlappedResult(pipe, &overlapped, &got, TRUE));
    into.append(buffer, got);
  }
  CloseHandle(overlapped.hEvent);
  CloseHandle(pipe);
}

}  // namespace

DrainedPipe::DrainedPipe() : name_(UniquePipeName()), drainer_(std::make_unique<Drainer>()) {
  const std::wstring name(name_.begin(), name_.end());
  drainer_->pipe = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                    PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
  if (drainer_->pipe == INVALID_HANDLE_VALUE) throw std::runtime_error("CreateNamedPipeW failed");
  drainer_->thread = std::thread(DrainPipe, drainer_->pipe, std::ref(drainer_->received));
}

DrainedPipe::~DrainedPipe() {
  if (drainer_->thread.joinable()) drainer_->thread.join();
}

std::string DrainedPipe::Received() {
  if (drainer_->thread.joinable()) drainer_->thread.join();
  return drainer_->received;
}

namespace {

// The data of a junction: where it leads, as the system's own path, and
// an empty name to print.
struct MountPoint {
  DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  WORD dataLength = 0;
  WORD reserved = 0;
  WORD targetOffset = 0;
  WORD targetLength = 0;
  WORD printOffset = 0;
  WORD printLength = 0;
  wchar_t paths[MAX_PATH + 8] = {};
};

bool IsReparsePoint(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool Listed(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(path.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}

std::string Junction(const std::filesystem::path& target, const std::wstring& link) {
  const std::wstring full = L"\\??\\" + std::filesystem::absolute(target).wstring();
  if (full.size() > MAX_PATH) return "the junction's target is too long";
  if (!CreateDirectoryW(link.c_str(), nullptr)) return "no directory for the junction";
  HANDLE handle = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  MountPoint data;
  full.copy(data.paths, full.size());
  data.targetLength = static_cast<WORD>(full.size() * sizeof(wchar_t));
  data.printOffset = static_cast<WORD>(data.targetLength + sizeof(wchar_t));
  data.dataLength = static_cast<WORD>(4 * sizeof(WORD) + data.printOffset + sizeof(wchar_t));
  DWORD returned = 0;
  bool made = handle != INVALID_HANDLE_VALUE &&
              DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, &data, 8 + data.dataLength, nullptr, 0, &returned,
                              nullptr);
  DWORD error = GetLastError();
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  if (made && IsReparsePoint(link)) return "";
  RemoveDirectoryW(link.c_str());
  return "this system makes no junctions: FSCTL_SET_REPARSE_POINT failed with error " + std::to_string(error);
}

// Wine's name of a path in the Unix file system beneath it.
using UnixNameFunction = char* (*)(const wchar_t*);

std::string UnixSymbolicLink(const std::filesystem::path& target, const std::wstring& link, bool directory) {
  // Wine 8 shows such a link to a file as the file itself, no reparse point
  // in sight, and its DeleteFileW of the link removes the file it leads to.
  if (!directory) return "Wine shows a Unix symbolic link to a file as that file, and deletes the file through it";
  auto unixName = reinterpret_cast<UnixNameFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  if (!unixName) return "no Unix file system beneath: not running under Wine";
  auto spelled = [&](const std::wstring& path) {
    char* name = unixName(path.c_str());
    std::string text = name ? name : "";
    if (name) HeapFree(GetProcessHeap(), 0, name);
    return text;
  };
  std::string to = target.is_absolute() ? spelled(target.wstring()) : target.generic_string();
  std::string from = spelled(std::filesystem::absolute(link).wstring());
  if (to.empty() || from.empty()) return "the link's names have no Unix form";
  // Wine starts a Unix program that CreateProcess is given as it is.
  std::wstring line = L"/bin/ln -s -- " + std::wstring(to.begin(), to.end()) + L" " +
                      std::wstring(from.begin(), from.end());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return "/bin/ln could not be started: error " + std::to_string(GetLastError());
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  // The handle of a Unix process tells nothing of its end: watch for the link.
  for (int tries = 0; tries < 500; ++tries) {
    if (Listed(link)) return "";
    Sleep(10);
  }
  return "/bin/ln made no link";
}

}  // namespace

std::string MakeLink(LinkKind kind, const std::filesystem::path& target, const std::filesystem::path& link,
                     bool directory) {
  const std::wstring name = link.wstring();
  switch (kind) {
    case LinkKind::Symbolic: {
      DWORD flags = (directory ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | 0x2;  // also without privilege, where allowed
      bool made = CreateSymbolicLinkW(name.c_str(), target.wstring().c_str(), flags) != 0;
      DWORD error = GetLastError();
      if (made && Listed(name)) return "";
      return made ? "CreateSymbolicLinkW reports success yet makes no link here"
                  : "this process may make no symbolic links: CreateSymbolicLinkW failed with error " +
                        std::to_string(error);
    }
    case LinkKind::Junction:
      if (!directory) return "a junction leads to a directory only";
      return Junction(target, name);
    case LinkKind::UnixSymbolic:
      return UnixSymbolicLink(target, name, directory);
  }
  return "unknown kind of link";
}

}  // namespace corvid::testing
