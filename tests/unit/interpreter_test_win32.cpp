// What the Windows build starts the command interpreter with, seen by a stand-in interpreter
// named in COMSPEC that records its own command line.
#include "hub/platform.h"
#include "support/memory.h"
#include "temporary_directory.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

namespace {

// The stand-in, built next to this test program.
std::string recorder_path() {
    TextBuffer own;
    text_buffer_init(&own);
    EXPECT_EQ(platform_own_file(&own), 0);
    std::string path(own.data, own.length);
    mem_free(own.data);
    return path.substr(0, path.find_last_of('\\') + 1) + "hub-command-line-recorder.exe";
}

class ComspecStandIn {
  public:
    ComspecStandIn() {
        const char *previous = getenv("COMSPEC");
        previous_ = previous ? previous : "";
        _putenv_s("COMSPEC", recorder_path().c_str());
    }
    ~ComspecStandIn() { _putenv_s("COMSPEC", previous_.c_str()); }

  private:
    std::string previous_;
};

} // namespace

// With and without a timeout (a job of its own), the interpreter gets /d (no AutoRun commands)
// and /v:off (no delayed expansion) before /c, and the command exactly as it was given.
TEST(Interpreter, IsStartedWithoutAutoRunOrDelayedExpansionAndTheLineAsItIs) {
    TemporaryDirectory directory;
    ComspecStandIn interpreter;
    const std::string command = "\"ravcpy.exe -s \"-ver:!OS!-%USERNAME%@7|3|C:\\\xc3\xa9\\\\\"\"";
    for (unsigned long timeout : {0ul, 60000ul}) {
        int status = -1;
        bool timed_out = true;
        EXPECT_EQ(platform_run_command(command.c_str(), timeout, &status, &timed_out), 0);
        EXPECT_EQ(status, 7) << timeout;
        EXPECT_FALSE(timed_out);
        EXPECT_EQ(directory.read("interpreter-line.txt"),
                  recorder_path() + " /d /v:off /c " + command)
            << timeout;
    }
}
