#include "net/http.h"

#include <cstdint>
#include <string>

#include "net/socket_stream.h"
#include "runtime/module.h"
#include "runtime/internal/platform.h"
#include "runtime/internal/platform_net.h"

namespace corvid {

namespace {

// Text that goes into the request as it is: a line break or a zero byte
// would end a line early and let the name write request lines of its own.
bool FitsRequestLine(const std::string& bytes) {
  return bytes.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

// Sends every byte, or as many as the peer takes.
void SendAll(TStream& stream, const std::string& bytes) {
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  Int left = static_cast<Int>(bytes.size());
  while (left > 0) {
    Int sent = stream.Write(data, left);
    if (sent <= 0) return;
    data += sent;
    left -= sent;
  }
}

// The Content-Length field of a head, taken from its lines byte by byte as
// they pass (carriage returns left out), so that no line needs keeping.
// The name is matched without regard to case; the value is decimal digits
// between optional blanks.
class LengthField {
 public:
  void Take(std::uint8_t byte) {
    static constexpr char kName[] = "content-length";
    const bool blank = byte == ' ' || byte == '\t';
    const bool digit = byte >= '0' && byte <= '9';
    switch (at_) {
      case At::kName:
        if (matched_ == sizeof kName - 1) {
          at_ = byte == ':' ? At::kValue : At::kOther;
        } else if ((byte >= 'A' && byte <= 'Z' ? byte + 32 : byte) == kName[matched_]) {
          ++matched_;
        } else {
          at_ = At::kOther;
        }
        break;
      case At::kValue:
        if (digit) {
          AddDigit(byte - '0');
        } else if (!blank) {
          at_ = At::kWrong;
        }
        break;
      case At::kDigits:
        if (digit) {
          AddDigit(byte - '0');
        } else {
          at_ = blank ? At::kBlanks : At::kWrong;
        }
        break;
      case At::kBlanks:
        if (!blank) at_ = At::kWrong;
        break;
      case At::kOther:
      case At::kWrong:
        break;
    }
  }
  void EndLine() {
    if (at_ == At::kDigits || at_ == At::kBlanks) {
      if (length_ >= 0 && length_ != value_) wrong_ = true;
      length_ = value_;
    } else if (at_ == At::kValue || at_ == At::kWrong) {
      wrong_ = true;
    }
    at_ = At::kName;
    matched_ = 0;
    value_ = 0;
  }
  /// The length the head gives, -1 when it gives none.
  Long Length() const { return length_; }
  /// True when a value is no number, or two values differ: the head then
  /// tells no length that can be trusted.
  bool Wrong() const { return wrong_; }

 private:
  // Where the current line stands: in the name, after the colon, in the
  // digits, in the blanks after them; in another field, or in a value that
  // is no number.
  enum class At { kName, kValue, kDigits, kBlanks, kOther, kWrong };

  void AddDigit(int digit) {
    // A count that would not fit tells no length: no body is that long.
    if (value_ > (INT64_MAX - digit) / 10) {
      at_ = At::kWrong;
      return;
    }
    value_ = value_ * 10 + digit;
    at_ = At::kDigits;
  }

  At at_ = At::kName;
  std::size_t matched_ = 0;
  Long value_ = 0;
  Long length_ = -1;
  bool wrong_ = false;
};

}  // namespace

// The head is looked at in chunks and only its own bytes are taken. A
// server may send anything, so the head is counted, never kept.
bool SkipResponseHead(TStream& stream, Int timeout, Long* bodyLength) {
  const std::uint64_t start = platform::MonotonicMillis();
  auto late = [&] {
    return timeout > 0 && platform::MonotonicMillis() - start >= static_cast<std::uint64_t>(timeout);
  };
  auto* socketStream = CastTo<TSocketStream>(&stream);
  Int headBytes = 0, lineBytes = 0;
  bool lineEmpty = true;
  LengthField length;
  std::uint8_t chunk[4096];
  while (!stream.Eof()) {
    Ref<TSocket> socket = socketStream ? socketStream->Socket() : nullptr;
    const Int at = stream.Pos();
    Int seen = socket ? socket->Recv(chunk, sizeof chunk, platform::kPeek)
               : at >= 0 ? stream.Read(chunk, sizeof chunk)
                         : stream.Read(chunk, 1);
    // Nothing came: the peer has gone, broken off or kept silent for the
    // whole time-out, before the head was over.
    if (seen <= 0) return false;
    Int take = 0;
    bool ended = false;
    while (take < seen && !ended) {
      std::uint8_t byte = chunk[take++];
      if (++headBytes > THTTPStreamFactory::kHeadLimit) return false;
      if (byte == '\n' || byte == 0) {
        ended = lineEmpty;
        length.EndLine();
        lineBytes = 0;
        lineEmpty = true;
      } else {
        if (++lineBytes > THTTPStreamFactory::kHeadLineLimit) return false;
        if (byte != '\r') {
          lineEmpty = false;
          length.Take(byte);
        }
      }
    }
    if (socket) {
      for (Int got = 0; got < take;) {
        Int n = stream.Read(chunk + got, take - got);
        if (n <= 0) return false;
        got += n;
      }
    } else if (at >= 0 && take < seen) {
      stream.Seek(at + take);
    }
    if (ended) {
      if (length.Wrong()) return false;
      if (bodyLength) *bodyLength = length.Length();
      return true;
    }
    if (late()) return false;
  }
  return false;
}

Ref<TStream> THTTPStreamFactory::CreateStream(const Ref<Object>&, const Ref<String>& proto,
                                              const Ref<String>& path, Int, Int) {
  if (Text(proto).View() != u"http") return nullptr;
  Ref<String> text = path ? path : String::Empty();
  Int slash = text->IndexOf("/"_s, 0);
  Ref<String> host = slash < 0 ? text : Slice(text, 0, slash);
  Ref<String> document = slash < 0 ? "/"_s : Slice(text, slash, text->Length());
  std::string hostBytes = ToBytes(host), documentBytes = ToBytes(document);
  if (!FitsRequestLine(hostBytes) || !FitsRequestLine(documentBytes)) return nullptr;

  Ref<TStream> stream = Connect(host, 80);
  if (!stream) return nullptr;
  SendAll(*stream, "GET " + documentBytes + " HTTP/1.0\r\nHost: " + hostBytes + "\r\n\r\n");
  Long length = -1;
  bool atBody = false;
  try {
    atBody = SkipResponseHead(*stream, ClientTimeout(), &length);
  } catch (const Raised& raised) {
    // A connection that breaks off in the head fails the open like one
    // that closes there: opening raises nothing.
    if (!raised.As<TStreamReadException>()) throw;
  }
  if (!atBody) {
    stream->Close();
    return nullptr;
  }
  if (auto socketStream = CastTo<TSocketStream>(stream)) socketStream->EndAfter(length);
  return stream;
}

Ref<TStream> THTTPStreamFactory::Connect(const Ref<String>& host, Int port) {
  return TSocketStream::CreateClient(host, port);
}

void StartHttpModule() {
  StartOnce<"HTTP stream">([] {
    StartSocketStreamModule();
    MakeRef<THTTPStreamFactory>();
  });
}

}  // namespace corvid
