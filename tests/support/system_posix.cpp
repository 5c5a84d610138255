// The POSIX forms of the test support's system calls: child processes
// through fork and exec, descriptors counted in /proc, FIFOs, symbolic
// links, a private network namespace.
#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "support/network.h"
#include "support/test_support.h"

namespace corvid::testing {

namespace {

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// A unit's low byte, as the POSIX half spells names.
std::string Bytes(const std::u16string& units) { return ToBytes(FromUnits(units)); }

}  // namespace

ProcessResult RunProcess(const std::vector<std::u16string>& wideArgv, const std::string& input,
                         double timeoutSeconds, const std::u16string& wideWorkDir, const std::string& inputAfter) {
  std::vector<std::string> argv;
  for (const std::u16string& arg : wideArgv) argv.push_back(Bytes(arg));
  const std::string workDir = Bytes(wideWorkDir);
  int in[2], out[2], err[2];
  if (pipe(in) || pipe(out) || pipe(err)) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  SetNonBlocking(in[1]);
  SetNonBlocking(out[0]);
  SetNonBlocking(err[0]);
  signal(SIGPIPE, SIG_IGN);

  ProcessResult result;
  std::size_t written = 0;
  int inFd = in[1];
  if (input.empty()) {
    close(inFd);
    inFd = -1;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd fds[3];
    int n = 0;
    int outAt = -1, errAt = -1, inAt = -1;
    if (outOpen) { fds[n] = {out[0], POLLIN, 0}; outAt = n++; }
    if (errOpen) { fds[n] = {err[0], POLLIN, 0}; errAt = n++; }
    if (inFd >= 0 && result.out.find(inputAfter) != std::string::npos) { fds[n] = {inFd, POLLOUT, 0}; inAt = n++; }
    if (poll(fds, static_cast<nfds_t>(n), static_cast<int>(left.count())) < 0 && errno != EINTR) break;
    char buffer[65536];
    auto drain = [&](int at, int fd, std::string& into, bool& open) {
      if (at < 0 || !(fds[at].revents & (POLLIN | POLLHUP | POLLERR))) return;
      ssize_t got = read(fd, buffer, sizeof buffer);
      if (got > 0) into.append(buffer, static_cast<std::size_t>(got));
      else if (got == 0 || errno != EAGAIN) open = false;
    };
    drain(outAt, out[0], result.out, outOpen);
    drain(errAt, err[0], result.err, errOpen);
    if (inAt >= 0 && (fds[inAt].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t put = write(inFd, input.data() + written, input.size() - written);
      if (put > 0) written += static_cast<std::size_t>(put);
      if (put < 0 && errno != EAGAIN) written = input.size();
      if (written == input.size()) {
        close(inFd);
        inFd = -1;
      }
    }
  }
  if (inFd >= 0) close(inFd);
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return result;
}

int OpenDescriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

std::string EnterPrivateNetwork() {
  if (unshare(CLONE_NEWNET) != 0)
    return std::string("needs a private network namespace; unshare(CLONE_NEWNET) failed: ") +
           std::strerror(errno);
  int control = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq request{};
  std::strcpy(request.ifr_name, "lo");
  bool up = control >= 0 && ioctl(control, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags |= IFF_UP;
  up = up && ioctl(control, SIOCSIFFLAGS, &request) == 0;
  if (control >= 0) close(control);
  if (!up) throw std::runtime_error("loopback of the private network did not come up");
  return "";
}

void ResetOnClose(TSocket& peer) {
  linger abort{1, 0};
  setsockopt(peer.Socket(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}

std::string NeedResets() { return ""; }

bool SocketHandleOpen(Int handle) { return fcntl(handle, F_GETFD) != -1; }

long PeakMemoryKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

namespace {

// Opens the FIFO for writing once a reader has opened it, without blocking
// if none ever does, and writes `bytes`.
void FeedFifo(const std::string& path, const std::string& bytes) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  int fd = -1;
  while ((fd = open(path.c_str(), O_WRONLY | O_NONBLOCK)) < 0) {
    if (errno != ENXIO || std::chrono::steady_clock::now() > deadline) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  ssize_t written = write(fd, bytes.data(), bytes.size());
  static_cast<void>(written);
  close(fd);
}

}  // namespace

struct FedPipe::Feeder {
  std::thread thread;
};

FedPipe::FedPipe(const TempDir& dir, std::string bytes) {
  static int made = 0;
  name_ = (dir.Path() / ("pipe" + std::to_string(++made) + ".fifo")).string();
  if (mkfifo(name_.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
  feeder_ = std::make_unique<Feeder>();
  feeder_->thread = std::thread(FeedFifo, name_, std::move(bytes));
}

FedPipe::~FedPipe() { feeder_->thread.join(); }

std::string MakeLink(LinkKind kind, const std::filesystem::path& target, const std::filesystem::path& link,
                     bool directory) {
  if (kind == LinkKind::Junction) return "junctions belong to Windows's file systems";
  std::error_code error;
  if (directory) {
    std::filesystem::create_directory_symlink(target, link, error);
  } else {
    std::filesystem::create_symlink(target, link, error);
  }
  return error ? "no symbolic link: " + error.message() : "";
}

}  // namespace corvid::testing
