/* The DUTs of "qorb check": from a platform file the tool has checked, from
 * the simulated platform's example file, or from the scan. */
#include <string.h>

#include <linux/pci_regs.h>

#include "check.h"
#include "names.h"

namespace qorbtool {

namespace {

/* Where the library's reading of an entry differs from the tool's: the
 * library converts bus="0x9" to bus 0, for one. The tool's values are the
 * ones searched; the difference is worth a line. */
void NoteLibraryView(const std::string& path, const std::vector<qorbcli::PlatformDut>& duts)
{
    _QORB_DAT_INFO_t info;
    memset(&info, 0, sizeof info);
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    _QORB_STATUS_t status;
    {
        Quiet quiet;
        status = parseDatFile(name.data(), &info);
    }
    std::unique_ptr<_QORB_DAT_INFO_t, void (*)(_QORB_DAT_INFO_t*)> owner(&info, QORB_FreeDatInfo);
    if (status != QORB_SUCCESS) {
        fprintf(stderr, "qorb check: %s: the library does not read the file: %s\n", path.c_str(),
                StatusText(status).c_str());
        return;
    }
    for (size_t i = 0; i < duts.size(); i++) {
        const qorbcli::PlatformDut& d = duts[i];
        int n = static_cast<int>(i);
        std::string mine = qorbcli::DescribeDut(n, d.flags, d.find);
        std::string its = static_cast<int>(i) < info.dutCount
            ? qorbcli::DescribeDut(n, info.dutFindFlags[i], info.dutFindInfo[i])
            : "nothing";
        if (mine != its)
            fprintf(stderr, "qorb check: %s:%d: the library reads %s; the tool searches for %s\n", path.c_str(), d.line,
                    its.c_str(), mine.c_str());
    }
}

DutList FromFile(const std::string& path, const std::string& source)
{
    DutList list;
    std::string problem = qorbcli::ReadPlatformFile(path, &list.duts);
    if (!problem.empty())
        throw UsageError("platform file " + problem);
    if (list.duts.empty())
        throw UsageError("the platform file " + path + " names no DUT");
    NoteLibraryView(path, list.duts);
    list.source = source;
    return list;
}

bool IsEndpoint(int portType)
{
    return portType == PCI_EXP_TYPE_ENDPOINT || portType == PCI_EXP_TYPE_LEG_END || portType == PCI_EXP_TYPE_RC_END;
}

} // namespace

DutList LoadDuts(const std::string& platform, const Session& session)
{
    if (!platform.empty())
        return FromFile(platform, "platform " + platform);
    if (session.Simulated()) {
        std::string example = FindShippedFile("builtin-platform.xml", {QORB_TOOL_REL_DATADIR, QORB_TOOL_DATADIR});
        if (example.empty())
            throw UsageError("the example platform file builtin-platform.xml is not installed; give --platform FILE");
        return FromFile(example, "the simulated platform's example platform " + example);
    }
    /* Any other driver serves a real machine (or one the user built): its
     * DUTs are the PCI Express endpoints the scan finds. */
    DutList list;
    std::string slots;
    for (const Function& f : Scan(Selection())) {
        if (!IsEndpoint(f.portType))
            continue;
        qorbcli::PlatformDut dut;
        dut.flags = QORB_FIND_VENDOR_ID | QORB_FIND_DEVICE_ID | QORB_FIND_LOCATION;
        dut.find.vendorId = f.Vendor();
        dut.find.deviceId = f.DeviceId();
        dut.find.busNumber = f.bus;
        dut.find.deviceNumber = f.dev;
        dut.find.functionNumber = f.fn;
        list.duts.push_back(dut);
        slots += (slots.empty() ? "" : " ") + f.Slot();
        if (list.duts.size() == QORB_MAX_DUTS)
            break;
    }
    if (list.duts.empty())
        throw UsageError("no --platform file, and the scan finds no PCI Express endpoint to check");
    list.source = "no --platform file: the PCI Express endpoints of the scan (" + slots + ")";
    return list;
}

} // namespace qorbtool
