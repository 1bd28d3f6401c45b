#include "copy_file.h"

#include "platform.h"
#include "support/log.h"

#include <cstdio>

namespace {

const size_t TRANSFER_SIZE = 4096;

int transfer(FILE *destination, FILE *source) {
    char buffer[TRANSFER_SIZE];
    for (;;) {
        size_t count = fread(buffer, 1, sizeof buffer, source);
        if (count == 0) return ferror(source) ? COPY_FILE_EIO : 0;
        if (fwrite(buffer, 1, count, destination) < count) return COPY_FILE_EIO;
    }
}

int copy_contents(const char *destination, const char *source) {
    FILE *in = platform_fopen(source, "rb");
    if (!in) return COPY_FILE_EOPEN;
    FILE *out = platform_create_fresh(destination, in);
    if (!out) {
        fclose(in);
        return COPY_FILE_EOPEN;
    }
    int result = transfer(out, in);
    if (fclose(out) != 0 && result == 0) result = COPY_FILE_EIO;
    fclose(in);
    return result;
}

} // namespace

int copy_file(const char *destination, const char *source) {
    int result = copy_contents(destination, source);
    log_message(7, "Copy file: src=%s -> dest=%s [%s]", source, destination,
                result == 0 ? "OK" : "Error");
    return result;
}
