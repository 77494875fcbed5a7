// kelvane --log FILE: every line of the run in one file, as the terminal shows it and
// also what it leaves out (the timing lines and the scripted user's trace without
// --verbose, the start-up banner). Standard output and standard error are still
// written as usual; the progress line is not logged. On Windows the two streams reach
// the log through pipes (host::platform::StartOutputCopy): each stream's lines keep
// their order, but a line of one stream may be logged before a line of the other that
// was written just before it, and standard output is written in blocks while the log
// runs.
#pragma once

#include <string>

class OutputLog {
 public:
  OutputLog() = default;
  OutputLog(const OutputLog&) = delete;
  OutputLog& operator=(const OutputLog&) = delete;
  ~OutputLog() { Stop(); }

  // Starts the log in path (replaced when it exists); false with the reason.
  bool Start(const std::string& path, std::string* error);
  // Flushes and closes the log; standard output and error are as before Start.
  void Stop();
};

// What the log takes of one stream: everything but the progress line, which is drawn
// and erased by writes that begin with a carriage return. Given whole writes such a
// write is left out. Given the stream in pieces of any size, the text from a carriage
// return up to the next one is left out, unless a newline comes first: then that return
// only took the cursor back before a line, and the line is kept. Pieces are logged in
// whole lines, so that lines of the other stream never come between their parts.
class LoggedText {
 public:
  explicit LoggedText(bool wholeWrites) : m_wholeWrites(wholeWrites) {}
  // The part of the next write or piece to log.
  std::string Take(const char* data, size_t size);
  // Pieces: the start of a line that no newline has ended yet.
  std::string Rest() const { return m_line; }

 private:
  bool m_wholeWrites;
  std::string m_line;          // pieces: the line so far
  bool m_afterReturn = false;  // pieces: within text that follows a carriage return
  std::string m_held;          // that text so far
};
