#include "log_capture.h"

#include "support/log.h"

#include <cstdio>

namespace {

int capture_sink(void *context, int level, const char *format, va_list arguments) {
    auto *lines = static_cast<std::vector<LogCaptureLine> *>(context);
    va_list copy;
    va_copy(copy, arguments);
    int length = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(size_t(length > 0 ? length : 0), '\0');
    vsnprintf(text.data(), text.size() + 1, format, arguments);
    lines->push_back({level, text});
    return 0;
}

} // namespace

LogCapture::LogCapture(int threshold)
    : saved_threshold_(log_threshold), saved_sink_(reinterpret_cast<void *>(log_sink)),
      saved_context_(log_sink_context) {
    log_setup(threshold, capture_sink, &lines_);
}

LogCapture::~LogCapture() {
    log_setup(saved_threshold_, reinterpret_cast<LogSink>(saved_sink_), saved_context_);
}

std::vector<std::string> LogCapture::texts() const {
    std::vector<std::string> texts;
    for (const auto &line : lines_)
        texts.push_back(line.text);
    return texts;
}

bool LogCapture::contains(const std::string &text) const {
    for (const auto &line : lines_)
        if (line.text == text) return true;
    return false;
}
