// The Windows entry: the arguments arrive as UTF-16, so that a path in any script survives, and
// the hub takes them as UTF-8.
#include "entry.h"
#include "support/memory.h"
#include "wide_text_win32.h"

#include <errno.h>

int wmain(int argc, wchar_t **argv) {
    char **arguments = static_cast<char **>(mem_calloc(size_t(argc) + 1, sizeof(char *)));
    if (!arguments) return ENOMEM;
    int result = 0;
    for (int i = 0; i < argc && result == 0; ++i)
        if (!(arguments[i] = utf8_from_wide(argv[i]))) result = ENOMEM;
    if (result == 0) result = hub_main(argc, arguments);
    for (int i = 0; i < argc; ++i)
        mem_free(arguments[i]);
    mem_free(arguments);
    return result;
}
