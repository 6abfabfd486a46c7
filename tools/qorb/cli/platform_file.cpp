/* Checking a platform file with expat, element by element in document order,
 * element and attribute names compared without case, as the library reads
 * it. */
#include "platform_file.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <memory>

#include <expat.h>

#include "names.h"

namespace qorbcli {

namespace {

bool Same(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

/* Digits of the base only, at most maxDigits of them (leading zeros count). */
bool Digits(const std::string& text, int base, size_t maxDigits, uint64_t* value)
{
    if (text.empty() || text.size() > maxDigits)
        return false;
    *value = 0;
    for (char c : text) {
        int digit = c >= '0' && c <= '9'         ? c - '0'
            : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
            : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0)
            return false;
        *value = *value * base + digit;
    }
    return true;
}

bool HasHexPrefix(const std::string& text) { return text.size() > 2 && text[0] == '0' && (text[1] | 0x20) == 'x'; }

/* Hexadecimal with an optional 0x; at most the digits of `bits`. */
bool Hex(const std::string& text, int bits, uint64_t* value)
{
    return Digits(HasHexPrefix(text) ? text.substr(2) : text, 16, bits / 4, value);
}

/* Decimal, or hexadecimal after 0x; not above max. */
bool Number(const std::string& text, uint64_t max, uint64_t* value)
{
    bool ok = HasHexPrefix(text) ? Digits(text.substr(2), 16, 16, value) : Digits(text, 10, 19, value);
    return ok && *value <= max;
}

enum class Kind { kHexId, kBus, kDevice, kFunction, kSubsystem };
struct DutAttribute {
    const char* name;
    Kind kind;
    uint64_t max;
    const char* expected;
};
constexpr DutAttribute kDutAttributes[] = {
    {"vendorid", Kind::kHexId, 0xffff, "a hexadecimal vendor ID of at most 4 digits"},
    {"deviceid", Kind::kHexId, 0xffff, "a hexadecimal device ID of at most 4 digits"},
    {"bus", Kind::kBus, 255, "a bus number 0-255 (decimal, or hexadecimal after 0x)"},
    {"device", Kind::kDevice, 31, "a device number 0-31 (decimal, or hexadecimal after 0x)"},
    {"function", Kind::kFunction, 7, "a function number 0-7 (decimal, or hexadecimal after 0x)"},
    {"subsysvendor", Kind::kSubsystem, 0xffff, "a subsystem vendor ID 0-65535 (decimal, or hexadecimal after 0x)"},
    {"subsysdeviceid", Kind::kSubsystem, 0xffff, "a subsystem ID 0-65535 (decimal, or hexadecimal after 0x)"},
};

/* Elements whose first attribute holds a number, and DUTConfig. */
struct NumberElement {
    const char* element;
    bool hex;
    int bits; /* hexadecimal: digits allowed; decimal: the largest value's width */
};
constexpr NumberElement kNumberElements[] = {
    {"ReplayCount", false, 31}, {"DUTSerrEnable", false, 16}, {"PCIEBaseAddress", true, 64}};

struct Reader {
    XML_Parser parser = nullptr;
    std::vector<PlatformDut>* duts = nullptr;
    std::string problem;
    int line = 0;

    void Fail(const std::string& text)
    {
        if (!problem.empty())
            return;
        problem = text;
        line = static_cast<int>(XML_GetCurrentLineNumber(parser));
        XML_StopParser(parser, XML_FALSE);
    }

    void Dut(const char** attributes)
    {
        if (duts->size() == QORB_MAX_DUTS)
            return Fail("more than " + std::to_string(QORB_MAX_DUTS) + " DUT elements; the record holds " +
                        std::to_string(QORB_MAX_DUTS));
        PlatformDut dut;
        dut.line = static_cast<int>(XML_GetCurrentLineNumber(parser));
        unsigned given = 0;
        for (int i = 0; attributes[i]; i += 2) {
            const char *name = attributes[i], *text = attributes[i + 1];
            size_t k = 0;
            while (k < std::size(kDutAttributes) && !Same(name, kDutAttributes[k].name))
                k++;
            if (k == std::size(kDutAttributes))
                return Fail(std::string("DUT: unknown attribute ") + name +
                            " (vendorid, deviceid, bus, device, function, subsysvendor, subsysdeviceid)");
            const DutAttribute& a = kDutAttributes[k];
            if (given & (1u << k))
                return Fail(std::string("DUT: ") + a.name + " is given twice");
            given |= 1u << k;
            uint64_t value = 0;
            bool ok = a.kind == Kind::kHexId ? Hex(text, 16, &value) : Number(text, a.max, &value);
            if (!ok)
                return Fail(std::string("DUT: ") + a.name + "=\"" + text + "\" is not " + a.expected);
            switch (k) {
            case 0:
                dut.find.vendorId = static_cast<uint16_t>(value), dut.flags |= QORB_FIND_VENDOR_ID;
                break;
            case 1:
                dut.find.deviceId = static_cast<uint16_t>(value), dut.flags |= QORB_FIND_DEVICE_ID;
                break;
            case 2:
                dut.find.busNumber = static_cast<uint16_t>(value), dut.flags |= QORB_FIND_LOCATION;
                break;
            case 3:
                dut.find.deviceNumber = static_cast<uint8_t>(value);
                break;
            case 4:
                dut.find.functionNumber = static_cast<uint8_t>(value);
                break;
            case 5:
                dut.find.subsysVendorId = static_cast<uint16_t>(value);
                break;
            default:
                dut.find.subsysDeviceId = static_cast<uint16_t>(value);
                break;
            }
        }
        unsigned location = given & 0x1c;
        if (location && location != 0x1c)
            return Fail("DUT: bus, device and function go together; give all three or none");
        dut.flags |= location ? QORB_FIND_LOCATION : 0;
        if (!(given & 0x1f))
            return Fail("DUT: names neither IDs (vendorid, deviceid) nor a location (bus, device, function)");
        duts->push_back(dut);
    }

    void Numbers(const char* element, const char** attributes)
    {
        if (Same(element, "DUTConfig")) {
            for (int i = 0; attributes[i]; i += 2) {
                std::string text = attributes[i + 1];
                bool incr = Same(attributes[i], "incr");
                if (!incr && !Same(attributes[i], "offset") && !Same(attributes[i], "length"))
                    continue;
                uint64_t value;
                if (!Hex(incr && !text.empty() && text[0] == '-' ? text.substr(1) : text, 16, &value))
                    return Fail(std::string("DUTConfig: ") + attributes[i] + "=\"" + text +
                                "\" is not a hexadecimal number of at most 4 digits");
            }
            return;
        }
        for (const NumberElement& e : kNumberElements) {
            if (!Same(element, e.element) || !attributes[0])
                continue;
            std::string text = attributes[1];
            uint64_t value;
            bool ok = e.hex ? Hex(text, e.bits, &value) : Digits(text, 10, 10, &value) && value < (1ull << e.bits);
            if (!ok)
                return Fail(std::string(e.element) + ": " + attributes[0] + "=\"" + text + "\" is not " +
                            (e.hex ? "a hexadecimal number" : "a decimal number") + " of " + std::to_string(e.bits) +
                            " bits");
        }
    }

    static void Start(void* data, const char* element, const char** attributes)
    {
        Reader* r = static_cast<Reader*>(data);
        if (Same(element, "DUT"))
            r->Dut(attributes);
        else
            r->Numbers(element, attributes);
    }
};

} // namespace

PlatformDut::PlatformDut() { memset(&find, 0xff, sizeof find); }

std::string DescribeDut(int index, uint32_t flags, const _QORB_DEVICE_FIND_INFO_t& f)
{
    std::string text = "DUT " + std::to_string(index + 1);
    std::string what;
    if (flags & (QORB_FIND_VENDOR_ID | QORB_FIND_DEVICE_ID))
        what = qorbcli::Hex(f.vendorId, 4) + ":" + qorbcli::Hex(f.deviceId, 4);
    if (flags & QORB_FIND_LOCATION)
        what += (what.empty() ? "" : " at ") +
            SlotText(static_cast<uint8_t>(f.busNumber), f.deviceNumber, f.functionNumber);
    return what.empty() ? text : text + " " + what;
}

std::string ReadPlatformFile(const std::string& path, std::vector<PlatformDut>* duts)
{
    duts->clear();
    std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(path.c_str(), "rb"), fclose);
    if (!file)
        return path + ": " + strerror(errno);
    std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreate(nullptr), XML_ParserFree);
    Reader reader;
    reader.parser = parser.get();
    reader.duts = duts;
    XML_SetUserData(parser.get(), &reader);
    XML_SetStartElementHandler(parser.get(), Reader::Start);
    char block[4096];
    bool last = false;
    while (!last) {
        size_t n = fread(block, 1, sizeof block, file.get());
        last = n < sizeof block;
        if (last && ferror(file.get()))
            return path + ": " + strerror(errno);
        if (XML_Parse(parser.get(), block, static_cast<int>(n), last) == XML_STATUS_ERROR) {
            if (!reader.problem.empty())
                return path + ":" + std::to_string(reader.line) + ": " + reader.problem;
            return path + ":" + std::to_string(XML_GetCurrentLineNumber(parser.get())) +
                ": not well-formed XML: " + XML_ErrorString(XML_GetErrorCode(parser.get()));
        }
    }
    return "";
}

} // namespace qorbcli
