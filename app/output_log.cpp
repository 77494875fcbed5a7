#include "output_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "host_control.h"
#include "platform.h"

std::string LoggedText::Take(const char* data, size_t size) {
  if (m_wholeWrites) return size > 0 && data[0] != '\r' ? std::string(data, size) : std::string();
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    const char c = data[i];
    if (c == '\r') {
      m_afterReturn = true;
      m_held.clear();
      continue;
    }
    std::string& text = m_afterReturn ? m_held : m_line;
    text += c;
    if (c != '\n') continue;
    if (m_afterReturn) m_line += m_held;
    out += m_line;
    m_line.clear();
    m_held.clear();
    m_afterReturn = false;
  }
  return out;
}

namespace {

// The copies come from the writing threads (or, on Windows, a thread per stream).
std::mutex g_mutex;
std::FILE* g_log = nullptr;
LoggedText g_logged[2] = {LoggedText(host::platform::kOutputCopyKeepsWrites),
                          LoggedText(host::platform::kOutputCopyKeepsWrites)};

void LogText(const std::string& text) {
  if (!g_log || text.empty()) return;
  std::fwrite(text.data(), 1, text.size(), g_log);
  std::fflush(g_log);
}

// A write to standard output (stream 1) or error (2).
void Copied(int stream, const char* data, size_t size) {
  std::lock_guard<std::mutex> lock(g_mutex);
  LogText(g_logged[stream == 2 ? 1 : 0].Take(data, size));
}

void Withheld(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_mutex);
  LogText(line + "\n");
}

}  // namespace

bool OutputLog::Start(const std::string& path, std::string* error) {
  Stop();
  std::FILE* log = std::fopen(path.c_str(), "wb");
  if (!log) {
    *error = "cannot write the log '" + path + "': " + std::strerror(errno);
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_log = log;
    for (LoggedText& logged : g_logged) logged = LoggedText(host::platform::kOutputCopyKeepsWrites);
  }
  if (!host::platform::StartOutputCopy(Copied)) {
    const int why = errno;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      g_log = nullptr;
    }
    std::fclose(log);
    *error = "cannot set up the log '" + path + "': " + std::strerror(why);
    return false;
  }
  host::SetWithheldLineSink(Withheld);
  return true;
}

void OutputLog::Stop() {
  if (!g_log) return;
  host::SetWithheldLineSink(nullptr);
  host::platform::StopOutputCopy();
  std::lock_guard<std::mutex> lock(g_mutex);
  for (const LoggedText& logged : g_logged) LogText(logged.Rest());
  std::fclose(g_log);
  g_log = nullptr;
}
