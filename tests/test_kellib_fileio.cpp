// TextReader line rules across block boundaries, BufferedOutput bytes and failure paths,
// and the text utilities.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "fileio.h"
#include "host_fixture.h"

namespace {

using Lines = std::vector<std::string>;

// Block sizes every reader case is run with: one large block, then sizes small enough
// that lines, joins and CR LF pairs fall across block ends everywhere.
const LONG kBlockSizes[] = {TEXTFILE_BLOCKSIZE, 1, 2, 3, 4, 5, 6, 7, 16, 17};

class TextReaderTest : public HostTest {
 protected:
  // Every line ReadLine returns, until it returns 0.
  Lines ReadAll(const std::string& path, LONG blockSize, LONG lineSize) {
    Lines lines;
    TextReader reader(blockSize);
    EXPECT_EQ(reader.Open(Filename(path.c_str())), 0);
    std::vector<CHAR> dst(static_cast<size_t>(lineSize) + 16, '?');
    for (int guard = 0; guard < 1000000; ++guard) {
      const LONG n = reader.ReadLine(dst.data(), lineSize);
      if (n == 0) break;
      EXPECT_LE(n, lineSize - 1);
      EXPECT_EQ(dst[static_cast<size_t>(n)], 0);
      lines.emplace_back(dst.data(), static_cast<size_t>(n));
    }
    // Past the end it stays at the end.
    EXPECT_EQ(reader.ReadLine(dst.data(), lineSize), 0);
    EXPECT_EQ(dst[0], 0);
    return lines;
  }
};

// Each line of the byte model, and whether more of it follows (a cut line).
struct ModelLine {
  std::string text;
  bool cut;
  bool operator==(const ModelLine& o) const { return text == o.text && cut == o.cut; }
};

// Every line with LineWasCut() after it.
std::vector<ModelLine> ReadAllWithCuts(const std::string& path, LONG blockSize, LONG lineSize) {
  std::vector<ModelLine> lines;
  TextReader reader(blockSize);
  EXPECT_EQ(reader.Open(Filename(path.c_str())), 0);
  std::vector<CHAR> dst(static_cast<size_t>(lineSize));
  for (LONG n; (n = reader.ReadLine(dst.data(), lineSize)) > 0;)
    lines.push_back({std::string(dst.data(), static_cast<size_t>(n)), reader.LineWasCut() != 0});
  return lines;
}

TEST_F(TextReaderTest, CutLinesAreTold) {
  const std::string path = WriteFile("cut.txt", "abcd\nabc \t \r\nabcdef\nabcd\\\nx\nab\n");
  const std::vector<ModelLine> expected = {{"abcd", false}, {"abc ", false}, {"abcd", true}, {"ef", false},
                                           {"abcd", true},  {"x", false},   {"ab", false}};
  for (const LONG block : kBlockSizes) {
    SCOPED_TRACE(block);
    EXPECT_EQ(ReadAllWithCuts(path, block, 5), expected);
  }
}

TEST_F(TextReaderTest, TextLengthEndsAtTheFirstZeroByte) {
  const std::string path = WriteFile("zero.txt", std::string("ab\0cd\0e\n\0x\nplain\n", 17));
  for (const LONG block : kBlockSizes) {
    SCOPED_TRACE(block);
    TextReader reader(block);
    ASSERT_EQ(reader.Open(Filename(path.c_str())), 0);
    CHAR line[64];
    EXPECT_EQ(reader.ReadLine(line, 64), 7);
    EXPECT_EQ(reader.TextLength(), 2);
    EXPECT_EQ(reader.ReadLine(line, 64), 2);
    EXPECT_EQ(reader.TextLength(), 0);
    EXPECT_EQ(reader.ReadLine(line, 64), 5);
    EXPECT_EQ(reader.TextLength(), 5);
  }
}

struct ReadCase {
  const char* name;
  std::string input;
  LONG lineSize;
  Lines expected;
};

std::string Bytes(const char* text, size_t length) { return std::string(text, length); }

const ReadCase kReadCases[] = {
    {"last line without line end", "v 1 2 3\nf 1 2 3", 64, {"v 1 2 3", "f 1 2 3"}},
    {"blank and backslash join keeps both blanks", "ab \\\n cd\n", 64, {"ab  cd"}},
    {"join adds one blank", "ab\\\ncd\n", 64, {"ab cd"}},
    {"join keeps the next line's blanks", "ab\\\n  cd\n", 64, {"ab   cd"}},
    {"join runs over empty lines", "a \\\n\n\r\nb\n", 64, {"a b"}},
    {"chained joins", "a\\\nb\\\nc\n", 64, {"a b c"}},
    {"comment keeps its backslashes and is not joined", "# a\\b \\\nnext\n", 64, {"# a\\b \\", "next"}},
    {"comment after leading blanks", "  \t# r grp \\\nv\n", 64, {"# r grp \\", "v"}},
    {"comment keeps its inner blanks", "#  x\n", 64, {"#  x"}},
    {"CR LF and lone CR", "a\r\nb\rc\n\rd", 64, {"a", "b", "c", "d"}},
    {"empty and blank lines skipped", "\n\n  \t x y\n \t \n\r\n\n", 64, {"x y"}},
    {"only line ends", "\n\r\n\r\r\n", 64, {}},
    {"empty file", "", 64, {}},
    {"later backslashes are text", "a\\b\\c\n", 64, {"ab\\c"}},
    {"backslash before the end after a dropped one", "a\\b\\\nc\n", 64, {"ab\\", "c"}},
    {"leading backslash", "\\ x\n", 64, {"x"}},
    {"quotes protect a backslash", "s \"x\\\ny\n", 64, {"s \"x\\", "y"}},
    {"closed quotes let the backslash join", "s \"x\" \\\ny\n", 64, {"s \"x\" y"}},
    {"quoted carries over the joined line", "a \\\n\"b\\\nc\n", 64, {"a \"b\\", "c"}},
    {"quoted ends with the logical line", "a \"b\nc\\\nd\n", 64, {"a \"b", "c d"}},
    {"file ends inside a continuation", "abc \\", 64, {"abc "}},
    {"file ends after a continuation line end", "abc\\\n", 64, {"abc "}},
    {"lone continuation", "\\\n\\", 64, {}},
    {"long line in pieces", "abcdefgh\n", 4, {"abc", "def", "gh"}},
    {"piece remainder drops leading blanks", "abc  de\n", 4, {"abc", "de"}},
    {"line of exactly size - 1", "abc\nd\n", 4, {"abc", "d"}},
    {"join blank fills the line", "ab\\\ncd\n", 4, {"ab ", "cd"}},
    {"full line before a continuation", "abc\\\nd\n", 4, {"abc", "d"}},
    {"line size 2", "ab\n", 2, {"a", "b"}},
    {"NUL bytes are text", Bytes("a\0b\n\0\n", 6), 64, {Bytes("a\0b", 3), Bytes("\0", 1)}},
};

TEST_F(TextReaderTest, ReadLineCasesAtEveryBlockSize) {
  for (const auto& c : kReadCases) {
    const std::string path = WriteFile("case.txt", c.input);
    for (const LONG block : kBlockSizes) {
      SCOPED_TRACE(std::string(c.name) + ", block size " + std::to_string(block));
      EXPECT_EQ(ReadAll(path, block, c.lineSize), c.expected);
    }
  }
}

// The rules applied one byte at a time, as plainly as they can be written: the model the
// reader's run copying must agree with.
std::vector<ModelLine> ModelLinesWithCuts(const std::string& in, size_t lineSize) {
  std::vector<ModelLine> lines;
  size_t at = 0;
  for (;;) {
    std::string line;
    bool literal = false, join = false, quoted = false;
    while (line.size() < lineSize - 1 && at < in.size()) {
      const char c = in[at++];
      if (c == '\n' || c == '\r') {
        literal = false;
        if (join) {
          if (!line.empty() && line.back() != ' ') line += ' ';
          continue;
        }
        if (line.empty()) continue;
        break;
      }
      if (c == '\\' && !literal && !quoted) {
        join = literal = true;
        continue;
      }
      if (line.empty() && (c == ' ' || c == '\t')) continue;
      if (line.empty() && c == '#') literal = true;
      if (c == '"') quoted = !quoted;
      line += c;
      join = false;
    }
    if (line.empty()) return lines;
    bool cut = false;
    if (line.size() == lineSize - 1) {
      while (!join && at < in.size() && (in[at] == ' ' || in[at] == '\t')) ++at;
      cut = at < in.size() && (join || (in[at] != '\n' && in[at] != '\r'));
    }
    lines.push_back({line, cut});
  }
}

Lines ModelLines(const std::string& in, size_t lineSize) {
  Lines lines;
  for (const ModelLine& line : ModelLinesWithCuts(in, lineSize)) lines.push_back(line.text);
  return lines;
}

TEST_F(TextReaderTest, RandomTextAgreesWithTheByteModel) {
  // Mostly ordinary text so that runs of 16 and more occur, with every special byte mixed in.
  const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789abcdefghijkl  \t\t\\\"#\n\r";
  unsigned state = 12345;
  auto next = [&state]() {
    state = state * 1103515245u + 12345u;
    return state >> 16;
  };
  for (int round = 0; round < 6; ++round) {
    std::string text;
    const size_t length = 3000 + next() % 3000;
    while (text.size() < length) {
      const unsigned pick = next() % 100;
      if (pick < 80) {
        text += static_cast<char>('a' + next() % 26);
      } else {
        text += kAlphabet[next() % (sizeof(kAlphabet) - 1)];
      }
    }
    const LONG lineSizes[] = {2, 5, 19, 40, 2048};
    const std::string path = WriteFile("random.txt", text);
    for (const LONG lineSize : lineSizes) {
      const Lines expected = ModelLines(text, static_cast<size_t>(lineSize));
      for (const LONG block : {LONG{TEXTFILE_BLOCKSIZE}, 1, 3, 7, 31}) {
        SCOPED_TRACE("round " + std::to_string(round) + ", line size " + std::to_string(lineSize) + ", block " +
                     std::to_string(block));
        EXPECT_EQ(ReadAll(path, block, lineSize), expected);
        EXPECT_EQ(ReadAllWithCuts(path, block, lineSize), ModelLinesWithCuts(text, static_cast<size_t>(lineSize)));
      }
    }
  }
}

TEST_F(TextReaderTest, LongLinesComeInPiecesAcrossBlocks) {
  const std::string longLine(5000, 'x');
  const std::string path = WriteFile("long.txt", "v 1\n" + longLine + "\nv 2\n");
  const Lines expected = {"v 1", std::string(2047, 'x'), std::string(2047, 'x'), std::string(906, 'x'), "v 2"};
  for (const LONG block : {LONG{TEXTFILE_BLOCKSIZE}, 1000, 4096, 7}) {
    SCOPED_TRACE(block);
    EXPECT_EQ(ReadAll(path, block, 2048), expected);
  }
}

TEST_F(TextReaderTest, BinaryGarbageNeitherCrashesNorOverruns) {
  std::string bytes;
  unsigned state = 99;
  for (int i = 0; i < 100000; ++i) {
    state = state * 1664525u + 1013904223u;
    bytes += static_cast<char>(state >> 24);
  }
  const std::string path = WriteFile("garbage.bin", bytes);
  const Lines whole = ReadAll(path, TEXTFILE_BLOCKSIZE, 256);
  EXPECT_FALSE(whole.empty());
  for (const auto& line : whole) {
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    EXPECT_LE(line.size(), 255u);
  }
  EXPECT_EQ(ReadAll(path, 7, 256), whole);
  EXPECT_EQ(ModelLines(bytes, 256), whole);
}

TEST_F(TextReaderTest, RewindStartsAgain) {
  const std::string path = WriteFile("rewind.obj", "v 1\nv 2\nv 3\n");
  TextReader reader(3);
  ASSERT_EQ(reader.Open(Filename(path.c_str())), 0);
  EXPECT_EQ(reader.GetLength(), 12);
  CHAR line[64];
  ASSERT_EQ(reader.ReadLine(line, sizeof(line)), 3);
  ASSERT_EQ(reader.ReadLine(line, sizeof(line)), 3);
  EXPECT_STREQ(line, "v 2");
  reader.Rewind();
  Lines again;
  while (reader.ReadLine(line, sizeof(line)) > 0) again.emplace_back(line);
  EXPECT_EQ(again, (Lines{"v 1", "v 2", "v 3"}));
  reader.Close();
  EXPECT_EQ(reader.GetLength(), 0);
  EXPECT_EQ(reader.ReadLine(line, sizeof(line)), 0);
  // A closed reader opens again.
  ASSERT_EQ(reader.Open(Filename(path.c_str())), 0);
  EXPECT_EQ(reader.ReadLine(line, sizeof(line)), 3);
  EXPECT_STREQ(line, "v 1");
}

// A second reading started at an Offset() of the first (SeekTo) reads the lines the
// first read from there on, and LineStart() gives each line's first character, for lines
// read in place and copied, at every block size.
TEST_F(TextReaderTest, SeekToAnOffsetReadsOnAsTheWholeReading) {
  const std::string text =
      "v 1 2 3\n  \tf 1 2 3\r\n\r\ng a \\\n b\n# c\\\nusemtl m\r  v 4\n\n\n"
      "l 1 \\\r\n 2\nlong " + std::string(40, 'x') + "\nend";
  const std::string path = WriteFile("seek.txt", text);
  for (const LONG block : kBlockSizes) {
    SCOPED_TRACE(block);
    struct Line {
      std::string text;
      LLONG start, after;
    };
    std::vector<Line> lines;
    TextReader reader(block);
    ASSERT_EQ(reader.Open(Filename(path.c_str())), 0);
    CHAR buffer[32];
    for (;;) {
      LONG length = 0;
      std::string line;
      if (const CHAR* inPlace = reader.ReadLineInPlace(sizeof(buffer), &length)) {
        line.assign(inPlace, static_cast<size_t>(length));
      } else {
        length = reader.ReadLine(buffer, sizeof(buffer));
        if (length == 0) break;
        line.assign(buffer, static_cast<size_t>(length));
      }
      lines.push_back({line, reader.LineStart(), reader.Offset()});
    }
    ASSERT_EQ(lines.size(), 10u);
    for (const Line& line : lines) {
      // The first character is where LineStart says (joined and cut lines start alike).
      ASSERT_LT(line.start, static_cast<LLONG>(text.size()));
      EXPECT_EQ(text[static_cast<size_t>(line.start)], line.text[0]) << line.text;
    }
    for (size_t from = 0; from < lines.size(); ++from) {
      TextReader again(block);
      ASSERT_EQ(again.Open(Filename(path.c_str())), 0);
      again.SeekTo(lines[from].after);
      size_t k = from + 1;
      for (LONG n; (n = again.ReadLine(buffer, sizeof(buffer))) > 0; ++k) {
        ASSERT_LT(k, lines.size());
        EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)), lines[k].text);
        EXPECT_EQ(again.LineStart(), lines[k].start);
      }
      EXPECT_EQ(k, lines.size());
      EXPECT_TRUE(again.ReadToEnd());
    }
  }
}

// Lines taken the short way and the lines read between them come out as a plain reading
// gives them, at every block size: the taker sees only lines that need no work and none
// that ends at or after `before`, and a line it leaves is the next one read.
TEST_F(TextReaderTest, TakenLinesAndReadLinesAgreeWithAPlainReading) {
  const std::string text = "t 1\n  t 2\r\nv 3\n\n\tt 4\nt 5 \\\n 6\nt\\7\nt 8\r\rt 9" + std::string(50, 'x') +
                           "\nv 10\nt 11\nt 12";
  const std::string path = WriteFile("take.txt", text);
  struct Taken {
    std::vector<std::string>* lines;
    LONG count;
  };
  auto take = [](void* context, const CHAR* line, LONG length) -> Bool {
    auto* taken = static_cast<Taken*>(context);
    if (line[0] != 't') return FALSE;
    taken->lines->emplace_back(line, static_cast<size_t>(length));
    ++taken->count;
    return TRUE;
  };
  for (const LONG block : kBlockSizes) {
    for (const LLONG before : {std::numeric_limits<LLONG>::max(), LLONG{20}}) {
      SCOPED_TRACE(std::to_string(block) + ", before " + std::to_string(before));
      CHAR buffer[32];
      std::vector<std::string> plain, mixed;
      TextReader reader(block);
      ASSERT_EQ(reader.Open(Filename(path.c_str())), 0);
      for (LONG n; (n = reader.ReadLine(buffer, sizeof(buffer))) > 0;)
        plain.emplace_back(buffer, static_cast<size_t>(n));
      reader.Rewind();
      Taken taken{&mixed, 0};
      for (;;) {
        if (reader.TakeLinesInPlace(sizeof(buffer), before, take, &taken) > 0) {
          EXPECT_LT(reader.Offset(), before);
        }
        const LONG n = reader.ReadLine(buffer, sizeof(buffer));
        if (n == 0) break;
        mixed.emplace_back(buffer, static_cast<size_t>(n));
      }
      EXPECT_EQ(mixed, plain);
      if (block == TEXTFILE_BLOCKSIZE && before > 20) {
        EXPECT_EQ(taken.count, 4);  // "t 2", "t 4", "t 8", "t 11" ("t 1" comes before the first block is read)
      }
    }
  }
}

TEST_F(TextReaderTest, TinyDestinationsAreSafe) {
  const std::string path = WriteFile("tiny.txt", "abc\n");
  TextReader reader;
  ASSERT_EQ(reader.Open(Filename(path.c_str())), 0);
  CHAR dst[2] = {'x', 'x'};
  EXPECT_EQ(reader.ReadLine(dst, 1), 0);
  EXPECT_EQ(dst[0], 0);
  EXPECT_EQ(dst[1], 'x');
  EXPECT_EQ(reader.ReadLine(dst, 0), 0);
  EXPECT_EQ(reader.ReadLine(nullptr, 10), 0);
  // Nothing was consumed by the calls that could not store anything.
  CHAR line[8];
  EXPECT_EQ(reader.ReadLine(line, sizeof(line)), 3);
  EXPECT_STREQ(line, "abc");
}

TEST_F(TextReaderTest, OpenFailures) {
  CHAR line[16] = "unchanged";
  {
    TextReader reader;
    EXPECT_EQ(reader.Open(Filename((TempDir() + "/missing.obj").c_str())), FILEERROR_OPEN);
    EXPECT_EQ(reader.ReadLine(line, sizeof(line)), 0);
    EXPECT_EQ(line[0], 0);
  }
  {
    TextReader reader;
    EXPECT_EQ(reader.Open(Filename(TempDir().c_str())), FILEERROR_OPEN);  // a folder
  }
  const std::string path = WriteFile("a.obj", "v 1\n");
  {
    TextReader reader;
    host::FailNextOpen();
    EXPECT_EQ(reader.Open(Filename(path.c_str())), FILEERROR_OPEN);
    EXPECT_EQ(reader.Open(Filename(path.c_str())), 0);  // the failure was a single one
    EXPECT_EQ(reader.ReadLine(line, sizeof(line)), 3);
  }
  {
    host::FailAllocationAt(1);  // the host file object
    TextReader reader;
    EXPECT_EQ(reader.Open(Filename(path.c_str())), FILEERROR_MEMORY);
    EXPECT_EQ(reader.ReadLine(line, sizeof(line)), 0);
  }
  {
    TextReader reader;
    host::FailAllocationAt(1);  // the block buffer
    EXPECT_EQ(reader.Open(Filename(path.c_str())), FILEERROR_MEMORY);
    EXPECT_EQ(reader.ReadLine(line, sizeof(line)), 0);
    EXPECT_EQ(reader.Open(Filename(path.c_str())), 0);
    EXPECT_EQ(reader.ReadLine(line, sizeof(line)), 3);
  }
}

TEST_F(TextReaderTest, FailedReadRetriesTheSameBlock) {
  const std::string path = WriteFile("lines.obj", "line1\nline2\nline3\n");
  TextReader reader(4);
  ASSERT_EQ(reader.Open(Filename(path.c_str())), 0);
  // Two blocks arrive whole, the third only in part: the line being read ends there.
  host::FailReadsAfter(10);
  CHAR line[64];
  ASSERT_EQ(reader.ReadLine(line, sizeof(line)), 5);
  EXPECT_STREQ(line, "line1");
  ASSERT_EQ(reader.ReadLine(line, sizeof(line)), 2);
  EXPECT_STREQ(line, "li");
  EXPECT_EQ(reader.ReadLine(line, sizeof(line)), 0);  // still failing: looks like the end
  host::FailReadsAfter(-1);
  Lines rest;
  while (reader.ReadLine(line, sizeof(line)) > 0) rest.emplace_back(line);
  // The cut block is read again from its start, not from where the short read stopped.
  EXPECT_EQ(rest, (Lines{"ne2", "line3"}));
}

// --- BufferedOutput ----------------------------------------------------------------------

class BufferedOutputTest : public HostTest {
 protected:
  std::string Path(const char* name) { return TempDir() + "/" + name; }
  // What reached the disk so far: until Close puts it in place, an open file is written
  // to a hidden temporary file beside its target.
  std::string OnDisk(const std::string& target) {
    const std::filesystem::path t(target);
    const std::string prefix = "." + t.filename().string() + ".";
    for (const auto& e : std::filesystem::directory_iterator(t.parent_path()))
      if (e.path().filename().string().rfind(prefix, 0) == 0) return ReadFile(e.path().string());
    return ReadFile(target);
  }
  // The folder holds exactly these names.
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(TempDir())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(BufferedOutputTest, WritesExactBytes) {
  const std::string path = Path("out.obj");
  BufferedOutput out;
  ASSERT_EQ(out.Open(Filename(path.c_str())), 0);
  EXPECT_TRUE(out.IsOpen());
  out.Write("v 1 2 3\n");
  out.Write("");
  out.Write(static_cast<const CHAR*>(nullptr));
  out.Write("a\0b", 3);
  out.WriteString(String("f 1 2 3\r\n"));
  EXPECT_EQ(ReadFile(path), "");  // all of it still pending
  EXPECT_EQ(out.Close(), 0);
  EXPECT_FALSE(out.IsOpen());
  EXPECT_EQ(ReadFile(path), std::string("v 1 2 3\na\0b", 11) + "f 1 2 3\r\n");
}

TEST_F(BufferedOutputTest, FullBlocksGoOutAtOnce) {
  const std::string path = Path("blocks.txt");
  BufferedOutput out(16);
  ASSERT_EQ(out.Open(Filename(path.c_str())), 0);
  std::string expected;
  for (int i = 0; i < 40; ++i) {
    const std::string piece(static_cast<size_t>(i % 7), static_cast<char>('a' + i % 26));
    out.Write(piece.c_str());
    expected += piece;
    EXPECT_EQ(out.GetPending(), static_cast<LONG>(expected.size() % 16));
    EXPECT_EQ(OnDisk(path).size(), expected.size() / 16 * 16);
  }
  const std::string big(50, 'z');  // several blocks in one call
  out.Write(big.c_str());
  expected += big;
  EXPECT_EQ(OnDisk(path).size(), expected.size() / 16 * 16);
  out.Flush();
  EXPECT_EQ(out.GetPending(), 0);
  EXPECT_EQ(OnDisk(path), expected);
  EXPECT_FALSE(std::filesystem::exists(path));  // not in place before Close
  EXPECT_EQ(out.Close(), 0);
  EXPECT_EQ(ReadFile(path), expected);
}

TEST_F(BufferedOutputTest, ExactlyOneBlockIsWrittenAtOnce) {
  const std::string path = Path("mib.txt");
  BufferedOutput out;
  ASSERT_EQ(out.Open(Filename(path.c_str())), 0);
  const std::string block(0x100000, 'q');
  out.Write(block.c_str());
  EXPECT_EQ(out.GetPending(), 0);
  EXPECT_EQ(OnDisk(path).size(), 0x100000u);
  out.Write("x");
  EXPECT_EQ(out.GetPending(), 1);
  EXPECT_EQ(out.Close(), 0);
  EXPECT_EQ(ReadFile(path), block + "x");
}

TEST_F(BufferedOutputTest, IndentAndBlocks) {
  const std::string path = Path("indent.txt");
  BufferedOutput out;
  ASSERT_EQ(out.Open(Filename(path.c_str())), 0);
  out.BeginBlock(String("a {\n"));
  out.WriteString(String("x\n"));
  out.BeginBlock(String());
  EXPECT_EQ(out.GetIndent(), 2);
  out.WriteString(String("y\n"));
  out.Write("raw\n");  // Write adds no indent
  out.EndBlock(String());
  out.EndBlock(String("}\n"));
  out.EndBlock(String());  // not below 0
  EXPECT_EQ(out.GetIndent(), 0);
  out.WriteString(String("z\n"));
  for (int i = 0; i < 20; ++i) out.BeginBlock(String());
  out.WriteString(String("deep\n"));
  EXPECT_EQ(out.Close(), 0);
  EXPECT_EQ(ReadFile(path), "a {\n\tx\n\t\ty\nraw\n}\nz\n" + std::string(20, '\t') + "deep\n");
}

TEST_F(BufferedOutputTest, WriteStringCutsAt1024Characters) {
  const std::string path = Path("cut.txt");
  BufferedOutput out;
  ASSERT_EQ(out.Open(Filename(path.c_str())), 0);
  out.WriteString(String(std::string(2000, 'n')));
  EXPECT_EQ(out.Close(), 0);
  EXPECT_EQ(ReadFile(path), std::string(1024, 'n'));
}

TEST_F(BufferedOutputTest, OpenFailuresReportOnce) {
  const std::string path = Path("fail.txt");
  struct Case {
    LLONG failAt;
    const char* line;
  };
  const Case kCases[] = {
      {1, "BufferedOutput: no mbo_file"},
      {2, "BufferedOutput: no buffer"},
      {3, "BufferedOutput: no buffer"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.failAt);
    host::ClearConsole();
    BufferedOutput out;
    host::FailAllocationAt(c.failAt);
    EXPECT_EQ(out.Open(Filename(path.c_str())), FILEERROR_MEMORY);
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(host::ConsoleLines(), (std::vector<std::string>{c.line}));
    out.Write("ignored");
    out.WriteString(String("ignored"));
    EXPECT_EQ(out.Close(), 0);
  }
  host::ClearConsole();
  BufferedOutput out;
  EXPECT_EQ(out.Open(Filename((TempDir() + "/no/such/folder/x.obj").c_str())), FILEERROR_OPEN);
  // The host says why, then the output that it failed.
  ASSERT_EQ(host::ConsoleLines().size(), 2u);
  EXPECT_NE(host::ConsoleLines()[0].find("no/such/folder' (No such file or directory)"), std::string::npos);
  EXPECT_EQ(host::ConsoleLines()[1], "BufferedOutput: Open() failed");
  out.Write("dropped");  // goes nowhere, and does not fail
  host::FailNextOpen();
  EXPECT_EQ(out.Open(Filename(path.c_str())), FILEERROR_OPEN);
  EXPECT_EQ(out.Open(Filename(path.c_str())), 0);
  out.Write("ok");
  EXPECT_EQ(out.Close(), 0);
  EXPECT_EQ(ReadFile(path), "ok");
}

TEST_F(BufferedOutputTest, WithoutOpenNothingHappens) {
  BufferedOutput out;
  out.Write("text");
  out.WriteString(String("text"));
  out.BeginBlock(String("x"));
  out.Flush();
  EXPECT_EQ(out.GetPending(), 0);
  EXPECT_EQ(out.Close(), 0);
  EXPECT_TRUE(host::ConsoleLines().empty());
}

TEST_F(BufferedOutputTest, FullDiskIsReportedOnceAndReturnedByClose) {
  const std::string path = Path("full.txt");
  BufferedOutput out(16);
  ASSERT_EQ(out.Open(Filename(path.c_str())), 0);
  host::ClearConsole();
  host::FailWritesAfter(20);
  const std::string text = "0123456789abcdef0123456789ABCDEF";
  out.Write(text.c_str());  // the second block hits the limit
  EXPECT_EQ(out.GetError(), FILEERROR_WRITE);
  out.Write(text.c_str());
  out.WriteString(String("more"));
  EXPECT_EQ(host::ConsoleLines(), (std::vector<std::string>{"BufferedOutput: Write() failed"}));
  host::FailWritesAfter(-1);
  out.Write("late");  // still dropped: a hole in the middle is worse than a short file
  EXPECT_EQ(out.Close(), FILEERROR_WRITE);
  EXPECT_EQ(host::ConsoleLines().size(), 1u);
  EXPECT_TRUE(Names().empty());  // no short file looking complete, no temporary file
  // A new file starts clean.
  ASSERT_EQ(out.Open(Filename(path.c_str())), 0);
  EXPECT_EQ(out.GetError(), 0);
  out.Write("fine");
  EXPECT_EQ(out.Close(), 0);
  EXPECT_EQ(ReadFile(path), "fine");
}

TEST_F(BufferedOutputTest, FailureInTheLastFlushIsReturned) {
  const std::string path = Path("last.txt");
  BufferedOutput out;
  WriteFile("last.txt", "the old text");
  ASSERT_EQ(out.Open(Filename(path.c_str())), 0);
  out.Write("pending bytes");
  host::FailWritesAfter(3);
  EXPECT_EQ(out.Close(), FILEERROR_WRITE);
  EXPECT_TRUE(ConsoleHas("BufferedOutput: Write() failed"));
  EXPECT_EQ(ReadFile(path), "the old text");  // the file it would have replaced, untouched
  EXPECT_EQ(Names(), std::vector<std::string>{"last.txt"});
}

TEST_F(BufferedOutputTest, DiscardKeepsTheOldFileAndLeavesNothingElse) {
  const std::string path = WriteFile("kept.txt", "old");
  BufferedOutput out(4);
  ASSERT_EQ(out.Open(Filename(path.c_str())), 0);
  out.Write("new text, several blocks of it");
  out.Discard();
  EXPECT_FALSE(out.IsOpen());
  EXPECT_EQ(ReadFile(path), "old");
  EXPECT_EQ(Names(), std::vector<std::string>{"kept.txt"});
  EXPECT_EQ(out.Close(), 0);  // nothing left to close
}

// --- text utilities ----------------------------------------------------------------------

struct TextCase {
  const char* in;
  const char* out;
};

TEST(TextUtilities, Trim) {
  const TextCase kCases[] = {
      {" \t name \r\n", "name"}, {"", ""}, {"   ", ""}, {"\r\n", ""}, {"a b", "a b"}, {"\ta\t", "a"}, {"x\n\n ", "x"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.in);
    CHAR buffer[64];
    std::strcpy(buffer, c.in);
    EXPECT_STREQ(Trim(buffer), c.out);
  }
  CHAR buffer[] = "ab \t";
  EXPECT_EQ(Trim(buffer), buffer);
  EXPECT_EQ(buffer[2], 0);  // trailing blanks are overwritten, not just skipped
  EXPECT_EQ(buffer[3], 0);
  EXPECT_EQ(Trim(nullptr), nullptr);
}

TEST(TextUtilities, FilePart) {
  const TextCase kCases[] = {
      {" C:\\dir\\file.obj ", "file.obj"}, {"a/b:c", "c"}, {"name", "name"}, {"dir/", ""}, {"", ""}, {" /x/ y ", " y"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.in);
    CHAR buffer[64];
    std::strcpy(buffer, c.in);
    EXPECT_STREQ(FilePart(buffer), c.out);
  }
}

TEST(TextUtilities, FileName) {
  const TextCase kCases[] = {
      {"C:\\models\\chairs\\", "chairs"}, {"/x/y/z.obj", "z.obj"}, {"", ""},       {"  /x/y/ \n", "y"},
      {"/", ""},                          {"a//", ""},             {"Mac:Disk:f", "f"}, {"plain", "plain"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(FileName(Filename(c.in)).Std(), c.out);
  }
  // Only the first 512 characters are looked at.
  const std::string longName = "/" + std::string(600, 'x');
  EXPECT_EQ(FileName(Filename(longName.c_str())).Std(), std::string(511, 'x'));
}

TEST(TextUtilities, HasBlank) {
  const struct {
    const char* in;
    LONG blank;
  } kCases[] = {{"  ab \t", 0}, {"a b", 1}, {"a\tb", 1}, {"", 0}, {" \t ", 0}, {"ab\r\n", 0}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.in);
    CHAR buffer[64];
    std::strcpy(buffer, c.in);
    EXPECT_EQ(HasBlank(buffer), c.blank);
  }
  EXPECT_EQ(HasBlank(nullptr), 0);
}

TEST(TextUtilities, BlanksToUnderscores) {
  const TextCase kCases[] = {{" my obj\tname \n", "my_obj_name"}, {"a  b", "a__b"}, {"", ""}, {"none", "none"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.in);
    CHAR buffer[64];
    std::strcpy(buffer, c.in);
    EXPECT_STREQ(BlanksToUnderscores(buffer), c.out);
    EXPECT_EQ(BlanksToUnderscores(String(c.in)).Std(), c.out);
  }
  EXPECT_EQ(BlanksToUnderscores(static_cast<CHAR*>(nullptr)), nullptr);
  // Only the first 1024 characters are converted.
  std::string longName, expected;
  for (int i = 0; i < 500; ++i) longName += "x y";
  for (int i = 0; i < 341; ++i) expected += "x_y";
  EXPECT_EQ(BlanksToUnderscores(String(longName)).Std(), expected + "x");
}

TEST(TextUtilities, VectorToString) {
  EXPECT_EQ(VectorToString(Vector(1, -2.5, 1e-9)).Std(), "1.00000000 -2.50000000 0.00000000");
  EXPECT_EQ(VectorToString(Vector(123456.123456789, 0.000000016, -0.0)).Std(),
            "123456.12345679 0.00000002 -0.00000000");
}

}  // namespace
