// Composing: templates and arguments from the input. Every call ends without a crash or a leak;
// the sink sees 256-byte chunks and, on success only, one last shorter flush.
#include "fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <vector>

namespace {

const int ARGUMENTS = 6;

struct Chunks {
    std::vector<int> sizes;
    int fail_at; // 1-based sink call that fails, 0 for none
};

int record_chunk(const char *, int count, void *context) {
    Chunks *chunks = static_cast<Chunks *>(context);
    chunks->sizes.push_back(count);
    return int(chunks->sizes.size()) == chunks->fail_at ? 7 : 0;
}

// A template of the input's bytes in which each '%' starts one directive of the chosen kind,
// so that the arguments passed always match what the directives take.
std::string make_template(FuzzedDataProvider *input, const char *directive) {
    std::string raw = input->ConsumeRandomLengthString(600);
    std::string result;
    int directives = 0;
    for (char c : raw) {
        if (c == '%' && directives < ARGUMENTS) {
            result += directive;
            ++directives;
        } else if (c != '%') {
            result += c;
        }
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider input(data, size);
    // The last kinds are directives that do not exist; they take no argument.
    static const char *const kinds[] = {"%s", "%*s", "%d", "%c", "%J", "%x", "%%", "%*d"};
    int kind = input.ConsumeIntegralInRange<int>(0, 7);
    Chunks chunks = {{}, input.ConsumeIntegralInRange<int>(0, 4)};
    std::string texts[ARGUMENTS];
    int numbers[ARGUMENTS];
    for (int i = 0; i < ARGUMENTS; ++i) {
        texts[i] = input.ConsumeRandomLengthString(40);
        numbers[i] = input.ConsumeIntegral<int>();
    }
    std::string pattern = make_template(&input, kinds[kind]);
    if (input.ConsumeBool()) mem_fail_at(input.ConsumeIntegralInRange<unsigned long>(1, 3));
    long live = mem_live_blocks();
    int status;
    const char *t[ARGUMENTS];
    for (int i = 0; i < ARGUMENTS; ++i)
        t[i] = texts[i].c_str();
    const int *n = numbers;
    if (kind == 0)
        status = json_compose(record_chunk, &chunks, pattern.c_str(), t[0], t[1], t[2], t[3], t[4],
                              t[5]);
    else if (kind == 1)
        status = json_compose(record_chunk, &chunks, pattern.c_str(), n[0], t[0], n[1], t[1], n[2],
                              t[2], n[3], t[3], n[4], t[4], n[5], t[5]);
    else
        status = json_compose(record_chunk, &chunks, pattern.c_str(), n[0], n[1], n[2], n[3], n[4],
                              n[5]);
    mem_fail_at(0);
    FUZZ_CHECK(mem_live_blocks() == live);
    bool sink_failed = chunks.fail_at > 0 && int(chunks.sizes.size()) >= chunks.fail_at;
    for (size_t i = 0; i + 1 < chunks.sizes.size(); ++i)
        FUZZ_CHECK(chunks.sizes[i] == 256);
    if (status == 0) {
        FUZZ_CHECK(!chunks.sizes.empty() && chunks.sizes.back() <= 256);
    } else if (!sink_failed) {
        FUZZ_CHECK(status == JSON_ESYNTAX || status == 12);
        for (int chunk : chunks.sizes)
            FUZZ_CHECK(chunk == 256);
    }
    return 0;
}
