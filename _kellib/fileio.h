// Buffered text files: TextReader hands out logical lines of a file read in large
// blocks; BufferedOutput collects text and writes it in large blocks. Beside them are
// the small text helpers the readers and writers apply to names.
#pragma once

#include "c4d.h"

// Block size of both classes unless a caller (a test, mostly) asks for another.
enum : LONG { TEXTFILE_BLOCKSIZE = 0x100000 };
// Every line TextReader hands out can be read this many bytes past its end: those in its
// block, and those it copies into a buffer of size + TEXTLINE_SLACK bytes. Readers that
// take eight characters at a time rely on it (digitrun.h).
enum : LONG { TEXTLINE_SLACK = 8 };

// Reads a text file block by block and returns one logical line per ReadLine call.
class TextReader {
 public:
  // bufferSize: bytes per block (values below 1 take TEXTFILE_BLOCKSIZE). The host file
  // object is allocated here; when that fails, Open returns FILEERROR_MEMORY.
  explicit TextReader(LONG bufferSize = TEXTFILE_BLOCKSIZE);
  ~TextReader();
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  // Opens name for reading. 0 on success, FILEERROR_MEMORY when the file object or the
  // block buffer is missing, else the host file's error code. An open file is closed first.
  LONG Open(const Filename& name);

  // Copies the next logical line into dst: at most size - 1 characters and a 0.
  // Returns the number of characters stored; 0 only at the end of the file (or when
  // size < 2, where nothing fits).
  //  - LF and CR both end a line; empty lines are skipped; leading blanks and tabs are
  //    dropped.
  //  - A line starting with "#" is literal: its backslashes are kept.
  //  - Otherwise the first backslash of a physical line outside double quotes is
  //    dropped; when it is the last character before the line end, the next physical
  //    line is joined on with one blank (none when the text is empty or already ends
  //    in a blank). Later backslashes on that physical line are kept.
  //  - A line longer than size - 1 is returned in pieces; LineWasCut() tells that more
  //    of the same line follows the piece just returned.
  // A failed host read ends the current line as the end of the file would; the next
  // call retries the same block.
  LONG ReadLine(CHAR* dst, LONG size);

  // The next logical line where it stands in the current block, when that needs no
  // work: a line of fewer than size - 1 characters whose end lies in the block and that
  // holds no backslash and no zero byte. Its line end is overwritten with a 0 and
  // *length gets its characters. Null when the line is not like that (or the block is
  // used up): nothing but leading blanks and empty lines has been consumed then, and
  // ReadLine returns the same line as it always would.
  const CHAR* ReadLineInPlace(LONG size, LONG* length);

  // Takes a line as ReadLineInPlace would hand it out (not zero-terminated: line[length]
  // is its line end): true when it is consumed, false to leave it for the next read.
  using LineTaker = Bool (*)(void* context, const CHAR* line, LONG length);
  // Offers take the lines ReadLineInPlace would return next, one after the other, while
  // it takes them, the file offset after each stays below `before` and the block holds
  // them. Returns how many it took. For runs of lines that are only counted, without the
  // calls and bookkeeping of reading each.
  LONG TakeLinesInPlace(LONG size, LLONG before, LineTaker take, void* context);

  // True when the last ReadLine filled dst without reaching the line's end: the next
  // call returns the rest of that line.
  Bool LineWasCut() const { return m_lineWasCut; }
  // Characters of the last line before its first zero byte: the length its text has as
  // a zero-terminated string.
  LONG TextLength() const { return m_textLength; }

  // The block size of the next Open (values below 1 take TEXTFILE_BLOCKSIZE). Ignored
  // while a file is open.
  void SetBlockSize(LONG bufferSize);

  // Starts reading from the beginning again.
  void Rewind();
  // The file offset of the next byte a read takes: after ReadLine or ReadLineInPlace
  // returned a line, where the text after that line starts.
  LLONG Offset() const { return m_consumed - m_blockLength + (m_pos < m_blockLength ? m_pos : m_blockLength); }
  // The file offset of the first character of the last line returned (after the line
  // ends and blanks skipped before it).
  LLONG LineStart() const { return m_lineStart; }
  // Goes on reading at offset (an Offset() of a reading of the same file): the lines
  // from there are those that reading found after that point.
  void SeekTo(LLONG offset);
  // Closes the file and frees the block buffer; the reader can be opened again.
  void Close();

  LLONG GetLength() const { return m_fileLength; }
  // True when every block of the file has been read: after ReadLine returned 0, the end
  // of the file was reached rather than a failed read.
  Bool ReadToEnd() const { return m_isOpen && m_consumed >= m_fileLength; }

 private:
  Bool Fill();

  UCHAR* m_pBuffer = nullptr;  // m_bufferSize bytes: the current block
  LONG m_pos = 0;              // next byte in m_pBuffer; m_bufferSize: refill first
  LLONG m_fileLength = 0;
  LLONG m_consumed = 0;        // file bytes of the blocks read so far
  LLONG m_blockLength = 0;     // valid bytes in m_pBuffer
  LLONG m_lineStart = 0;       // LineStart
  BaseFile* m_pFile = nullptr;
  LONG m_bufferSize = TEXTFILE_BLOCKSIZE;
  Bool m_isOpen = FALSE;
  Bool m_retrySeek = FALSE;    // a read fell short: seek back to m_consumed before the next one
  Bool m_lineWasCut = FALSE;
  LONG m_textLength = 0;
};

// Collects written text and hands it to the host file one full block at a time. Adds
// nothing of its own: callers write their own "\n".
//
// A failed host write is remembered: the first one prints "BufferedOutput: Write() failed",
// everything written afterwards is dropped, GetError() and Close() return the host code.
class BufferedOutput {
 public:
  // bufferSize: bytes collected before a write to the file (values below 1 take
  // TEXTFILE_BLOCKSIZE).
  explicit BufferedOutput(LONG bufferSize = TEXTFILE_BLOCKSIZE);
  ~BufferedOutput();
  BufferedOutput(const BufferedOutput&) = delete;
  BufferedOutput& operator=(const BufferedOutput&) = delete;

  // Forgets everything without releasing it; only for an object whose resources are
  // already gone (the constructor calls it).
  void Init();

  // Creates or replaces name. 0 on success; FILEERROR_MEMORY when the file object or a
  // buffer cannot be had; else the host's open error. Each failure prints one console line.
  LONG Open(const Filename& name);

  // Appends a zero-terminated 8-bit text (null is ignored).
  void Write(const CHAR* text);
  // Appends length bytes.
  void Write(const void* data, VLONG length);
  // indent tabs, then the string cut to 1024 characters.
  void WriteString(const String& text);
  // WriteString(text) when it is not empty, then one more tab of indent.
  void BeginBlock(const String& text);
  // One tab less of indent (not below 0), then WriteString(text) when it is not empty.
  void EndBlock(const String& text);

  // Hands the pending bytes to the file.
  void Flush();
  // Flushes and closes the file and frees the buffers. Returns 0 when every write
  // reached the file and the file is in its place, else the host's error code of the
  // first failure; a failed file leaves an existing one as it was and no new one.
  LONG Close();
  // Closes without saving: an existing file stays as it was, and the buffers are freed.
  void Discard();

  // The host's error code of the first failed write since Open; 0 when none failed.
  LONG GetError() const { return m_error; }
  Bool IsOpen() const { return m_isOpen != 0; }
  LONG GetIndent() const { return m_indent; }
  LONG GetPending() const { return m_length; }

 private:
  void WriteBlock();
  void FreeResources();

  CHAR* m_pLineBuffer = nullptr;  // 1026 bytes: WriteString's conversion
  UCHAR* m_pBuffer = nullptr;     // m_bufferSize + 2 bytes of pending output
  BaseFile* m_pFile = nullptr;
  LONG m_length = 0;
  LONG m_isOpen = 0;
  LONG m_indent = 0;
  LONG m_error = FILEERROR_NONE;
  LONG m_bufferSize = TEXTFILE_BLOCKSIZE;
};

// --- text utilities: in place on 8-bit zero-terminated text ----------------------------

// Overwrites trailing blanks, tabs, CR and LF with zeros and returns the first character
// that is not a blank or tab. Null and empty text come back unchanged.
CHAR* Trim(CHAR* text);
// Trim, then the part after the last "/", ":" or "\".
CHAR* FilePart(CHAR* text);
// The last part of a file or folder name (at most 512 characters are looked at), trimmed,
// with one trailing separator ignored; "" for an empty name.
String FileName(const Filename& name);
// 1 when a blank or tab remains inside the trimmed text, else 0.
LONG HasBlank(CHAR* text);
// Trim, then every blank and tab becomes "_".
CHAR* BlanksToUnderscores(CHAR* text);
// The same on the first 1024 characters of a host string.
String BlanksToUnderscores(const String& text);
// A name as the files carry it: the first 255 characters of the host string, trimmed,
// blanks and tabs turned into "_".
String SafeName(const String& name);

// A name as the writers put it into a statement, so that every OBJ reader reads back one
// name: SafeName, cut to at most 255 bytes on a character boundary (never inside a UTF-8
// sequence), and every character that would end the name or start a comment or a line
// continuation (control characters, "#", "\") turned into "_" as blanks are.
String ExportName(const String& name);
// The same on 8-bit text in place; returns text.
CHAR* ExportName(CHAR* text);
// A blank-separated list of names (a group that combines several): ExportName of each,
// joined by single blanks, so that readers see the same names in one statement.
String ExportNameList(const String& names);

// A name (an object's) as the name of a file or folder inside a chosen folder, the same
// on every system: path separators, characters file systems refuse (< > : " | ? *) and
// control characters become "_"; blanks and dots at the end go (Windows drops them);
// a name reserved on Windows (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without a
// suffix) gets a "_" in front; empty, "." and ".." become "_"; at most 200 bytes, cut on
// a character boundary. The result never names a path outside the folder.
String SafeFileName(const String& name);

// "%.08lf %.08lf %.08lf" of x, y and z.
String VectorToString(const Vector& v);
