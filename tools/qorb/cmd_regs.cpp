/* qorb read / qorb write: configuration registers as setpci reads and
 * writes them ("qorb read -s 01:00.0 0x10.l", "qorb write -s 01:00.0
 * COMMAND=0146", "CAP_EXP+10.w=20:20"). Each operand acts on every selected
 * function in bus order; read prints one value a line. */
#include "cap_list.h"
#include "inspect.h"
#include "names.h"
#include "regspec.h"
#include <CLI/CLI.hpp>

#include "tool.h"

namespace qorbtool {

namespace {

struct RegisterOptions {
    Selection selection;
    std::vector<std::string> operands;
    bool verbose = false;
};

/* The offset of the first capability with the ID in the list the operand
 * names, from the tool's own walk of the raw registers (the library's walk
 * stops at IDs its length tables do not know); false when there is none. */
bool FindCapability(void* device, const qorbcli::RegisterSpec& regSpec, uint32_t* offset)
{
    qorbcli::RawCapList lists = qorbcli::ReadCapLists(ReadImage(device));
    const qorbcli::RawCap* cap = qorbcli::FindRawCap(lists, regSpec.base == qorbcli::RegisterSpec::kExtendedCap,
                                                     static_cast<uint16_t>(regSpec.capId));
    if (cap)
        *offset = cap->offset;
    return cap != nullptr;
}

std::vector<qorbcli::RegisterSpec> ParseOperands(const std::vector<std::string>& operands, bool withValue)
{
    std::vector<qorbcli::RegisterSpec> specs;
    for (const std::string& text : operands) {
        qorbcli::RegisterSpec regSpec;
        std::string error = qorbcli::ParseRegisterSpec(text, withValue, &regSpec);
        if (error.empty() && regSpec.base == qorbcli::RegisterSpec::kAbsolute)
            error = qorbcli::CheckRegisterAddress(regSpec.offset, regSpec.width);
        if (!error.empty())
            throw UsageError(error);
        specs.push_back(regSpec);
    }
    return specs;
}

/* The absolute address of an operand on one function; "" or the reason. */
std::string Resolve(void* device, const qorbcli::RegisterSpec& regSpec, const std::string& text, uint32_t* address)
{
    uint32_t base = 0;
    if (regSpec.base != qorbcli::RegisterSpec::kAbsolute && !FindCapability(device, regSpec, &base))
        return "no capability for " + text;
    *address = base + regSpec.offset;
    return qorbcli::CheckRegisterAddress(*address, regSpec.width);
}

uint32_t FromBytes(const uint8_t* b, unsigned width)
{
    uint32_t v = 0;
    for (unsigned i = width; i-- > 0;)
        v = v << 8 | b[i];
    return v;
}

void RunRegisters(const RegisterOptions& options, bool write)
{
    options.selection.Parse();
    if (write && !options.selection.Given())
        throw UsageError("write needs -s or -d: it does not change every function at once");
    std::vector<qorbcli::RegisterSpec> specs = ParseOperands(options.operands, write);
    Session session;
    std::vector<Function> found = Scan(options.selection);
    if (found.empty())
        throw UsageError("no function matches " + (options.selection.Given() ? options.selection.Text() : "(any)"));
    unsigned failures = 0;
    for (const Function& f : found) {
        Device record = OpenFunction(f);
        for (size_t i = 0; i < specs.size(); i++) {
            const qorbcli::RegisterSpec& regSpec = specs[i];
            const std::string& text = options.operands[i];
            uint32_t address = 0;
            std::string error = Resolve(record.Get(), regSpec, text, &address);
            uint8_t bytes[4] = {0, 0, 0, 0};
            uint32_t n = regSpec.width;
            _QORB_STATUS_t status = QORB_SUCCESS;
            if (error.empty() && (!write || regSpec.mask != (regSpec.width == 4 ? 0xffffffffu : (1u << 8 * regSpec.width) - 1))) {
                status = ReadConfigSpace(record.Get(), bytes, address, &n);
                /* Bytes a function does not have read as all ones, as setpci
                 * shows them (a function without extended space). A write
                 * there fails. */
                for (unsigned b = n; status != QORB_SUCCESS && b < regSpec.width; b++)
                    bytes[b] = 0xff;
                if (status != QORB_SUCCESS && write)
                    error = "reading " + text + " failed: " + StatusText(status);
            }
            if (error.empty() && write) {
                uint32_t value = (FromBytes(bytes, regSpec.width) & ~regSpec.mask) | (regSpec.value & regSpec.mask);
                for (unsigned b = 0; b < regSpec.width; b++)
                    bytes[b] = static_cast<uint8_t>(value >> 8 * b);
                n = regSpec.width;
                status = WriteConfigSpace(record.Get(), bytes, address, &n);
                if (status != QORB_SUCCESS)
                    error = "writing " + text + " failed: " + StatusText(status);
                else if (options.verbose)
                    fprintf(Out(), "%s @%s <- %s\n", f.Slot().c_str(), qorbcli::Hex(address, 3).c_str(),
                            qorbcli::RegisterValueText(value, regSpec.width).c_str());
            }
            if (!error.empty()) {
                fprintf(stderr, "qorb: %s: %s\n", f.Slot().c_str(), error.c_str());
                failures++;
                continue;
            }
            if (!write) {
                std::string value = qorbcli::RegisterValueText(FromBytes(bytes, regSpec.width), regSpec.width);
                if (options.verbose)
                    fprintf(Out(), "%s @%s = %s\n", f.Slot().c_str(), qorbcli::Hex(address, 3).c_str(), value.c_str());
                else
                    fprintf(Out(), "%s\n", value.c_str());
            }
        }
    }
    if (failures)
        ExitStatus() = kExitFailed;
}

void AddOne(CLI::App& app, bool write)
{
    auto options = std::make_shared<RegisterOptions>();
    CLI::App* cmd = write ? app.add_subcommand("write", "Write configuration registers as setpci does: "
                                                        "REG[+OFF][.b|.w|.l]=VALUE[:MASK]")
                          : app.add_subcommand("read", "Read configuration registers as setpci does: "
                                                       "REG[+OFF][.b|.w|.l]");
    options->selection.AddOptions(cmd);
    cmd->add_option("register", options->operands,
                    write ? "Registers and values, e.g. 0x04.w=0x0146, COMMAND=4:4, CAP_EXP+10.w=20:20"
                          : "Registers, e.g. 0x10.l, COMMAND, CAP_EXP+12.w, ECAP_AER+4.l")
        ->required();
    cmd->add_flag("-v,--verbose", options->verbose, "Show the function and address of every access");
    cmd->callback([options, write] { RunRegisters(*options, write); });
}

} // namespace

void AddRegisterCommands(CLI::App& app)
{
    AddOne(app, false);
    AddOne(app, true);
}

} // namespace qorbtool
