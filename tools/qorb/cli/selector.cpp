/* Parsing of the -s and -d selectors, following pciutils' filter syntax. */
#include "selector.h"

#include <vector>

namespace qorbcli {

namespace {

bool IsWild(const std::string& field) { return field.empty() || field == "*"; }

/* A field that may be a wildcard: -1 for a wildcard, else the value. */
bool ParseWildField(const std::string& field, uint64_t max, int* out)
{
    if (IsWild(field)) {
        *out = -1;
        return true;
    }
    uint64_t value = 0;
    if (!ParseHexField(field, max, &value))
        return false;
    *out = static_cast<int>(value);
    return true;
}

std::vector<std::string> Split(const std::string& text, char sep)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t pos = text.find(sep, start);
        if (pos == std::string::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, pos - start));
        start = pos + 1;
    }
}

} // namespace

bool ParseHexField(const std::string& text, uint64_t max, uint64_t* out)
{
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    if (digits.empty() || digits.size() > 16)
        return false;
    uint64_t value = 0;
    for (char c : digits) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        value = value << 4 | static_cast<uint64_t>(digit);
    }
    if (value > max)
        return false;
    *out = value;
    return true;
}

std::string ParseSlotSelector(const std::string& text, SlotSelector* out)
{
    SlotSelector sel;
    std::vector<std::string> parts = Split(text, ':');
    if (parts.size() > 3)
        return "Invalid slot selector (too many colons)";
    std::string slotFunc = parts.back();
    uint64_t domain = 0;
    if (parts.size() == 3 && !IsWild(parts[0])) {
        /* The driver serves one domain; the tool checks the selector's. */
        if (!ParseHexField(parts[0], 0xffffffffull, &domain))
            return "Invalid domain number";
        sel.domain = static_cast<int64_t>(domain);
    }
    if (parts.size() >= 2 && !ParseWildField(parts[parts.size() - 2], 0xff, &sel.bus))
        return "Invalid bus number";
    size_t dot = slotFunc.find('.');
    std::string slot = dot == std::string::npos ? slotFunc : slotFunc.substr(0, dot);
    if (!ParseWildField(slot, 0x1f, &sel.dev))
        return "Invalid slot number";
    if (dot != std::string::npos && !ParseWildField(slotFunc.substr(dot + 1), 7, &sel.fn))
        return "Invalid function number";
    *out = sel;
    return "";
}

std::string ParseIdSelector(const std::string& text, IdSelector* out)
{
    std::vector<std::string> parts = Split(text, ':');
    if (parts.size() < 2)
        return "Invalid ID selector (expected [vendor]:[device][:class])";
    if (parts.size() > 3)
        return "Invalid ID selector (too many colons)";
    IdSelector sel;
    if (!ParseWildField(parts[0], 0xffff, &sel.vendor))
        return "Invalid vendor ID";
    if (!ParseWildField(parts[1], 0xffff, &sel.device))
        return "Invalid device ID";
    if (parts.size() == 3 && !ParseWildField(parts[2], 0xffff, &sel.classCode))
        return "Invalid class code";
    *out = sel;
    return "";
}

} // namespace qorbcli
