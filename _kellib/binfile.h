// gantryBinFile: buffered binary file with a byte order fixed at allocation. Integers,
// 32-bit floats and vectors of three floats are converted between that order and the
// machine's on every access; the host file is used only for raw bytes, seeking and
// error codes. Results, not messages: every call reports failure by its return value.
#pragma once

#include "c4d.h"

class BufferedOutput;

// Open modes.
enum : LONG {
  BINFILE_READ = 1,
  BINFILE_WRITE = 2,
};

// The buffer size the point-cache code opens its files with.
enum : LONG { BINFILE_BUFFERSIZE = 1048576 };

class gantryBinFile {
 public:
  // A new big-endian object, or null when memory is missing.
  static gantryBinFile* Alloc();
  // A new object storing data in order (BYTEORDER_MOTOROLA or BYTEORDER_INTEL); null
  // when memory is missing or the order is neither.
  static gantryBinFile* Alloc(LONG order);
  // Closes the log and the file, releases everything and nulls the pointer; null is accepted.
  static void Free(gantryBinFile*& file);

  // Opens name in mode BINFILE_READ or BINFILE_WRITE with an I/O buffer of bufferSize
  // bytes. Read mode opens the file read-only; write mode writes a new file that replaces
  // an existing one (even a read-only one) only when Close finds every byte written.
  // An object that is still open is closed first.
  // Returns 0, FILEERROR_MEMORY when a buffer is missing, FILEERROR_INVALID for a
  // mode other than the two or a bufferSize below 1, or the host's error of a failed open.
  LONG Open(const Filename& name, LONG mode, LONG bufferSize);
  // Writes pending bytes (write mode), closes the host file and frees the buffer.
  // Returns 0 when the file is complete in its place (write mode: every byte written,
  // the old file replaced), else the host's error code; a failed write leaves an existing
  // file as it was and no new one.
  LONG Close();
  // Write mode: closes without saving; an existing file stays as it was.
  void Discard();
  // Hands pending bytes to the host file (write mode); true when bytes were written.
  Bool Flush();

  Bool IsOpen() const { return m_isOpen != 0; }
  LONG GetByteOrder() const { return m_fileOrder; }
  // Length of the file when it was opened (0 in write mode and when closed).
  LLONG GetLength() const;
  // Offset of the next byte read (read mode) or written (write mode); 0 when closed.
  LLONG GetFilePos() const;
  // Read mode: the next read starts at pos. Fails for pos outside [0, length) and on a
  // closed file.
  Bool SetFilePos(LLONG pos);
  void Rewind();
  // The host's error code of the open file; 0 when no file is open.
  LONG GetError() const;
  // Console line "File Error: ..." for GetError(); nothing when no file is open.
  void ReportError() const;

  // Reading. A read that finds too few bytes fails (0 / 0.0 / false) and leaves what it
  // got in dst. A host read error or the end of the file during a buffer load closes
  // the file, so later reads fail at once.
  VLONG ReadBytes(void* dst, VLONG count);
  SWORD ReadWord();
  LONG ReadLong();
  SReal ReadFloat();
  Bool ReadWords(SWORD* dst, LONG n);
  Bool ReadLongs(LONG* dst, LONG n);
  Bool ReadFloats(SReal* dst, LONG n);
  // n floats widened to double; values past the end of the data read as 0.0 without
  // failing the call.
  Bool ReadReals(Real* dst, LONG n);
  // n vectors of three floats; fails when the last one is cut short.
  Bool ReadVectors(Vector* dst, LONG n);
  // A text field of len bytes (at most 1024); empty when the file is closed, len is out
  // of range or the field is cut short.
  String ReadString(LONG len);

  // Writing: 1 on success, 0 on failure. A buffer flush that fails (or an object opened
  // for reading whose buffer fills) closes the file, and every later write fails.
  Bool WriteBytes(const void* src, VLONG count);
  Bool WriteWord(const SWORD* value);
  Bool WriteLong(const LONG* value);
  Bool WriteFloat(const SReal* value);
  Bool WriteReal(const Real* value);  // narrowed to a float
  Bool WriteVector(const Vector* value);
  Bool WriteWords(const SWORD* src, LONG n);
  Bool WriteLongs(const LONG* src, LONG n);
  Bool WriteFloats(const SReal* src, LONG n);
  Bool WriteReals(const Real* src, LONG n);
  Bool WriteVectors(const Vector* src, LONG n);
  // A field of min(len, 1024) bytes holding at most len - 1 characters of s, a 0 and
  // zero padding. An empty s writes nothing and succeeds.
  Bool WriteString(const String& s, LONG len);

  // Side log: a text file beside the data file with the suffix "log". OpenLog is a no-op
  // once the log is open or after the object's resources were released; the writers
  // append one line each to an open log and do nothing otherwise.
  Bool OpenLog();
  void LogText(const CHAR* text);
  void LogString(const String& text);
  void LogVector(const Vector& v);

  ~gantryBinFile();

 private:
  friend struct gantryBinFileProbe;  // tests reach the host file to set its error code

  gantryBinFile() = default;
  gantryBinFile(const gantryBinFile&) = delete;
  void ReleaseOpenState();
  gantryBinFile& operator=(const gantryBinFile&) = delete;

  void Release();
  void ResetCursor() { m_cursor = (m_mode == BINFILE_WRITE) ? 0 : m_bufferSize; }
  Bool LoadBuffer();
  Bool SwapOrder() const { return m_fileOrder != m_machineOrder; }
  // Machine order to file order, in place.
  void ToFileOrder16(void* data, VLONG count) const;
  void ToFileOrder32(void* data, VLONG count) const;
  void ToFileOrder(void* data, VLONG count, LONG valueSize) const;
  void LogLine(const CHAR* text);
  // fill(dst, first, k) stores elements first .. first + k - 1 in machine order at dst.
  template <class Fill>
  Bool WriteElements(const void* src, LONG n, LONG elementSize, LONG valueSize, Fill fill);
  Bool WriteCopies(const void* src, LONG n, LONG valueSize);

  UCHAR* m_pBuffer = nullptr;  // m_bufferSize + 4 bytes
  CHAR* m_pScratch = nullptr;  // 1026 bytes of text
  Filename m_fileName;
  LONG m_isOpen = 0;
  LONG m_mode = BINFILE_READ;
  LONG m_machineOrder = 0;
  LONG m_fileOrder = 0;
  LLONG m_fileLength = 0;
  LLONG m_filePos = 0;  // read mode: offset past the last buffer load; write mode: bytes flushed
  LLONG m_bufferFill = 0;
  LONG m_bufferSize = 0;
  LONG m_cursor = 0;  // next byte in m_pBuffer; m_bufferSize in read mode forces a load
  BaseFile* m_pHostFile = nullptr;
  LONG m_logEnabled = 1;
  LONG m_logOpen = 0;
  BufferedOutput* m_pLog = nullptr;
};
