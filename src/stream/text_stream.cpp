#include "stream/text_stream.h"

#include <vector>

#include "runtime/module.h"

namespace corvid {

Ref<TTextStream> TTextStream::Create(const Ref<TStream>& stream, Int encoding) {
  auto text = MakeRef<TTextStream>();
  text->_encoding = encoding;
  text->SetStream(stream);
  return text;
}

Int TTextStream::_ReadByte() { return TStreamWrapper::ReadByte(); }

Int TTextStream::_WriteByte(Int n) { return TStreamWrapper::WriteByte(n); }

Int TTextStream::_FlushRead() { return 0; }
Int TTextStream::_FlushWrite() { return 0; }

Int TTextStream::ReadChar() {
  switch (_encoding) {
    case LATIN1:
      return _ReadByte();
    case UTF8: {
      Int b0 = _ReadByte();
      if (b0 < 0x80) return b0;
      Int b1 = _ReadByte();
      if (b0 < 0xE0) return (((b0 - 0xC0) << 6) + (b1 - 0x80)) & 0xFFFF;
      Int b2 = _ReadByte();
      if (b0 < 0xF0) return (((b0 - 0xE0) << 12) + ((b1 - 0x80) << 6) + (b2 - 0x80)) & 0xFFFF;
      return 0;
    }
    case UTF16BE: {
      Int b0 = _ReadByte();
      Int b1 = _ReadByte();
      return b0 << 8 | b1;
    }
    case UTF16LE: {
      Int b0 = _ReadByte();
      Int b1 = _ReadByte();
      return b0 | b1 << 8;
    }
    default:
      _ReadByte();
      return 0;
  }
}

Int TTextStream::WriteChar(Int unit) {
  unsigned u = static_cast<unsigned>(unit) & 0xFFFF;
  switch (_encoding) {
    case LATIN1:
      _WriteByte(static_cast<Int>(u & 0xFF));
      break;
    case UTF8:
      if (u < 0x80) {
        _WriteByte(static_cast<Int>(u));
      } else if (u < 0x800) {
        _WriteByte(static_cast<Int>(0xC0 | u >> 6));
        _WriteByte(static_cast<Int>(0x80 | (u & 0x3F)));
      } else {
        _WriteByte(static_cast<Int>(0xE0 | u >> 12));
        _WriteByte(static_cast<Int>(0x80 | ((u >> 6) & 0x3F)));
        _WriteByte(static_cast<Int>(0x80 | (u & 0x3F)));
      }
      break;
    case UTF16BE:
      _WriteByte(static_cast<Int>(u >> 8));
      _WriteByte(static_cast<Int>(u & 0xFF));
      break;
    case UTF16LE:
      _WriteByte(static_cast<Int>(u & 0xFF));
      _WriteByte(static_cast<Int>(u >> 8));
      break;
    default:
      break;
  }
  return 0;
}

Ref<String> TTextStream::ReadLine() {
  _FlushRead();
  std::u16string line;
  line.reserve(1024);
  while (!Eof()) {
    Int c = ReadChar();
    if (c == 10 || c == 0) break;
    if (c != 13) line.push_back(static_cast<char16_t>(c));
  }
  return String::FromWideSpan(line.data(), static_cast<Int>(line.size()));
}

Int TTextStream::WriteString(const Ref<String>& text) {
  _FlushWrite();
  const String& s = corvid::Text(text);
  for (Int i = 0; i < s.Length(); ++i) WriteChar(s[i]);
  return 0;
}

Int TTextStream::WriteLine(const Ref<String>& text) {
  _FlushWrite();
  WriteString(text);
  WriteString("\r\n"_s);
  return 0;
}

void StartTextStreamModule() {
  static ModuleFlag flag;
  if (!flag.Begin()) return;
  StartStreamModule();
  ModuleStarted("text stream");
}

}  // namespace corvid
