// A fresh directory holding a copy of the hub (native or Windows) and the example programs,
// in which the hub runs as a child process with its standard error captured.
#pragma once

#include <atomic>
#include <string>
#include <vector>

struct HubLogLine {
    int level;
    std::string text;
};

struct HubRun {
    int exit_code;                      // the low 8 bits, as the platform reports them
    std::vector<HubLogLine> lines;      // every line of standard error, prefix parsed
    std::vector<std::string> malformed; // lines without a well-formed prefix
    std::string output;                 // standard error as received
    std::string standard_output;        // standard output as received

    // Whether the text appears anywhere in standard error, also inside a line that another
    // process (a relaunched copy) wrote into at the same time.
    bool mentions(const std::string &text) const { return output.find(text) != std::string::npos; }

    std::vector<std::string> texts() const;
    std::vector<std::string> texts_at(int level) const;
    bool has(const std::string &text) const;
    int count(const std::string &text) const;
    // Index of the first line with this text at or after from, or -1.
    int find(const std::string &text, int from = 0) const;
};

class HubSandbox {
  public:
    HubSandbox();
    ~HubSandbox();
    HubSandbox(const HubSandbox &) = delete;
    HubSandbox &operator=(const HubSandbox &) = delete;

    // Whether the hub under test is the Windows build run under Wine.
    static bool windows();
    // Whether the native hub runs under a wrapper such as valgrind (HUB_WRAPPER: its command).
    static bool wrapped();
    // The name the hub file has in the sandbox: "update-hub" or "update-hub.exe".
    static std::string hub_name();

    const std::string &path() const { return path_; }
    // The program path the hub logs in its banner when run by run() without a program name.
    std::string program_path() const;
    // The sandbox directory as the hub sees it (Z:\... under Wine).
    std::string hub_path() const;
    // A file of the sandbox as the hub names it when it composes paths.
    std::string hub_path(const std::string &name) const;

    void write(const std::string &name, const std::string &content) const;
    std::string read(const std::string &name) const;
    bool exists(const std::string &name) const;
    void make_directory(const std::string &name) const; // with its parents

    // Runs the hub in the sandbox with these arguments and waits for standard error to close
    // (which includes a relaunched copy on Linux) and for the hub to exit.
    HubRun run(const std::vector<std::string> &arguments, const std::string &program_name = "",
               int timeout_seconds = 120) const;

    // Runs a copy of the hub placed in a subdirectory of the sandbox (made with its parents),
    // with that subdirectory as the working directory.
    HubRun run_in(const std::string &subdirectory, const std::vector<std::string> &arguments,
                  int timeout_seconds = 120) const;

    // Runs the hub by its bare name (or program_name), found through PATH with the sandbox
    // directory first in it, from a subdirectory (made with its parents) as the working
    // directory. Under Wine cmd.exe finds it.
    HubRun run_by_name(const std::string &subdirectory, const std::vector<std::string> &arguments,
                       const std::string &program_name = "") const;

    // Runs the hub as run() does, but reads only the first `lines` lines of standard error and
    // then closes its end, as a reader such as `head` does; then waits for the hub to exit.
    HubRun run_closing_log(const std::vector<std::string> &arguments, int lines,
                           int timeout_seconds = 120) const;

    // Runs a command line of words (the first a program found through PATH; under Wine a
    // Windows command given to cmd.exe) in the sandbox, with standard error captured.
    HubRun run_in_cmd(const std::vector<std::string> &words, int timeout_seconds = 120) const;

    // Runs these words in the sandbox as run() runs the hub: the first names the program (a
    // Windows program runs under Wine); front words come before the hub's own name on Linux.
    HubRun run_words(const std::vector<std::string> &words, int timeout_seconds = 120) const;

    // Ends the process that run() or run_words() is waiting for, from another thread.
    void kill_running() const;

    // Polls until the file exists and holds at least `runs` "[run]" lines of the example
    // updater, or the timeout passes; returns its content.
    std::string wait_for_updater_runs(const std::string &name, int runs,
                                      int timeout_seconds = 60) const;

  private:
    HubRun run_at(const std::string &directory, const std::vector<std::string> &arguments,
                  const std::string &program_name, int timeout_seconds) const;
    // Starts words[0] (through PATH when search_path) with the rest as its arguments, the extra
    // environment entries added, in directory; reads standard error until it closes, or only
    // `lines` lines when lines >= 0, and waits for the process.
    HubRun spawn(const std::string &directory, std::vector<std::string> words, bool search_path,
                 const std::vector<std::string> &extra_environment, int lines,
                 int timeout_seconds) const;

    std::string path_;
    mutable std::atomic<int> running_{0};
};

// The arguments each run of the example updater recorded in the file it was given.
std::vector<std::vector<std::string>> updater_runs(const std::string &record);
