/* The driver's own configuration file, qorbsysfs.ini, read from the current
 * directory when the driver opens:
 *
 *     [sysfs]
 *     root = /sys/bus/pci/devices          ; folder of DDDD:BB:DD.F entries
 *     domain = 0000                        ; PCI domain (segment), hex
 *     allow_writes = no                    ; yes/no, true/false, on/off, 1/0
 *     mcfg = /sys/firmware/acpi/tables/MCFG
 *
 * The environment variable QORB_DOMAIN (hex, as the key) overrides the
 * domain; the qorb tool's --domain sets it.
 *
 * Every key is optional and the file itself is too. A file that is there but
 * holds anything else (another section, an unknown key, a value that does
 * not parse) stops the open with a message naming the line: a mistyped
 * "allow_writes" must not quietly leave a test read-only, nor a mistyped
 * domain quietly serve another one. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <ini.h>
#include <qorb_common/driver_domains.h>

#include "sysfs_driver.h"

namespace qorbsysfs {
namespace {

struct ParseState {
    Settings* settings;
    FILE* stream;
    int line = 0;        /* line the parser is on */
    int errorLine = 0;   /* first line the handler refused */
    std::string error;   /* and why */
};

/* fgets() that counts lines, so that a refused value is reported with its
 * own line number. */
char* ReadLine(char* text, int size, void* user)
{
    auto* state = static_cast<ParseState*>(user);
    char* got = fgets(text, size, state->stream);
    if (got)
        ++state->line;
    return got;
}

int Refuse(ParseState* state, const std::string& why)
{
    if (state->errorLine == 0) {
        state->errorLine = state->line;
        state->error = why;
    }
    return 0;
}

bool ParseBool(const char* text, bool* value)
{
    static const char* const kTrue[] = {"yes", "true", "on", "1"};
    static const char* const kFalse[] = {"no", "false", "off", "0"};
    for (const char* word : kTrue)
        if (strcasecmp(text, word) == 0) {
            *value = true;
            return true;
        }
    for (const char* word : kFalse)
        if (strcasecmp(text, word) == 0) {
            *value = false;
            return true;
        }
    return false;
}

/* A domain as Linux writes it (hex, "0000"), with or without "0x". */
bool ParseDomain(const char* text, uint32_t* domain)
{
    const char* digits = (strncasecmp(text, "0x", 2) == 0) ? text + 2 : text;
    size_t n = strlen(digits);
    if (n == 0 || n > 8 || strspn(digits, "0123456789abcdefABCDEF") != n)
        return false;
    *domain = static_cast<uint32_t>(strtoul(digits, nullptr, 16));
    return true;
}

/* A path without its trailing slashes ("/" stays "/"). */
bool ParsePath(const char* text, std::string* path)
{
    std::string value = text;
    while (value.size() > 1 && value.back() == '/')
        value.pop_back();
    if (value.empty())
        return false;
    *path = value;
    return true;
}

int Handler(void* user, const char* section, const char* key, const char* value)
{
    auto* state = static_cast<ParseState*>(user);
    Settings* s = state->settings;
    if (strcasecmp(section, "sysfs") != 0)
        return Refuse(state, std::string("unknown section [") + section + "] (expected [sysfs])");
    bool ok;
    if (strcasecmp(key, "root") == 0)
        ok = ParsePath(value, &s->root);
    else if (strcasecmp(key, "domain") == 0)
        ok = ParseDomain(value, &s->domain);
    else if (strcasecmp(key, "allow_writes") == 0)
        ok = ParseBool(value, &s->allowWrites);
    else if (strcasecmp(key, "mcfg") == 0)
        ok = ParsePath(value, &s->mcfgPath);
    else
        return Refuse(state, std::string("unknown key \"") + key + "\"");
    if (!ok)
        return Refuse(state, std::string("bad value \"") + value + "\" for " + key);
    return 1;
}

bool ReadSettingsFile(const char* file, Settings* settings)
{
    FILE* stream = fopen(file, "re");
    if (!stream) {
        if (errno == ENOENT)
            return true;
        fprintf(stderr, "qorbsysfs: cannot read %s: %s\n", file, strerror(errno));
        return false;
    }
    ParseState state{settings, stream, 0, 0, {}};
    int line = ini_parse_stream(ReadLine, &state, Handler, &state);
    fclose(stream);
    if (line != 0) {
        const char* why = (line == state.errorLine) ? state.error.c_str() : "syntax error";
        fprintf(stderr, "qorbsysfs: %s line %d: %s\n", file, line, why);
        return false;
    }
    return true;
}

} // namespace

bool LoadSettings(const char* file, Settings* settings)
{
    *settings = Settings{};
    if (!ReadSettingsFile(file, settings))
        return false;
    const char* domain = getenv(qorb_domains::kVariable);
    if (domain && !ParseDomain(domain, &settings->domain)) {
        fprintf(stderr, "qorbsysfs: %s=%s: expected a PCI domain of 1 to 8 hex digits\n", qorb_domains::kVariable,
                domain);
        return false;
    }
    return true;
}

} // namespace qorbsysfs
