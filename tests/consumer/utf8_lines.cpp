// Reads a UTF-8 file line by line through a "utf8::" stream name, as a
// program built against the installed libraries does.
#include <corvid/stream/text_stream.h>
#include <corvid/stream/url.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: utf8_lines FILE\n");
    return 2;
  }
  const std::string path = argv[1];
  // Two-byte and three-byte characters, CR LF and LF line ends, and a last
  // line without one.
  std::ofstream(path, std::ios::binary) << "caf\xC3\xA9\r\n\xE2\x82\xAC 5\nlast";
  const std::vector<std::u16string> expected = {u"caf\u00e9", u"\u20ac 5", u"last"};

  corvid::StartTextStreamModule();
  corvid::Ref<corvid::TStream> stream = corvid::OpenUrlReader(corvid::FromBytes("utf8::" + path));
  if (!stream) {
    std::fprintf(stderr, "utf8::%s did not open\n", path.c_str());
    return 1;
  }
  std::vector<std::u16string> lines;
  while (!stream->Eof()) lines.emplace_back(stream->ReadLine()->View());
  stream->Close();

  if (lines != expected) {
    std::fprintf(stderr, "read %zu lines, not the %zu written\n", lines.size(), expected.size());
    for (const auto& line : lines)
      std::fprintf(stderr, "  %s\n", corvid::TempUtf8Z(corvid::String::FromWideSpan(
                                         line.data(), static_cast<corvid::Int>(line.size()))));
    return 1;
  }
  std::printf("%zu lines read through utf8::\n", lines.size());
  return 0;
}
