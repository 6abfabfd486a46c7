/* The dump reader. Strict about the lines it recognises (a hex line with a
 * bad byte, a gap or an offset past 4096 is an error rather than a silently
 * different platform) and tolerant of everything else, which is skipped. */
#include "sim_dump.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <fstream>
#include <optional>

namespace qorbsim {
namespace {

/* A file with many bad lines is reported up to this many lines. */
constexpr int kMaxReportedErrors = 20;
constexpr uint32_t kBytesPerLine = 16;

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

/* Reads exactly count hex digits at text[pos]; nullopt when one is not. */
std::optional<uint32_t> HexField(const std::string& text, size_t pos, size_t count)
{
    if (pos + count > text.size())
        return std::nullopt;
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i) {
        int d = HexDigit(text[pos + i]);
        if (d < 0)
            return std::nullopt;
        value = value << 4 | static_cast<uint32_t>(d);
    }
    return value;
}

size_t HexRun(const std::string& text, size_t pos)
{
    size_t n = 0;
    while (pos + n < text.size() && HexDigit(text[pos + n]) >= 0)
        ++n;
    return n;
}

bool EndOfToken(const std::string& text, size_t pos)
{
    return pos >= text.size() || text[pos] == ' ' || text[pos] == '\t';
}

struct FunctionAddress {
    uint32_t domain, bus, dev, fn;
};

enum class LineKind { kOther, kFunction, kHex };

class DumpReader {
public:
    DumpReader(const std::string& name, std::vector<FunctionImage>& out) : m_name(name), m_out(out) {}

    void Line(const std::string& text, int number)
    {
        m_line = number;
        FunctionAddress address{};
        switch (Classify(text, address)) {
        case LineKind::kFunction:
            FinishFunction();
            StartFunction(address);
            break;
        case LineKind::kHex:
            HexLine(text);
            break;
        case LineKind::kOther:
            break;
        }
    }

    bool Finish()
    {
        FinishFunction();
        if (m_functions == 0 && m_errors == 0)
            Error("no function line (BB:DD.F or DDDD:BB:DD.F) found");
        if (m_errors > kMaxReportedErrors)
            Report("%s: %d further errors not shown", m_name.c_str(), m_errors - kMaxReportedErrors);
        return m_errors == 0;
    }

private:
    LineKind Classify(const std::string& text, FunctionAddress& address)
    {
        size_t run = HexRun(text, 0);
        if (run == 0 || run >= text.size() || text[run] != ':')
            return LineKind::kOther;
        /* "OFF:" followed by a blank or the end: a hex line. */
        if ((run == 2 || run == 3) && EndOfToken(text, run + 1))
            return LineKind::kHex;
        /* "[DDDD:]BB:DD.F" followed by a blank or the end: a function line. */
        size_t pos = 0;
        address.domain = 0;
        if (run >= 4 && run <= 8) {
            address.domain = *HexField(text, 0, run);
            pos = run + 1;
        } else if (run != 2) {
            return LineKind::kOther;
        }
        auto bus = HexField(text, pos, 2);
        if (!bus || pos + 2 >= text.size() || text[pos + 2] != ':')
            return LineKind::kOther;
        auto dev = HexField(text, pos + 3, 2);
        if (!dev || pos + 5 >= text.size() || text[pos + 5] != '.')
            return LineKind::kOther;
        auto fn = HexField(text, pos + 6, 1);
        if (!fn || !EndOfToken(text, pos + 7))
            return LineKind::kOther;
        if (*dev > 0x1F || *fn > 7) {
            Error("function line %.*s: device must be 00 to 1f and function 0 to 7",
                  static_cast<int>(pos + 7), text.c_str());
            return LineKind::kOther;
        }
        address.bus = *bus;
        address.dev = *dev;
        address.fn = *fn;
        return LineKind::kFunction;
    }

    void StartFunction(const FunctionAddress& a)
    {
        m_current = FunctionImage{};
        m_inFunction = true;
        m_current.domain = a.domain;
        m_current.bus = static_cast<uint8_t>(a.bus);
        m_current.dev = static_cast<uint8_t>(a.dev);
        m_current.fn = static_cast<uint8_t>(a.fn);
        m_current.length = 0;
        m_current.origin = m_name + ":" + std::to_string(m_line);
        m_broken = false;
    }

    void FinishFunction()
    {
        if (!m_inFunction)
            return;
        m_inFunction = false;
        ++m_functions;
        if (!m_broken && m_current.length < kHeaderSize)
            ErrorAt(m_current.origin, "function %02x:%02x.%x has %u configuration bytes; at least %u are needed",
                    m_current.bus, m_current.dev, m_current.fn, m_current.length, kHeaderSize);
        else if (!m_broken)
            m_out.push_back(m_current);
    }

    void HexLine(const std::string& text)
    {
        if (!m_inFunction) {
            Error("hex line before any function line");
            return;
        }
        if (m_broken)
            return;   /* one error per function is enough */
        size_t run = HexRun(text, 0);
        uint32_t offset = *HexField(text, 0, run);
        if (offset % kBytesPerLine != 0 || offset >= kConfigSpaceSize) {
            Broken("offset %03x is not a multiple of 0x10 below 0x1000", offset);
            return;
        }
        if (offset != m_current.length) {
            Broken("offset %03x does not follow the previous line (expected %03x)", offset, m_current.length);
            return;
        }
        size_t pos = run + 1;
        uint32_t count = 0;
        while (true) {
            while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
                ++pos;
            if (pos >= text.size())
                break;
            size_t len = 0;
            while (pos + len < text.size() && text[pos + len] != ' ' && text[pos + len] != '\t')
                ++len;
            auto byte = len == 2 ? HexField(text, pos, 2) : std::nullopt;
            if (!byte) {
                Broken("bad hex byte '%.*s' (two hex digits expected)", static_cast<int>(len), text.c_str() + pos);
                return;
            }
            if (count == kBytesPerLine) {
                Broken("more than %u bytes on one line", kBytesPerLine);
                return;
            }
            m_current.bytes[offset + count++] = static_cast<uint8_t>(*byte);
            pos += len;
        }
        if (count == 0) {
            Broken("hex line without bytes");
            return;
        }
        /* A line of fewer than 16 bytes ends the function's bytes: a line
         * after it fails the offset check above. */
        m_current.length = offset + count;
    }

    void Broken(const char* format, ...) __attribute__((format(printf, 2, 3)))
    {
        va_list args;
        va_start(args, format);
        VError(m_name + ":" + std::to_string(m_line), format, args);
        va_end(args);
        m_broken = true;
    }

    void Error(const char* format, ...) __attribute__((format(printf, 2, 3)))
    {
        va_list args;
        va_start(args, format);
        VError(m_name + ":" + std::to_string(m_line), format, args);
        va_end(args);
    }

    void ErrorAt(const std::string& where, const char* format, ...) __attribute__((format(printf, 3, 4)))
    {
        va_list args;
        va_start(args, format);
        VError(where, format, args);
        va_end(args);
    }

    void VError(const std::string& where, const char* format, va_list args)
    {
        if (++m_errors > kMaxReportedErrors)
            return;
        char message[256];
        vsnprintf(message, sizeof message, format, args);
        Report("%s: %s", where.c_str(), message);
    }

    const std::string& m_name;
    std::vector<FunctionImage>& m_out;
    FunctionImage m_current;
    bool m_inFunction = false;
    bool m_broken = false;
    int m_line = 0;
    int m_errors = 0;
    int m_functions = 0;
};

} // namespace

bool ReadDump(std::istream& in, const std::string& name, std::vector<FunctionImage>& out)
{
    DumpReader reader(name, out);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        reader.Line(line, number);
    }
    return reader.Finish();
}

bool ReadDumpFile(const std::string& path, std::vector<FunctionImage>& out)
{
    std::ifstream in(path);
    if (!in) {
        Report("%s: cannot open the dump file: %s", path.c_str(), strerror(errno));
        return false;
    }
    return ReadDump(in, path, out);
}

} // namespace qorbsim
