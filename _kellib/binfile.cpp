#include "binfile.h"

#include <algorithm>
#include <cstring>

#include "fileio.h"

namespace {

const LONG kScratchSize = 1026;
const LONG kMaxStringField = 1024;
const LONG kMacType = 0x43344443;     // 'C4DC'
const LONG kMacCreator = 0x43344431;  // 'C4D1'

// Values the array reads take per ReadBytes and host swap call; the staging area stays on the stack.
const LONG kChunkElements = 2048;
const LONG kChunkVectors = kChunkElements / 3;

}  // namespace

gantryBinFile* gantryBinFile::Alloc() { return Alloc(BYTEORDER_MOTOROLA); }

gantryBinFile* gantryBinFile::Alloc(LONG order) {
  if (order != BYTEORDER_MOTOROLA && order != BYTEORDER_INTEL) return nullptr;
  gantryBinFile* file = gNew gantryBinFile;
  if (!file) return nullptr;
  file->m_machineOrder = GeGetByteOrder();
  file->m_pScratch = static_cast<CHAR*>(GeAlloc(kScratchSize));
  file->m_pHostFile = file->m_pScratch ? BaseFile::Alloc() : nullptr;
  if (!file->m_pScratch || !file->m_pHostFile) {
    gDelete(file);
    return nullptr;
  }
  file->m_fileOrder = order;
  return file;
}

void gantryBinFile::Free(gantryBinFile*& file) { gDelete(file); }

gantryBinFile::~gantryBinFile() { Release(); }

void gantryBinFile::Release() {
  if (m_pLog) {
    if (m_logOpen) m_pLog->Close();
    gDelete(m_pLog);
  }
  m_logOpen = 0;
  m_logEnabled = 0;
  if (m_isOpen) Close();
  BaseFile::Free(m_pHostFile);
  GeFree(m_pScratch);
  // A failed Open keeps its buffer until Close or release.
  GeFree(m_pBuffer);
}

LONG gantryBinFile::Open(const Filename& name, LONG mode, LONG bufferSize) {
  if ((mode != BINFILE_READ && mode != BINFILE_WRITE) || bufferSize < 1) return FILEERROR_INVALID;
  Close();
  m_mode = mode;
  m_bufferSize = bufferSize;
  m_bufferFill = 0;
  ResetCursor();
  if (!m_pHostFile || !m_pScratch) return FILEERROR_MEMORY;
  m_pBuffer = static_cast<UCHAR*>(GeAlloc(static_cast<VLONG>(bufferSize) + 4));
  if (!m_pBuffer) return FILEERROR_MEMORY;

  LONG hostMode = FILEOPEN_READ;
  if (mode == BINFILE_WRITE) hostMode = FILEOPEN_WRITE;
  // The host's byte order has no effect on raw bytes; this class converts on its own.
  if (!m_pHostFile->Open(name, hostMode, FILEDIALOG_IGNOREOPEN, BYTEORDER_INTEL, kMacType, kMacCreator)) {
    const LONG error = m_pHostFile->GetError();
    return error != FILEERROR_NONE ? error : FILEERROR_OPEN;
  }
  m_fileName = name;
  m_fileLength = m_pHostFile->GetLength();
  m_filePos = 0;
  m_isOpen = 1;
  return 0;
}

LONG gantryBinFile::Close() {
  LONG error = FILEERROR_NONE;
  if (m_pHostFile && m_isOpen) {
    if (m_mode == BINFILE_WRITE && m_cursor > 0 && !Flush() && m_pHostFile->GetError() == FILEERROR_NONE)
      m_pHostFile->SetError(FILEERROR_WRITE);
    error = m_pHostFile->GetError();
    const Bool closed = m_pHostFile->Close();
    if (error == FILEERROR_NONE && !closed) error = m_pHostFile->GetError() ? m_pHostFile->GetError() : FILEERROR_CLOSE;
  }
  const Bool writing = m_mode == BINFILE_WRITE;
  ReleaseOpenState();
  return writing ? error : FILEERROR_NONE;
}

void gantryBinFile::Discard() {
  if (m_pHostFile && m_isOpen) {
    if (m_mode == BINFILE_WRITE) m_pHostFile->SetError(FILEERROR_USERBREAK);
    m_pHostFile->Close();
  }
  ReleaseOpenState();
}

void gantryBinFile::ReleaseOpenState() {
  m_isOpen = 0;
  GeFree(m_pBuffer);
  m_bufferFill = 0;
  m_fileLength = 0;
  m_filePos = 0;
  ResetCursor();
}

Bool gantryBinFile::Flush() {
  Bool written = FALSE;
  if (m_isOpen && m_mode == BINFILE_WRITE && m_cursor > 0) {
    written = m_pHostFile->WriteBytes(m_pBuffer, m_cursor);
    if (written) m_filePos += m_cursor;
  }
  ResetCursor();
  return written;
}

LLONG gantryBinFile::GetLength() const { return m_fileLength; }

LLONG gantryBinFile::GetFilePos() const {
  if (!m_isOpen) return 0;
  if (m_mode == BINFILE_WRITE) return m_filePos + m_cursor;
  // A cursor at m_bufferSize only marks the buffer as used up.
  return m_filePos - m_bufferFill + std::min<LLONG>(m_cursor, m_bufferFill);
}

Bool gantryBinFile::SetFilePos(LLONG pos) {
  ResetCursor();
  if (!m_isOpen || pos < 0 || pos >= m_fileLength) return FALSE;
  if (!m_pHostFile->Seek(pos, FILESEEK_START)) return FALSE;
  m_filePos = pos;
  return TRUE;
}

void gantryBinFile::Rewind() {
  if (m_isOpen) m_pHostFile->Seek(0, FILESEEK_START);
  ResetCursor();
  m_filePos = 0;
}

LONG gantryBinFile::GetError() const { return m_isOpen ? m_pHostFile->GetError() : FILEERROR_NONE; }

void gantryBinFile::ReportError() const {
  if (!m_isOpen) return;
  const CHAR* text;
  switch (GetError()) {
    case FILEERROR_NONE: text = "File Error: FILEERROR_NONE"; break;
    case FILEERROR_OPEN: text = "File Error: FILEERROR_OPEN"; break;
    case FILEERROR_CLOSE: text = "File Error: FILEERROR_CLOSE"; break;
    case FILEERROR_READ: text = "File Error: FILEERROR_READ"; break;
    case FILEERROR_WRITE: text = "File Error: FILEERROR_WRITE"; break;
    case FILEERROR_SEEK: text = "File Error: FILEERROR_SEEK"; break;
    case FILEERROR_INVALID: text = "File Error: FILEERROR_INVALID"; break;
    case FILEERROR_MEMORY: text = "File Error: FILEERROR_MEMORY"; break;
    case FILEERROR_USERBREAK: text = "File Error: FILEERROR_USERBREAK"; break;
    case FILEERROR_WRONG_VALUE: text = "File Error: FILEERROR_WRONG_VALUE"; break;
    case FILEERROR_CHUNK_NUMBER: text = "File Error: FILEERROR_CHUNK_NUMBER"; break;
    case FILEERROR_VALUE_NO_CHUNK: text = "File Error: FILEERROR_VALUE_NO_CHUNK"; break;
    case FILEERROR_FILE_END: text = "File Error: FILEERROR_FILE_END"; break;
    case FILEERROR_UNKNOWN_VALUE: text = "File Error: FILEERROR_UNKNOWN_VALUE"; break;
    default: text = "File Error: Unknown"; break;
  }
  GePrint(String(text));
}

// --- reading -------------------------------------------------------------------

Bool gantryBinFile::LoadBuffer() {
  if (!m_isOpen || m_filePos >= m_fileLength) return FALSE;
  const LLONG n = std::min<LLONG>(m_fileLength - m_filePos, m_bufferSize);
  m_bufferFill = n;
  if (m_pHostFile->ReadBytes(m_pBuffer, static_cast<VLONG>(n)) < n) {
    m_cursor = m_bufferSize;
    const LONG error = m_pHostFile->GetError();
    if (error == FILEERROR_FILE_END || error == FILEERROR_READ || error == FILEERROR_MEMORY ||
        error == FILEERROR_USERBREAK)
      Close();
    return FALSE;
  }
  m_filePos += n;
  m_cursor = 0;
  return TRUE;
}

VLONG gantryBinFile::ReadBytes(void* dst, VLONG count) {
  if (!m_isOpen || !dst || count <= 0) return 0;
  UCHAR* out = static_cast<UCHAR*>(dst);
  VLONG copied = 0;
  while (copied < count) {
    if (m_cursor >= m_bufferFill && !LoadBuffer()) break;
    const VLONG run = std::min<VLONG>(static_cast<VLONG>(m_bufferFill - m_cursor), count - copied);
    std::memcpy(out + copied, m_pBuffer + m_cursor, static_cast<size_t>(run));
    m_cursor += static_cast<LONG>(run);
    copied += run;
  }
  return copied;
}

SWORD gantryBinFile::ReadWord() {
  SWORD value = 0;
  if (ReadBytes(&value, 2) != 2) return 0;
  if (SwapOrder()) wSwap(&value, 1);
  return value;
}

LONG gantryBinFile::ReadLong() {
  LONG value = 0;
  if (ReadBytes(&value, 4) != 4) return 0;
  if (SwapOrder()) lSwap(&value, 1);
  return value;
}

SReal gantryBinFile::ReadFloat() {
  SReal value = 0.0f;
  if (ReadBytes(&value, 4) != 4) return 0.0f;
  if (SwapOrder()) lSwap(&value, 1);
  return value;
}

Bool gantryBinFile::ReadWords(SWORD* dst, LONG n) {
  if (n <= 0 || !m_isOpen || !dst) return FALSE;
  if (ReadBytes(dst, static_cast<VLONG>(n) * 2) != static_cast<VLONG>(n) * 2) return FALSE;
  if (SwapOrder()) wSwap(dst, n);
  return TRUE;
}

Bool gantryBinFile::ReadLongs(LONG* dst, LONG n) {
  if (n <= 0 || !m_isOpen || !dst) return FALSE;
  if (ReadBytes(dst, static_cast<VLONG>(n) * 4) != static_cast<VLONG>(n) * 4) return FALSE;
  if (SwapOrder()) lSwap(dst, n);
  return TRUE;
}

Bool gantryBinFile::ReadFloats(SReal* dst, LONG n) {
  if (n <= 0 || !m_isOpen || !dst) return FALSE;
  if (ReadBytes(dst, static_cast<VLONG>(n) * 4) != static_cast<VLONG>(n) * 4) return FALSE;
  if (SwapOrder()) lSwap(dst, n);
  return TRUE;
}

Bool gantryBinFile::ReadReals(Real* dst, LONG n) {
  if (n <= 0 || !m_isOpen || !dst) return FALSE;
  SReal chunk[kChunkElements];
  LONG done = 0;
  while (done < n) {
    const LONG want = std::min(kChunkElements, n - done);
    const LONG whole = static_cast<LONG>(ReadBytes(chunk, static_cast<VLONG>(want) * 4) / 4);
    if (SwapOrder() && whole > 0) lSwap(chunk, whole);
    for (LONG i = 0; i < whole; ++i) dst[done + i] = chunk[i];
    done += whole;
    if (whole < want) {
      // The value cut short reads as 0.0; the rest go one at a time, exactly as they
      // would have without the chunking (they find the file closed or at its end).
      dst[done++] = 0.0;
      for (; done < n; ++done) dst[done] = ReadFloat();
    }
  }
  return TRUE;
}

Bool gantryBinFile::ReadVectors(Vector* dst, LONG n) {
  if (n <= 0 || !m_isOpen || !dst) return FALSE;
  SReal chunk[kChunkVectors * 3];
  LONG done = 0;
  while (done < n) {
    const LONG want = std::min(kChunkVectors, n - done);
    const LONG whole = static_cast<LONG>(ReadBytes(chunk, static_cast<VLONG>(want) * 12) / 12);
    if (SwapOrder() && whole > 0) lSwap(chunk, static_cast<VLONG>(whole) * 3);
    for (LONG i = 0; i < whole; ++i)
      dst[done + i] = Vector(chunk[3 * i], chunk[3 * i + 1], chunk[3 * i + 2]);
    done += whole;
    if (whole < want) return FALSE;
  }
  return TRUE;
}

String gantryBinFile::ReadString(LONG len) {
  if (!m_isOpen || len < 0 || len > kMaxStringField) return String();
  if (len > 0 && ReadBytes(m_pScratch, len) != len) return String();
  m_pScratch[len] = 0;
  return String(m_pScratch);
}

// --- writing -------------------------------------------------------------------

void gantryBinFile::ToFileOrder16(void* data, VLONG count) const {
  if (m_fileOrder == BYTEORDER_MOTOROLA)
    wMotorola(data, count);
  else
    wIntel(data, count);
}

void gantryBinFile::ToFileOrder32(void* data, VLONG count) const {
  if (m_fileOrder == BYTEORDER_MOTOROLA)
    lMotorola(data, count);
  else
    lIntel(data, count);
}

void gantryBinFile::ToFileOrder(void* data, VLONG count, LONG valueSize) const {
  if (valueSize == 2)
    ToFileOrder16(data, count);
  else
    ToFileOrder32(data, count);
}

Bool gantryBinFile::WriteBytes(const void* src, VLONG count) {
  if (!m_isOpen) return FALSE;
  if (count <= 0) return TRUE;
  if (!src) return FALSE;
  const UCHAR* in = static_cast<const UCHAR*>(src);
  VLONG taken = 0;
  while (taken < count) {
    // In read mode the cursor may already stand at m_bufferSize: one byte still fits
    // in the 4 spare bytes, and the flush that follows fails and closes the file.
    const VLONG run = std::min<VLONG>(std::max<VLONG>(m_bufferSize - m_cursor, 1), count - taken);
    std::memcpy(m_pBuffer + m_cursor, in + taken, static_cast<size_t>(run));
    m_cursor += static_cast<LONG>(run);
    taken += run;
    if (m_cursor >= m_bufferSize && !Flush()) {
      Close();
      return FALSE;
    }
  }
  return TRUE;
}

Bool gantryBinFile::WriteWord(const SWORD* value) {
  if (!m_isOpen || !value) return FALSE;
  SWORD v = *value;
  ToFileOrder16(&v, 1);
  return WriteBytes(&v, 2);
}

Bool gantryBinFile::WriteLong(const LONG* value) {
  if (!m_isOpen || !value) return FALSE;
  LONG v = *value;
  ToFileOrder32(&v, 1);
  return WriteBytes(&v, 4);
}

Bool gantryBinFile::WriteFloat(const SReal* value) {
  if (!m_isOpen || !value) return FALSE;
  SReal v = *value;
  ToFileOrder32(&v, 1);
  return WriteBytes(&v, 4);
}

Bool gantryBinFile::WriteReal(const Real* value) {
  if (!m_isOpen || !value) return FALSE;
  SReal v = static_cast<SReal>(*value);
  ToFileOrder32(&v, 1);
  return WriteBytes(&v, 4);
}

Bool gantryBinFile::WriteVector(const Vector* value) {
  if (!m_isOpen || !value) return FALSE;
  SReal v[3] = {static_cast<SReal>(value->x), static_cast<SReal>(value->y), static_cast<SReal>(value->z)};
  ToFileOrder32(v, 3);
  return WriteBytes(v, 12);
}

// The array forms convert their values straight into the buffer, one host call per run
// of whole elements; an element that would straddle the end of the buffer goes through
// WriteBytes on its own. The bytes, the flushes and the element whose write fails are
// the same as with one WriteBytes call per element.
template <class Fill>
Bool gantryBinFile::WriteElements(const void* src, LONG n, LONG elementSize, LONG valueSize, Fill fill) {
  if (!m_isOpen) return FALSE;
  if (n <= 0) return TRUE;
  if (!src) return FALSE;
  UCHAR staged[12];
  for (LONG done = 0; done < n;) {
    const LONG room = (m_bufferSize - m_cursor) / elementSize;
    if (room <= 0) {
      fill(staged, done, 1);
      ToFileOrder(staged, elementSize / valueSize, valueSize);
      if (!WriteBytes(staged, elementSize)) return FALSE;
      ++done;
      continue;
    }
    const LONG k = std::min(room, n - done);
    UCHAR* dst = m_pBuffer + m_cursor;
    fill(dst, done, k);
    const VLONG values = static_cast<VLONG>(k) * (elementSize / valueSize);
    ToFileOrder(dst, values, valueSize);
    m_cursor += k * elementSize;
    done += k;
    if (m_cursor >= m_bufferSize && !Flush()) {
      Close();
      return FALSE;
    }
  }
  return TRUE;
}

// Values already in memory as the file holds them, apart from the byte order.
Bool gantryBinFile::WriteCopies(const void* src, LONG n, LONG valueSize) {
  const UCHAR* in = static_cast<const UCHAR*>(src);
  return WriteElements(src, n, valueSize, valueSize, [in, valueSize](UCHAR* dst, LONG first, LONG k) {
    std::memcpy(dst, in + static_cast<size_t>(first) * valueSize, static_cast<size_t>(k) * valueSize);
  });
}

Bool gantryBinFile::WriteWords(const SWORD* src, LONG n) { return WriteCopies(src, n, 2); }

Bool gantryBinFile::WriteLongs(const LONG* src, LONG n) { return WriteCopies(src, n, 4); }

Bool gantryBinFile::WriteFloats(const SReal* src, LONG n) { return WriteCopies(src, n, 4); }

Bool gantryBinFile::WriteReals(const Real* src, LONG n) {
  return WriteElements(src, n, 4, 4, [src](UCHAR* dst, LONG first, LONG k) {
    for (LONG i = 0; i < k; ++i) {
      const SReal v = static_cast<SReal>(src[first + i]);
      std::memcpy(dst + 4 * i, &v, 4);
    }
  });
}

Bool gantryBinFile::WriteVectors(const Vector* src, LONG n) {
  return WriteElements(src, n, 12, 4, [src](UCHAR* dst, LONG first, LONG k) {
    for (LONG i = 0; i < k; ++i) {
      const Vector& p = src[first + i];
      const SReal v[3] = {static_cast<SReal>(p.x), static_cast<SReal>(p.y), static_cast<SReal>(p.z)};
      std::memcpy(dst + 12 * i, v, 12);
    }
  });
}

Bool gantryBinFile::WriteString(const String& s, LONG len) {
  if (s.GetCStringLen() == 0) return TRUE;
  const LONG n = std::min(len, kMaxStringField);
  if (n <= 0) return WriteBytes(m_pScratch, 0);
  // The field is written at full length; zero padding keeps the output deterministic.
  std::memset(m_pScratch, 0, kScratchSize);
  s.GetCString(m_pScratch, n);
  return WriteBytes(m_pScratch, n);
}

// --- side log ------------------------------------------------------------------

Bool gantryBinFile::OpenLog() {
  // Without a data file there is no place for the log.
  if (m_logOpen || !m_logEnabled || !m_fileName.Content()) return m_logOpen != 0;
  if (!m_pLog) {
    m_pLog = gNew BufferedOutput;
    if (!m_pLog) {
      GePrint(String("Failed to Alloc Log File! (]"));
      return FALSE;
    }
  }
  Filename logName = m_fileName;
  logName.SetSuffix(String("log"));
  GePrint(String("kx_import: opening log - ") + logName.GetString());
  if (m_pLog->Open(logName) == 0) m_logOpen = 1;
  return m_logOpen != 0;
}

void gantryBinFile::LogLine(const CHAR* text) {
  if (!m_logOpen || !text) return;
  m_pLog->Write(text);
  m_pLog->Write("\n");
}

void gantryBinFile::LogText(const CHAR* text) { LogLine(text); }

void gantryBinFile::LogString(const String& text) {
  if (!m_logOpen) return;
  text.GetCString(m_pScratch, kMaxStringField + 1);
  LogLine(m_pScratch);
}

void gantryBinFile::LogVector(const Vector& v) {
  if (!m_logOpen) return;
  LogString(VectorToString(v));
}
