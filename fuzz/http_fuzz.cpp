// Fuzz target: HTTP response heads and the names that open HTTP streams.
// A response, cut into reads of a chosen size, goes through
// SkipResponseHead and through the "http" protocol opened by name (with
// the connection replaced by the response), and both are checked against
// the head rules and the request rules written out here on their own.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "check.h"
#include "filesystem/open.h"
#include "memstream/bank_stream.h"
#include "memstream/xendian.h"
#include "net/http.h"
#include "runtime/error.h"
#include "stream/text_stream.h"

namespace {

using namespace corvid;

// A directory of the target's own, removed when the process ends.
std::filesystem::path workDir;

// A server's side of a connection: the response, handed out in reads of
// at most `chunk` bytes, with a position or (like a socket) without one.
class Connection : public TStream {
 public:
  Connection(std::string response, Int chunk, bool positioned)
      : response_(std::move(response)), chunk_(chunk), positioned_(positioned) {}

  Int Eof() override { return closed_ || at_ >= response_.size() ? 1 : 0; }
  Int Pos() override { return positioned_ ? static_cast<Int>(at_) : -1; }
  Int Size() override { return positioned_ ? static_cast<Int>(response_.size()) : 0; }
  Int Seek(Int pos) override {
    if (!positioned_) return -1;
    at_ = std::clamp<std::size_t>(static_cast<std::size_t>(std::max(pos, 0)), 0, response_.size());
    return static_cast<Int>(at_);
  }
  Int Close() override {
    closed_ = true;
    return 0;
  }
  Int Read(std::uint8_t* buffer, Int count) override {
    if (closed_ || count <= 0) return 0;
    std::size_t n = std::min({static_cast<std::size_t>(count), static_cast<std::size_t>(chunk_),
                              response_.size() - at_});
    std::memcpy(buffer, response_.data() + at_, n);
    at_ += n;
    return static_cast<Int>(n);
  }
  Int Write(const std::uint8_t* buffer, Int count) override {
    if (closed_ || count <= 0) return 0;
    request_.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(count));
    return count;
  }

  std::string Rest() const { return closed_ ? "" : response_.substr(at_); }
  const std::string& Request() const { return request_; }

 private:
  std::string response_;
  std::size_t at_ = 0;
  Int chunk_;
  bool positioned_;
  bool closed_ = false;
  std::string request_;
};

// The "http" protocol with the connection that the input describes.
class ScriptedHttp : public THTTPStreamFactory {
 public:
  Ref<Connection> connection;
  int connects = 0;
  std::string host;
  Int port = 0;

 protected:
  Ref<TStream> Connect(const Ref<String>& to, Int toPort) override {
    ++connects;
    host = ToBytes(to);
    port = toPort;
    return connection;
  }
};

ScriptedHttp* http = nullptr;

// Whether a head line (carriage returns left out) spoils the body's
// length: a Content-Length field whose value is no decimal number between
// blanks, or one that differs from the value an earlier line gave.
bool SpoilsLength(const std::string& line, std::optional<long long>& length) {
  static const std::string name = "content-length:";
  if (line.size() < name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(line[i])) != name[i]) return false;
  std::size_t first = line.find_first_not_of(" \t", name.size());
  std::size_t last = line.find_last_not_of(" \t");
  if (first == std::string::npos) return true;
  long long value = 0;
  auto [end, error] = std::from_chars(line.data() + first, line.data() + last + 1, value);
  if (error != std::errc() || end != line.data() + last + 1 || line[first] == '-' || line[first] == '+')
    return true;
  if (length && *length != value) return true;
  length = value;
  return false;
}

// The head rules: lines end at LF or a zero byte, CR counts for nothing,
// the first empty line ends the head; no line over the line limit and no
// head over the head limit, and a length that can be trusted. The body's
// start, or nullopt when the head is out of bounds or never ends.
std::optional<std::size_t> BodyStart(const std::string& response) {
  std::size_t lineBytes = 0;
  std::string line;
  std::optional<long long> length;
  bool spoiled = false;
  for (std::size_t i = 0; i < response.size(); ++i) {
    if (i + 1 > static_cast<std::size_t>(THTTPStreamFactory::kHeadLimit)) return std::nullopt;
    char c = response[i];
    if (c == '\n' || c == 0) {
      if (line.empty()) return spoiled ? std::nullopt : std::optional<std::size_t>(i + 1);
      spoiled = SpoilsLength(line, length) || spoiled;
      lineBytes = 0;
      line.clear();
    } else {
      if (++lineBytes > static_cast<std::size_t>(THTTPStreamFactory::kHeadLineLimit)) return std::nullopt;
      if (c != '\r') line += c;
    }
  }
  return std::nullopt;
}

std::string BodyOf(const Ref<TStream>& stream) {
  std::string body;
  std::uint8_t buffer[4096];
  for (Int n; !stream->Eof() && (n = stream->Read(buffer, sizeof buffer)) > 0;)
    body.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
  return body;
}

bool FitsRequestLine(const std::string& bytes) {
  return bytes.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

struct Input {
  std::string name;
  std::string response;
  Int chunk;
  bool positioned;
};

Input Read(FuzzedDataProvider& data) {
  Input input;
  input.name = data.ConsumeRandomLengthString(128);
  input.chunk = data.ConsumeIntegralInRange<Int>(1, 4097);
  input.positioned = data.ConsumeBool();
  // Now and then a long run of one piece, so that the limits are reached.
  if (data.ConsumeIntegralInRange(0, 63) == 0) {
    std::string piece = data.ConsumeRandomLengthString(64);
    for (int times = data.ConsumeIntegralInRange(0, 20000); times > 0; --times) input.response += piece;
  }
  input.response += data.ConsumeRemainingBytesAsString();
  return input;
}

void CheckHead(const Input& input) {
  auto connection = MakeRef<Connection>(input.response, input.chunk, input.positioned);
  std::optional<std::size_t> start = BodyStart(input.response);
  bool skipped = SkipResponseHead(*connection, 0);
  Check(skipped == start.has_value(), "SkipResponseHead refuses exactly the heads past a limit");
  if (skipped) Check(connection->Rest() == input.response.substr(*start), "SkipResponseHead takes the head only");
}

// The whole road of an "http" name, with `open` (OpenUrl or
// OpenSeekableReader): the request, then the body or no stream.
template <class Open>
void CheckName(const Input& input, Open&& open) {
  http->connection = MakeRef<Connection>(input.response, input.chunk, input.positioned);
  http->connects = 0;
  Ref<String> name = FromBytes(input.name);
  Ref<TStream> stream;
  try {
    stream = open(name);
  } catch (const Raised&) {
    Check(false, "opening by name raises nothing");
  }
  Check(http->connects <= 1, "one connection per name");
  // The top protocol alone is worked out here; nested names only have to
  // open without harm.
  std::size_t separator = input.name.find("::");
  if (separator == std::string::npos) return;
  if (!Equals(FromBytes(input.name.substr(0, separator))->Lowercased(), "http"_s)) return;
  std::string path = input.name.substr(separator + 2);
  std::size_t slash = path.find('/');
  std::string host = path.substr(0, slash);
  std::string document = slash == std::string::npos ? "/" : path.substr(slash);
  if (!FitsRequestLine(host) || !FitsRequestLine(document)) {
    Check(http->connects == 0 && !stream, "a name that would change the request connects nowhere");
    return;
  }
  Check(http->connects == 1 && http->host == host && http->port == 80, "connects to the host, port 80");
  Check(http->connection->Request() == "GET " + document + " HTTP/1.0\r\nHost: " + host + "\r\n\r\n",
        "the request");
  std::optional<std::size_t> start = BodyStart(input.response);
  Check(static_cast<bool>(stream) == start.has_value(), "a stream exactly when the head was in bounds");
  if (stream) Check(BodyOf(stream) == input.response.substr(*start), "the body");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  StartBankStreamModule();
  StartRamStreamModule();
  StartXEndianModule();
  StartTextStreamModule();
  // The real network modules stay off: the scripted protocol is the only
  // "http", and no other name reaches a network.
  http = MakeRef<ScriptedHttp>().Get();
  // A name may still come down to a plain file: let it find nothing.
  auto empty = std::filesystem::temp_directory_path() / ("corvid-http-fuzz-" + std::to_string(getpid()));
  std::filesystem::create_directories(empty);
  workDir = empty;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(workDir, ignored);
  });
  std::filesystem::current_path(empty);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  Input input = Read(data);
  CheckHead(input);
  // Only names that reach the scripted protocol: a plain file at the
  // bottom of a name could be anything on this machine.
  std::string lower = ToBytes(FromBytes(input.name)->Lowercased());
  if (lower.find("http::") == std::string::npos) return 0;
  CheckName(input, [](const Ref<String>& name) { return OpenUrl(name, 1, 0); });
  CheckName(input, [](const Ref<String>& name) { return OpenSeekableReader(name); });
  return 0;
}
