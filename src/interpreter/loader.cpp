#include "interpreter/internal/loader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <utility>

#include "filesystem/open.h"
#include "stream/cstream.h"

#if defined(__GNUC__) && !defined(CORVID_PORTABLE) && defined(__x86_64__)
#include <immintrin.h>
#define CORVID_LOADER_AVX2 1
#endif

namespace corvid {

namespace {

// Whether each byte value is a command, as a count to add.
constexpr std::array<std::uint8_t, 256> MakeKeepTable() {
  std::array<std::uint8_t, 256> table{};
  for (unsigned b = 0; b < 256; ++b) table[b] = IsCommand(static_cast<char16_t>(b)) ? 1 : 0;
  return table;
}

constexpr std::array<std::uint8_t, 256> kKeep = MakeKeepTable();

// Every byte is copied and the count moves by whether it was a command, so
// that no branch depends on the text. (Bytes are only written where bytes
// were read.)
std::size_t KeepEachCommand(std::uint8_t* bytes, std::size_t from, std::size_t count, std::size_t kept) {
  for (std::size_t i = from; i < count; ++i) {
    std::uint8_t b = bytes[i];
    bytes[kept] = b;
    kept += kKeep[b];
  }
  return kept;
}

#if defined(__GNUC__) && !defined(CORVID_PORTABLE)
// Sixteen bytes at a time (a GNU vector type, which the compiler maps to
// the machine's vector instructions).
typedef std::uint8_t Bytes16 __attribute__((vector_size(16)));
typedef std::uint64_t Words2 __attribute__((vector_size(16)));

enum class Held { None, Some, All };

// Marks in `hit` the lanes of `v` that hold one of the command characters.
// (By reference: a vector passed or returned by value would change with the
// machine's vector registers, which a 32-bit build may lack.)
template <std::size_t... I>
void MarkCommands(const Bytes16& v, Bytes16& hit, std::index_sequence<I...>) {
  hit = ((v == static_cast<std::uint8_t>(kCommandSet[I])) | ...);
}

// Whether the sixteen bytes `v` hold commands.
Held HeldCommands(const Bytes16& v) {
  Bytes16 hit;
  MarkCommands(v, hit, std::make_index_sequence<sizeof kCommandSet - 1>());
  Words2 words = reinterpret_cast<Words2>(hit);
  if ((words[0] | words[1]) == 0) return Held::None;
  return (words[0] & words[1]) == ~std::uint64_t{0} ? Held::All : Held::Some;
}

#ifdef CORVID_LOADER_AVX2
// A byte is a command when the classes of its low and its high four bits
// meet: each high half that commands have is a class of its own, and the
// low halves list the classes in which they complete a command.
struct NibbleClasses {
  std::array<std::uint8_t, 32> low{}, high{};  // each table twice, once per 16-byte lane
};

constexpr NibbleClasses MakeNibbleClasses() {
  NibbleClasses t;
  std::array<int, 16> classOf{};
  int classes = 0;
  for (const char* c = kCommandSet; *c; ++c) {
    unsigned b = static_cast<unsigned char>(*c);
    if (!classOf[b >> 4]) classOf[b >> 4] = ++classes;
    std::uint8_t bit = static_cast<std::uint8_t>(1u << (classOf[b >> 4] - 1));
    t.high[b >> 4] = t.high[16 + (b >> 4)] = bit;
    t.low[b & 15] = t.low[16 + (b & 15)] = static_cast<std::uint8_t>(t.low[b & 15] | bit);
  }
  return t;
}

constexpr NibbleClasses kNibbleClasses = MakeNibbleClasses();

// Per set of the eight bytes of a group that are commands (a bit each),
// where each of them comes from, in order: a shuffle that gathers them at
// the group's front.
constexpr std::array<std::array<std::uint8_t, 8>, 256> MakeGatherings() {
  std::array<std::array<std::uint8_t, 8>, 256> table{};
  for (unsigned set = 0; set < 256; ++set) {
    unsigned n = 0;
    for (std::uint8_t k = 0; k < 8; ++k)
      if (set >> k & 1) table[set][n++] = k;
  }
  return table;
}

constexpr std::array<std::array<std::uint8_t, 8>, 256> kGatherings = MakeGatherings();

// Thirty-two bytes at a time where the machine has AVX2 (asked once, when
// the first file loads), two table lookups per byte half: commentary is
// passed over, code copied whole, a lone command or a lone byte of
// commentary (a "." in a sentence, a line's end in code) taken in one step,
// and where they mix otherwise the commands of each eight bytes are
// gathered by one shuffle.
__attribute__((target("avx2,popcnt"))) std::size_t KeepCommandsAvx2(std::uint8_t* bytes, std::size_t count) {
  const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kNibbleClasses.low.data()));
  const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kNibbleClasses.high.data()));
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  std::size_t kept = 0, i = 0;
  // The chunk, and room past it for a fixed-size copy to read.
  alignas(32) std::uint8_t lane[64] = {};
  std::uint8_t gathered[64];
  for (; i + 32 <= count; i += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i));
    const __m256i lowClass = _mm256_shuffle_epi8(low, _mm256_and_si256(v, nibble));
    const __m256i highClass = _mm256_shuffle_epi8(high, _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble));
    const __m256i none = _mm256_cmpeq_epi8(_mm256_and_si256(lowClass, highClass), _mm256_setzero_si256());
    std::uint32_t commands = ~static_cast<std::uint32_t>(_mm256_movemask_epi8(none));
    if (commands == 0) continue;
    // What is written lies at or before what was read.
    if (commands == 0xFFFFFFFFu) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(bytes + kept), v);
      kept += 32;
      continue;
    }
    if ((commands & (commands - 1)) == 0) {
      bytes[kept++] = bytes[i + static_cast<unsigned>(std::countr_zero(commands))];
      continue;
    }
    _mm256_store_si256(reinterpret_cast<__m256i*>(lane), v);
    // The commands after a lone byte of commentary are copied over it.
    const std::uint32_t holes = ~commands;
    if ((holes & (holes - 1)) == 0) {
      const auto hole = static_cast<unsigned>(std::countr_zero(holes));
      std::memcpy(gathered, lane, 32);
      std::memcpy(gathered + hole, lane + hole + 1, 32);
      std::memcpy(bytes + kept, gathered, 32);
      kept += 31;
      continue;
    }
    std::size_t found = 0;
    for (unsigned group = 0; group < 4; ++group) {
      const unsigned set = commands >> 8 * group & 0xFF;
      const __m128i eight = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(lane + 8 * group));
      const __m128i order = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kGatherings[set].data()));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(gathered + found), _mm_shuffle_epi8(eight, order));
      found += static_cast<std::size_t>(std::popcount(set));
    }
    // Of a fixed size too: what it writes past the commands lies within the
    // chunk just read, and the next ones write over it.
    std::memcpy(bytes + kept, gathered, 32);
    kept += found;
  }
  return KeepEachCommand(bytes, i, count, kept);
}
#endif

// Moves the command bytes of `bytes` to its front, in order; returns how
// many. Commentary, and code without commentary, go sixteen bytes at a
// time (thirty-two with AVX2); where they mix, byte by byte.
std::size_t KeepCommands(std::uint8_t* bytes, std::size_t count) {
#ifdef CORVID_LOADER_AVX2
  static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
  if (avx2) return KeepCommandsAvx2(bytes, count);
#endif
  std::size_t kept = 0, i = 0;
  for (; i + 16 <= count; i += 16) {
    // A copy, so that the stores below cannot be taken to change what is
    // still to be read.
    Bytes16 v;
    std::memcpy(&v, bytes + i, sizeof v);
    Held held = HeldCommands(v);
    if (held == Held::None) continue;
    if (held == Held::All) {
      std::memcpy(bytes + kept, &v, sizeof v);
      kept += 16;
      continue;
    }
    kept = KeepEachCommand(bytes, i, i + 16, kept);
  }
  return KeepEachCommand(bytes, i, count, kept);
}
#else
// Moves the command bytes of `bytes` to its front, in order; returns how
// many.
std::size_t KeepCommands(std::uint8_t* bytes, std::size_t count) { return KeepEachCommand(bytes, 0, count, 0); }
#endif

// Commands on their way to the sink: what it left of the last block, then
// the new ones.
class Feed {
 public:
  Feed(CommandSink& sink, std::size_t block) : sink_(sink), block_(block), held_(block + kCommandLookahead) {}

  /// Room for `block` more commands, after those held, once they were
  /// handed over.
  std::uint8_t* Room() { return held_.data() + count_; }
  /// `added` commands came into the room.
  void Added(std::size_t added) { count_ += added; }
  /// One command came into the room; a block of them goes to the sink.
  void AddedOne() {
    if (++count_ == left_ + block_) HandOver(false);
  }
  /// The sink takes what it can of the commands held.
  void HandOver(bool last) {
    std::size_t took = sink_.Take(held_.data(), count_, last);
    std::memmove(held_.data(), held_.data() + took, count_ - took);
    count_ -= took;
    left_ = count_;
  }

 private:
  CommandSink& sink_;
  const std::size_t block_;
  std::vector<std::uint8_t> held_;
  std::size_t count_ = 0;  // commands held
  std::size_t left_ = 0;   // of them, those the sink left
};

// Line by line, as the stream gives them: a line ends at a line feed or a
// zero unit, carriage returns are dropped, and the reading goes on while
// Eof says more follows. One line is always read, even from an empty stream.
void LoadLines(TStream& stream, Feed& feed) {
  do {
    Ref<String> line = stream.ReadLine();
    for (char16_t unit : line->View()) {
      if (IsCommand(unit)) {
        *feed.Room() = static_cast<std::uint8_t>(unit);
        feed.AddedOne();
      }
    }
  } while (!stream.Eof());
}

// A plain file holds its units as bytes, and what ends or is dropped from a
// line is no command, so reading it line by line until Eof keeps the
// command bytes of everything up to where the data stops: which is what
// reading it in blocks until a read gives nothing keeps too, without a
// string per line. The file may still change while it is read; either way
// the reading ends where the data stops.
void LoadBlocks(TCStream& file, Feed& feed, std::size_t block) {
  while (Int got = file.Read(feed.Room(), static_cast<Int>(block))) {
    feed.Added(KeepCommands(feed.Room(), static_cast<std::size_t>(got)));
    feed.HandOver(false);
  }
}

}  // namespace

bool LoadProgram(const Ref<String>& codeFile, CommandSink& sink, std::size_t block) {
  Ref<TStream> stream = OpenSeekableReader(codeFile);
  if (!stream) return false;
  block = std::max<std::size_t>(block, 1);
  Feed feed(sink, block);
  Ref<TCStream> file = CastTo<TCStream>(stream);
  if (file && file->Pos() >= 0) {
    if (Int size = file->Size(); size > file->Pos()) sink.Expect(static_cast<std::uint64_t>(size - file->Pos()));
    LoadBlocks(*file, feed, block);
  } else {
    LoadLines(*stream, feed);
  }
  CloseSeekable(stream);
  feed.HandOver(true);
  return true;
}

bool LoadProgram(const Ref<String>& codeFile, CodeStore& store) {
  store.commands.clear();
  return LoadProgram(codeFile, static_cast<CommandSink&>(store));
}

}  // namespace corvid
