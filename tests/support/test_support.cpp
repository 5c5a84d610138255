#include "support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace corvid::testing {

TempDir::TempDir() {
  std::random_device random;
  auto base = std::filesystem::temp_directory_path();
  for (;;) {
    path_ = base / ("corvid-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::Write(const std::string& name, const std::string& bytes) const {
  auto path = path_ / name;
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return path;
}

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string Hex(const std::string& bytes, const std::string& separator) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char c : bytes) {
    if (!hex.empty()) hex += separator;
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

namespace {

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input,
                         double timeoutSeconds, const std::string& workDir, const std::string& inputAfter) {
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

std::string TapeBinary() { return CORVID_TAPE_BINARY; }
std::string HelperBinary() { return CORVID_HELPER_BINARY; }

ProcessResult RunHelper(const std::string& scenario) { return RunProcess({HelperBinary(), scenario}); }

std::string ScenarioTestName(std::string scenario) {
  std::replace(scenario.begin(), scenario.end(), '-', '_');
  return scenario;
}
std::filesystem::path SourceDir() { return CORVID_SOURCE_DIR; }

int OpenDescriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

}  // namespace corvid::testing
