#include "fileio.h"

#include <algorithm>

#include "namehash.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// The bytes ReadLine must look at one by one; everything else is copied in runs.
struct SpecialTable {
  bool special[256] = {};
  constexpr SpecialTable() {
    special[static_cast<UCHAR>('\n')] = true;
    special[static_cast<UCHAR>('\r')] = true;
    special[static_cast<UCHAR>('\\')] = true;
    special[static_cast<UCHAR>('"')] = true;
    special[0] = true;  // noted as the end of the text
  }
};
constexpr SpecialTable kSpecial;

// Copies bytes from src to dst up to the first special byte, at most n. Returns the
// number copied. The vector loop may store up to 15 bytes past the returned count, but
// never past dst + n.
inline VLONG CopyOrdinary(CHAR* dst, const UCHAR* src, VLONG n) {
  VLONG i = 0;
#ifdef __SSE2__
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i bs = _mm_set1_epi8('\\');
  const __m128i dq = _mm_set1_epi8('"');
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)),
                                     _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, bs), _mm_cmpeq_epi8(v, dq)),
                                                  _mm_cmpeq_epi8(v, zero)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), v);
    const int mask = _mm_movemask_epi8(hit);
    if (mask) return i + __builtin_ctz(static_cast<unsigned>(mask));
  }
#endif
  for (; i < n && !kSpecial.special[src[i]]; ++i) dst[i] = static_cast<CHAR>(src[i]);
  return i;
}

inline bool IsSeparator(CHAR c) { return c == '/' || c == ':' || c == '\\'; }

// The part of text after its last separator (text itself when it has none).
CHAR* AfterLastSeparator(CHAR* text) {
  CHAR* part = text;
  for (CHAR* p = text; *p; ++p)
    if (IsSeparator(*p)) part = p + 1;
  return part;
}

const CHAR kTabs[] = "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
constexpr LONG kLineBufferSize = 1026;
constexpr LONG kMaxLineText = 1024;

// The index of the first LF, CR, backslash or zero byte of text[0, n), or n: sixteen
// bytes at a time (with SSE2) while readable (>= n) bytes from text allow it, matches at n or
// beyond not counting.
VLONG FirstSpecialByte(const UCHAR* text, VLONG n, VLONG readable) {
  VLONG i = 0;
#ifdef __SSE2__
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i zero = _mm_setzero_si128();
  for (; i < n && i + 16 <= readable; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)),
                                     _mm_or_si128(_mm_cmpeq_epi8(v, backslash), _mm_cmpeq_epi8(v, zero)));
    if (const int mask = _mm_movemask_epi8(hit)) {
      const VLONG at = i + __builtin_ctz(static_cast<unsigned>(mask));
      return at < n ? at : n;
    }
  }
#else
  (void)readable;
#endif
  for (; i < n; ++i)
    if (text[i] == '\n' || text[i] == '\r' || text[i] == '\\' || text[i] == 0) return i;
  return n;
}

}  // namespace

// --- TextReader ------------------------------------------------------------------------

TextReader::TextReader(LONG bufferSize) : m_bufferSize(bufferSize > 0 ? bufferSize : TEXTFILE_BLOCKSIZE) {
  m_pos = m_bufferSize;
  m_pFile = BaseFile::Alloc();
}

TextReader::~TextReader() {
  Close();
  BaseFile::Free(m_pFile);
}

LONG TextReader::Open(const Filename& name) {
  if (m_isOpen) Close();
  m_consumed = m_blockLength = 0;
  m_pos = m_bufferSize;
  m_retrySeek = FALSE;
  if (!m_pFile) return FILEERROR_MEMORY;
  if (!m_pBuffer) m_pBuffer = static_cast<UCHAR*>(GeAlloc(static_cast<VLONG>(m_bufferSize) + TEXTLINE_SLACK));
  if (!m_pBuffer) return FILEERROR_MEMORY;
  if (!m_pFile->Open(name, FILEOPEN_READ, FILEDIALOG_NONE)) {
    const LONG error = m_pFile->GetError();
    return error != FILEERROR_NONE ? error : FILEERROR_OPEN;
  }
  const LLONG length = m_pFile->GetLength();
  m_fileLength = length > 0 ? length : 0;
  m_consumed = 0;
  m_isOpen = TRUE;
  return FILEERROR_NONE;
}

Bool TextReader::Fill() {
  if (!m_isOpen || !m_pBuffer || m_consumed >= m_fileLength) return FALSE;
  m_blockLength = m_fileLength - m_consumed;
  if (m_blockLength > m_bufferSize) m_blockLength = m_bufferSize;
  // A short read leaves the host position somewhere inside the block; start it again.
  Bool ok = !m_retrySeek || m_pFile->Seek(m_consumed, FILESEEK_START);
  if (ok) {
    m_retrySeek = FALSE;
    ok = m_pFile->ReadBytes(m_pBuffer, static_cast<VLONG>(m_blockLength)) == m_blockLength;
  }
  if (!ok) {
    m_retrySeek = TRUE;
    m_blockLength = 0;
    m_pos = m_bufferSize;
    return FALSE;
  }
  m_consumed += m_blockLength;
  m_pos = 0;
  return TRUE;
}

LONG TextReader::ReadLine(CHAR* dst, LONG size) {
  if (!dst || size < 1) return 0;
  const LONG limit = size - 1;
  LONG stored = 0;
  bool literal = false;  // backslashes are stored as they are
  bool join = false;     // a continuation backslash waits for the line end
  bool quoted = false;
  LONG textLength = -1;  // where the first zero byte was stored
  // The block cursor lives in locals: stores through dst may alias the members, which
  // would otherwise be reloaded after every byte.
  const UCHAR* buffer = m_pBuffer;
  VLONG pos = m_pos;
  VLONG end = static_cast<VLONG>(m_blockLength);
  // The next block into the locals; false at the end of the file.
  auto refill = [&]() {
    m_pos = static_cast<LONG>(pos);
    const Bool filled = Fill();
    buffer = m_pBuffer;
    pos = m_pos;
    end = static_cast<VLONG>(m_blockLength);
    return filled;
  };
  while (stored < limit) {
    if (pos >= end && !refill()) break;
    if (stored > 0) {
      // Past the first character only the special bytes change anything: copy the run
      // before the next one at once.
      VLONG room = end - pos;
      if (room > limit - stored) room = limit - stored;
      const VLONG n = CopyOrdinary(dst + stored, buffer + pos, room);
      if (n > 0) {
        stored += static_cast<LONG>(n);
        pos += n;
        join = false;
        if (n == room) continue;
      }
    }
    const UCHAR c = buffer[pos++];
    if (c == '\n' || c == '\r') {
      literal = false;
      if (join) {
        if (stored > 0 && dst[stored - 1] != ' ') dst[stored++] = ' ';
        continue;
      }
      if (stored == 0) continue;
      break;
    }
    if (c == '\\' && !literal && !quoted) {
      join = literal = true;
      continue;
    }
    if (stored == 0) {
      if (c == ' ' || c == '\t') continue;
      if (c == '#') literal = true;
      m_lineStart = m_consumed - end + pos - 1;
    }
    if (c == '"') quoted = !quoted;
    if (c == 0 && textLength < 0) textLength = stored;
    dst[stored++] = static_cast<CHAR>(c);
    join = false;
  }
  m_lineWasCut = FALSE;
  if (stored == limit && limit > 0) {
    // Full: the line goes on unless only blanks stand before its end (or the file's).
    // The blanks are consumed here; the next call would drop them anyway. A pending
    // continuation joins the next physical line, so that counts as going on.
    for (;;) {
      if (pos >= end && !refill()) break;
      const UCHAR c = buffer[pos];
      if (!join && (c == ' ' || c == '\t')) {
        ++pos;
        continue;
      }
      m_lineWasCut = join || (c != '\n' && c != '\r');
      break;
    }
  }
  m_pos = static_cast<LONG>(pos);
  m_textLength = textLength >= 0 ? textLength : stored;
  dst[stored] = 0;
  return stored;
}

const CHAR* TextReader::ReadLineInPlace(LONG size, LONG* length) {
  UCHAR* const buffer = m_pBuffer;
  VLONG pos = m_pos;
  const VLONG end = static_cast<VLONG>(m_blockLength);
  // What ReadLine drops before a line: line ends and leading blanks.
  while (pos < end && (buffer[pos] == '\n' || buffer[pos] == '\r' || buffer[pos] == ' ' || buffer[pos] == '\t')) ++pos;
  m_pos = static_cast<LONG>(pos);
  if (pos >= end || size < 2) return nullptr;
  const VLONG limit = size - 1;
  VLONG room = end - pos;
  if (room > limit) room = limit;
  UCHAR* const line = buffer + pos;
  m_lineStart = m_consumed - m_blockLength + pos;
  // One pass for the line end and the bytes that need ReadLine.
  const VLONG i = FirstSpecialByte(line, room, m_bufferSize - pos);
  if (i >= room || (line[i] != '\n' && line[i] != '\r')) return nullptr;
  line[i] = 0;
  m_pos = static_cast<LONG>(pos + i + 1);
  m_lineWasCut = FALSE;
  m_textLength = static_cast<LONG>(i);
  *length = static_cast<LONG>(i);
  return reinterpret_cast<const CHAR*>(line);
}

LONG TextReader::TakeLinesInPlace(LONG size, LLONG before, LineTaker take, void* context) {
  UCHAR* const buffer = m_pBuffer;
  const VLONG end = static_cast<VLONG>(m_blockLength);
  if (!buffer || size < 2) return 0;
  const LLONG blockStart = m_consumed - m_blockLength;  // the file offset of buffer[0]
  LONG taken = 0;
  for (VLONG pos = m_pos; pos < end;) {
    // As ReadLineInPlace: line ends and leading blanks first, then one pass for the line
    // end and the bytes that need ReadLine.
    VLONG start = pos;
    while (start < end &&
           (buffer[start] == '\n' || buffer[start] == '\r' || buffer[start] == ' ' || buffer[start] == '\t'))
      ++start;
    if (start >= end) break;
    const VLONG room = std::min<VLONG>(end - start, size - 1);
    const VLONG i = FirstSpecialByte(buffer + start, room, m_bufferSize - start);
    if (i >= room || (buffer[start + i] != '\n' && buffer[start + i] != '\r')) break;
    if (blockStart + start + i + 1 >= before) break;
    if (!take(context, reinterpret_cast<const CHAR*>(buffer + start), static_cast<LONG>(i))) break;
    pos = start + i + 1;
    m_pos = static_cast<LONG>(pos);
    ++taken;
  }
  return taken;
}

void TextReader::SetBlockSize(LONG bufferSize) {
  if (m_isOpen) return;
  GeFree(m_pBuffer);
  m_bufferSize = bufferSize > 0 ? bufferSize : TEXTFILE_BLOCKSIZE;
  m_pos = m_bufferSize;
}

void TextReader::Rewind() {
  m_lineWasCut = FALSE;
  if (m_isOpen) m_retrySeek = !m_pFile->Seek(0, FILESEEK_START);
  m_pos = m_bufferSize;
  m_blockLength = 0;
  m_consumed = 0;
}

void TextReader::SeekTo(LLONG offset) {
  m_lineWasCut = FALSE;
  m_consumed = offset < 0 ? 0 : offset > m_fileLength ? m_fileLength : offset;
  m_retrySeek = TRUE;  // the next Fill seeks to m_consumed
  m_pos = m_bufferSize;
  m_blockLength = 0;
}

void TextReader::Close() {
  if (m_isOpen && m_pFile) m_pFile->Close();
  m_isOpen = FALSE;
  GeFree(m_pBuffer);
  m_consumed = m_blockLength = m_fileLength = 0;
  m_pos = m_bufferSize;
  m_retrySeek = FALSE;
}

// --- BufferedOutput --------------------------------------------------------------------

BufferedOutput::BufferedOutput(LONG bufferSize) {
  Init();
  m_bufferSize = bufferSize > 0 ? bufferSize : TEXTFILE_BLOCKSIZE;
}

BufferedOutput::~BufferedOutput() { Close(); }

void BufferedOutput::Init() {
  m_pLineBuffer = nullptr;
  m_pBuffer = nullptr;
  m_pFile = nullptr;
  m_length = 0;
  m_isOpen = 0;
  m_indent = 0;
  m_error = FILEERROR_NONE;
}

void BufferedOutput::FreeResources() {
  BaseFile::Free(m_pFile);
  GeFree(m_pBuffer);
  GeFree(m_pLineBuffer);
}

LONG BufferedOutput::Open(const Filename& name) {
  Close();
  m_error = FILEERROR_NONE;
  m_indent = 0;
  m_pFile = BaseFile::Alloc();
  m_pBuffer = static_cast<UCHAR*>(GeAlloc(static_cast<VLONG>(m_bufferSize) + 2));
  m_pLineBuffer = static_cast<CHAR*>(GeAlloc(kLineBufferSize));
  m_length = 0;
  if (!m_pFile) {
    GePrint("BufferedOutput: no mbo_file");
    return FILEERROR_MEMORY;
  }
  if (!m_pBuffer || !m_pLineBuffer) {
    GePrint("BufferedOutput: no buffer");
    return FILEERROR_MEMORY;
  }
  if (!m_pFile->Open(name, FILEOPEN_WRITE, FILEDIALOG_NONE)) {
    GePrint("BufferedOutput: Open() failed");
    const LONG error = m_pFile->GetError();
    return error != FILEERROR_NONE ? error : FILEERROR_OPEN;
  }
  m_isOpen = 1;
  return FILEERROR_NONE;
}

void BufferedOutput::WriteBlock() {
  if (m_isOpen && m_error == FILEERROR_NONE && !m_pFile->WriteBytes(m_pBuffer, m_length)) {
    m_error = m_pFile->GetError();
    if (m_error == FILEERROR_NONE) m_error = FILEERROR_WRITE;
    GePrint("BufferedOutput: Write() failed");
  }
  m_length = 0;
}

void BufferedOutput::Write(const void* data, VLONG length) {
  if (!m_pBuffer || !m_pLineBuffer || !data || m_error != FILEERROR_NONE) return;
  const UCHAR* src = static_cast<const UCHAR*>(data);
  while (length > 0) {
    VLONG n = m_bufferSize - m_length;
    if (n > length) n = length;
    std::memcpy(m_pBuffer + m_length, src, static_cast<size_t>(n));
    m_length += static_cast<LONG>(n);
    src += n;
    length -= n;
    if (m_length >= m_bufferSize) WriteBlock();
  }
}

void BufferedOutput::Write(const CHAR* text) {
  if (text) Write(text, static_cast<VLONG>(std::strlen(text)));
}

void BufferedOutput::WriteString(const String& text) {
  if (!m_pBuffer || !m_pLineBuffer) return;
  for (LONG left = m_indent; left > 0;) {
    const LONG n = left < 16 ? left : 16;
    Write(kTabs, n);
    left -= n;
  }
  text.GetCString(m_pLineBuffer, kMaxLineText + 1);
  Write(m_pLineBuffer);
}

void BufferedOutput::BeginBlock(const String& text) {
  if (text.Content()) WriteString(text);
  ++m_indent;
}

void BufferedOutput::EndBlock(const String& text) {
  if (m_indent > 0) --m_indent;
  if (text.Content()) WriteString(text);
}

void BufferedOutput::Flush() {
  if (m_isOpen && m_length > 0) WriteBlock();
}

LONG BufferedOutput::Close() {
  if (m_isOpen) {
    Flush();
    // A file that missed a write is not saved.
    if (m_error != FILEERROR_NONE && m_pFile->GetError() == FILEERROR_NONE) m_pFile->SetError(m_error);
    if (!m_pFile->Close() && m_error == FILEERROR_NONE) {
      m_error = m_pFile->GetError();
      if (m_error == FILEERROR_NONE) m_error = FILEERROR_CLOSE;
    }
  }
  FreeResources();
  m_isOpen = 0;
  m_length = 0;
  return m_error;
}

void BufferedOutput::Discard() {
  if (m_isOpen) {
    m_pFile->SetError(FILEERROR_USERBREAK);
    m_pFile->Close();
  }
  FreeResources();
  m_isOpen = 0;
  m_length = 0;
}

// --- text utilities --------------------------------------------------------------------

CHAR* Trim(CHAR* text) {
  if (!text || !*text) return text;
  CHAR* end = text + std::strlen(text);
  while (end > text && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\r' || end[-1] == '\n')) *--end = 0;
  while (*text == ' ' || *text == '\t') ++text;
  return text;
}

CHAR* FilePart(CHAR* text) {
  text = Trim(text);
  return text ? AfterLastSeparator(text) : text;
}

String FileName(const Filename& name) {
  CHAR buffer[513];
  name.GetString().GetCString(buffer, sizeof(buffer));
  CHAR* text = Trim(buffer);
  const size_t length = std::strlen(text);
  if (length == 0) return String();
  if (IsSeparator(text[length - 1])) text[length - 1] = 0;
  return String(AfterLastSeparator(text));
}

LONG HasBlank(CHAR* text) {
  text = Trim(text);
  return (text && std::strpbrk(text, " \t")) ? 1 : 0;
}

CHAR* BlanksToUnderscores(CHAR* text) {
  text = Trim(text);
  if (!text) return text;
  for (CHAR* p = text; *p; ++p)
    if (*p == ' ' || *p == '\t') *p = '_';
  return text;
}

String BlanksToUnderscores(const String& text) {
  CHAR buffer[kMaxLineText + 1];
  text.GetCString(buffer, sizeof(buffer));
  return String(BlanksToUnderscores(buffer));
}

String SafeName(const String& name) {
  CHAR buffer[256];
  name.GetCString(buffer, sizeof(buffer));
  return String(BlanksToUnderscores(buffer));
}

CHAR* ExportName(CHAR* text) {
  CHAR* name = BlanksToUnderscores(text);
  LONG length = 0;
  for (CHAR* c = name; *c; ++c, ++length) {
    const UCHAR u = UCHAR(*c);
    if (u < 0x20 || u == 0x7F || u == '#' || u == '\\') *c = '_';
  }
  // A cut inside a multi-byte character drops the partial character.
  if (length > nameTable::MAX_NAME_LENGTH) {
    length = nameTable::MAX_NAME_LENGTH;
    if ((UCHAR(name[length]) & 0xC0) == 0x80)
      while (length > 0 && (UCHAR(name[length]) & 0xC0) == 0x80) --length;
    name[length] = 0;
  }
  return name;
}

String ExportName(const String& name) {
  // Room for a whole character beyond 255 bytes, so that the cut can tell where it ends.
  CHAR buffer[1100];
  name.GetCString(buffer, sizeof(buffer));
  return String(ExportName(buffer));
}

String ExportNameList(const String& names) {
  const std::string& text = names.Std();
  std::string out;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string piece = ExportName(String(text.substr(start, end - start))).Std();
    if (!piece.empty()) out += (out.empty() ? "" : " ") + piece;
    start = end + 1;
  }
  // The cut of the whole list, again on a character boundary.
  CHAR buffer[1100];
  String(out).GetCString(buffer, sizeof(buffer));
  LONG length = LONG(std::strlen(buffer));
  if (length > nameTable::MAX_NAME_LENGTH) {
    length = nameTable::MAX_NAME_LENGTH;
    while (length > 0 && (UCHAR(buffer[length]) & 0xC0) == 0x80) --length;
    buffer[length] = 0;
  }
  return String(buffer);
}

String SafeFileName(const String& name) {
  constexpr size_t kMaxBytes = 200;
  std::string out = name.Std();
  for (char& c : out) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || std::strchr("/\\<>:\"|?*", c)) c = '_';
  }
  if (out.size() > kMaxBytes) {
    size_t cut = kMaxBytes;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == '.')) out.pop_back();
  if (out.empty()) return String("_");
  // Windows reserves these device names whatever follows a dot.
  std::string stem = out.substr(0, out.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const char* const kReserved[] = {"CON", "PRN", "AUX", "NUL"};
  bool reserved = false;
  for (const char* r : kReserved) reserved = reserved || stem == r;
  if (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '1' &&
      stem[3] <= '9')
    reserved = true;
  if (reserved) out.insert(out.begin(), '_');
  return String(out);
}

String VectorToString(const Vector& v) {
  CHAR buffer[1100];
  std::snprintf(buffer, sizeof(buffer), "%.08lf %.08lf %.08lf", v.x, v.y, v.z);
  return String(buffer);
}
