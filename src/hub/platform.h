// What the hub needs from the operating system, behind one interface.
//
// Windows gets the real Win32 and C runtime calls, in their wide (UTF-16) forms: the hub's
// names and texts are UTF-8 and are converted there. Elsewhere a small POSIX layer behaves as the
// hub expects of them (names and texts are bytes): '/' separates directories, a file name loses its
// trailing blanks before it reaches the file system (as Windows does), and a command runs through
// /bin/sh.
#pragma once

#include "support/text_buffer.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The separator the hub puts between a directory and a file name, and looks for to cut one.
extern const char platform_separator;

// Every byte that separates directories in a path the hub is given: "\\/" on Windows, which
// takes both, "/" elsewhere.
extern const char platform_separators[];

// Resolves path against the current directory without requiring the file to exist, as
// GetFullPathNameW does. Returns the length in bytes written to buffer (without the NUL), the
// size needed when size is too small (buffer then untouched), or 0 on failure. *file_part receives
// the start of the final component inside buffer, or null when the path ends in a separator.
unsigned long platform_full_path(const char *path, unsigned long size, char *buffer,
                                 char **file_part);

// Starts the relaunch copy and does not wait for it. Windows runs command_line (found by its
// first word in the program's folder); POSIX runs copy_path with the arguments "quorcpy.exe",
// "--start" and arguments[1..count-1] as they are. Both run in directory and pass on no handle
// beyond the standard three. Returns 0 or the platform's error code.
int platform_start_copy(char *command_line, const char *copy_path, const char *directory, int count,
                        char **arguments);

// The full path of the file this process runs from, as the system names it (GetModuleFileNameW;
// /proc/self/exe), into path (zero-terminated). Returns 0 or an error number.
int platform_own_file(TextBuffer *path);

// Whether path names the file own_file names (the same file, not only the same text).
bool platform_names_same_file(const char *path, const char *own_file);

// Opens a file to read in binary mode when it is a regular file, without ever waiting on the
// way (a FIFO, a device or a named pipe could hold the hub for ever). Returns 0 and the open
// file, or an error number: the open's own, EISDIR for a directory, ENODEV for anything else that
// is not a regular file.
int platform_open_regular_file(const char *name, FILE **file);

// Lets the hub live on when a reader of its log goes away: a write to a closed pipe then fails,
// and the failure is ignored, instead of ending the process (SIGPIPE on POSIX; nothing to do
// on Windows). Commands the hub starts get the disposition it had before.
void platform_ignore_broken_pipe();

// fopen, with trailing blanks of the name dropped where the file system would keep them.
FILE *platform_fopen(const char *name, const char *mode);

// Deletes a file, with trailing blanks of the name dropped likewise. Returns 0 or -1.
int platform_unlink(const char *name);

// Makes the file name anew for writing a copy of source (open for reading): whatever the name
// held goes first (Windows renames a running program aside, and removes what earlier runs put
// aside), then the file is created exclusively without following a link, so that no file of
// another account and no link target is ever written. POSIX gives it source's permission bits.
// Null with errno set when the old file cannot be removed or the new one cannot be created.
FILE *platform_create_fresh(const char *name, FILE *source);

// Whether the two names are one file: the same name (Windows: in any case or spelling) or the
// same file by identity; a link named copy counts as itself, not as its target.
bool platform_same_file(const char *copy, const char *original);

// Runs a command line held in one extra pair of double quotes, as the Windows command
// interpreter takes it, and waits for it. Whenever the interpreter is called, stores its exit
// status in *exit_status (-1 with errno set when it cannot be started) and returns 0. Returns an
// error number without calling it, *exit_status untouched, when the line is refused beforehand:
// E2BIG for a line longer than cmd.exe takes (8191 characters), EILSEQ for text that is not
// UTF-8 (Windows), ENOMEM, EINVAL. POSIX runs the text inside the quotes with /bin/sh -c; a
// command killed by a signal gives 128 + the signal number.
// With a timeout (milliseconds; 0 waits without limit, exactly as before), a command still
// running then is ended with every process it started and *timed_out is set: Windows runs the
// interpreter in a job of its own and ends the job (status 1460, ERROR_TIMEOUT); POSIX runs the
// shell in a process group of its own and kills the group (status 128 + 9).
int platform_run_command(const char *wrapped_command, unsigned long timeout_milliseconds,
                         int *exit_status, bool *timed_out);

// The length of a path as the platform's path limits count it: UTF-16 units of UTF-8 text on
// Windows, bytes elsewhere.
size_t platform_path_length(const char *path, size_t bytes);

// Decodes text that is not valid UTF-8 from the platform's legacy code page into UTF-8, in
// place (length updated, zero-terminated). Windows: the ANSI code page, as Windows tools read
// such files. POSIX: names and texts are bytes, so it stays as it is. Returns 0, or 12.
int platform_decode_legacy_text(TextBuffer *text);

// Whether byte can stand inside a double-quoted argument of a command line and reach the
// program as it is. Refused are the bytes the command interpreter still acts on inside double
// quotes and cannot be escaped from there (Windows: " and %; POSIX shell: ", $ and `), CR and
// LF, which end or split the line, and the zero byte, which ends it. Everything else, TAB and
// the other control bytes included, is taken literally.
bool platform_carries_in_quotes(unsigned char byte);

// Whether text (UTF-8) reaches a program that reads its command line in the ANSI code page
// without a character turning into one that the argument rules or the interpreter act on.
// Windows: false when a character that is not ASCII becomes ", \, %, ! or a control byte in the
// active code page's best-fit mapping (U+FF02 into " in code page 1252, U+00A5 into \ in 932);
// characters the code page holds, and those it cannot hold (they arrive as ?), are kept. POSIX:
// always true.
bool platform_keeps_in_ansi(const char *text, uint32_t length);

// Whether byte, in a program's path at the start of a command line, makes the interpreter cut
// the path or act on it unless the path is in double quotes. Windows: blanks, tabs and the
// signs cmd.exe treats as separators or operators (& | < > ( ) ^ , ; = and others). POSIX
// shell: everything but letters, digits, bytes from 0x80 and - _ . / + , : @ %.
bool platform_needs_quotes(unsigned char byte);

// The name of the updater's working copy for an updater program of this name, or null when
// the interpreter could not run such a program under any working copy's name. Windows runs a
// batch file only by its extension, so an updater named *.cmd or *.bat gets ravcpy.cmd or
// ravcpy.bat; a program (.exe, .com or no extension) gets ravcpy.exe; any other extension (a
// script for another interpreter, which cmd.exe would not run as ravcpy.exe) is refused. POSIX
// runs any file with its permission bits, so it is always ravcpy.exe.
const char *platform_working_copy_name(const char *updater_name);

// A lock held for one update cycle, so that two cycles over one configuration never run at
// once; the system releases it when the process ends, however it ends.
struct PlatformCycleLock {
    long long handle;
};

// Takes the cycle lock of the configuration file: a lock file beside it, named as the file the
// configuration resolves to (links followed) with ".lock" added, made if missing, never through
// a link, that only this process's account may open, and locked while it is held. Returns 0
// when it is held (or when the configuration cannot be opened, which reading it then reports),
// EBUSY when another cycle holds it, and the error number when the lock file cannot be made or
// opened (EACCES also for a POSIX lock file that is not this account's alone). POSIX: flock on
// a file of mode 0600. Windows: the file held open without sharing, with an access list for
// this account only.
int platform_lock_cycle(const char *configuration_path, PlatformCycleLock *lock);

// Releases a lock taken by platform_lock_cycle (nothing to do when none was taken).
void platform_unlock_cycle(PlatformCycleLock *lock);

// Whether a run of backslashes inside a double-quoted argument has to be written twice to reach
// the program unchanged. Windows (the C runtime's argument rules): only a run just before the
// closing quote, which would otherwise escape it. POSIX shell, which halves backslash pairs
// inside double quotes: that run and every run of two or more; a single backslash before any
// byte the shell does not act on stays as it is.
bool platform_doubles_backslashes(unsigned long run, bool before_closing_quote);

// Files the hub writes for others to read: the run report and the log file.

// Creates the file name, which must not exist yet (a name that is there, a link included, is
// EEXIST and is not touched), writes length bytes to it, makes them durable on disk and closes
// it. Returns 0 or an error number.
int platform_write_new_file(const char *name, const char *bytes, size_t length);

// Renames the file from to to, replacing a file there in one step, so that a reader of to sees
// the old file or the new one, never a part: POSIX rename; Windows MoveFileExW with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, tried again for a while when a reader holds
// the old file open without sharing its deletion. Returns 0 or an error number.
int platform_replace_file(const char *from, const char *to);

// The size of the file name in *size. Returns 0 or an error number (ENOENT when it is missing).
int platform_file_size(const char *name, unsigned long long *size);

// The running process's identifier.
unsigned long platform_process_id();

// A file that log lines are appended to.
struct PlatformLogFile {
    long long handle; // -1: none
};

// Opens name for appending, creating it when it is missing, so that every write lands at its end
// whoever else appends to it. Other processes may read and write it meanwhile (Windows:
// FILE_SHARE_READ | FILE_SHARE_WRITE); no command the hub runs inherits it. Returns 0 or an error
// number (file->handle is then -1).
int platform_open_log_file(const char *name, PlatformLogFile *file);

// Appends length bytes in one write. Failures are ignored: the log has nowhere to report them.
void platform_write_log_file(PlatformLogFile *file, const char *bytes, size_t length);

// Closes the file (nothing to do when none is open).
void platform_close_log_file(PlatformLogFile *file);
