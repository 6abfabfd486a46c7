#include "fuzz_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include <sanitizer/common_interface_defs.h>

namespace qorbfuzz {

const std::string& ScratchDir()
{
    static const std::string dir = [] {
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/qorb-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            perror("qorb fuzz: cannot make a scratch folder");
            abort();
        }
        return pattern;
    }();
    static const bool cleanup = [] {
        atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        });
        return true;
    }();
    (void)cleanup;
    return dir;
}

std::string WriteScratchFile(const char* name, const uint8_t* data, size_t size)
{
    std::string path = ScratchDir() + "/" + name;
    FILE* file = fopen(path.c_str(), "wb");
    if (!file || (size > 0 && fwrite(data, 1, size, file) != size) || fclose(file) != 0) {
        perror("qorb fuzz: cannot write a scratch file");
        abort();
    }
    return path;
}

void Require(bool ok, const char* what)
{
    if (ok)
        return;
    /* Standard error is closed while fuzzing (the code under test is
     * talkative); the sanitizer's report channel stays open. */
    fprintf(stderr, "qorb fuzz: broken promise: %s\n", what);
    __sanitizer_report_error_summary((std::string("qorb fuzz: broken promise: ") + what).c_str());
    abort();
}

} // namespace qorbfuzz
