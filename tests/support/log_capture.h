// Collects the log's messages during a test instead of writing them to standard error.
#pragma once

#include <string>
#include <vector>

struct LogCaptureLine {
    int level;
    std::string text;
};

// Installs a capturing sink at the given threshold; the previous log state comes back when the
// capture goes out of scope.
class LogCapture {
  public:
    explicit LogCapture(int threshold = 7);
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    const std::vector<LogCaptureLine> &lines() const { return lines_; }
    std::vector<std::string> texts() const;
    bool contains(const std::string &text) const;
    void clear() { lines_.clear(); }

  private:
    std::vector<LogCaptureLine> lines_;
    int saved_threshold_;
    void *saved_sink_;
    void *saved_context_;
};
