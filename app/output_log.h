// kelvane --log FILE: every line of the run in one file, as the terminal shows it and
// also what it leaves out (the timing lines and the scripted user's trace without
// --verbose, the start-up banner). Standard output and standard error are still
// written as usual; the progress line is not logged.
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
