/* Opening the library, scanning for functions and reading their registers. */
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <limits.h>
#include <string.h>
#include <unistd.h>

#include <linux/pci_regs.h>

#include "names.h"
#include "status.h"
#include <CLI/CLI.hpp>
#include <qorb_common/driver_domains.h>

#include "tool.h"

namespace qorbtool {

namespace {

/* Physical base of memory-mapped configuration space, used when the driver
 * cannot report one. */
constexpr uint64_t kDefaultConfigBase = 0xE0000000ull;

std::string ExecutableDir()
{
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    path[n] = '\0';
    std::string text = path;
    size_t slash = text.rfind('/');
    return slash == std::string::npos ? "." : text.substr(0, slash);
}

bool Readable(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

std::string DriverPath(const std::string& choice)
{
    if (choice != "sim" && choice != "sysfs")
        return choice;
    std::string name = choice == "sim" ? "libqorbsim.so" : "libqorbsysfs.so";
    std::string path = FindShippedFile(name, {QORB_TOOL_REL_LIBDIR, QORB_TOOL_LIBDIR});
    if (path.empty())
        throw UsageError("the " + std::string(choice == "sim" ? "simulated" : "sysfs") + " driver " + name +
                         " is not installed beside the tool");
    return path;
}

} // namespace

std::string StatusText(uint32_t status, const std::string& sentence) { return qorbcli::StatusLine(status, sentence); }

GlobalOptions& Globals()
{
    static GlobalOptions options;
    return options;
}

int& ExitStatus()
{
    static int status = kExitOk;
    return status;
}

std::string FindShippedFile(const std::string& name, const std::vector<std::string>& installDirs)
{
    std::string exeDir = ExecutableDir();
    std::vector<std::string> candidates = {exeDir + "/" + name};
    for (const std::string& dir : installDirs) {
        if (dir.empty())
            continue;
        candidates.push_back((dir[0] == '/' ? dir : exeDir + "/../" + dir) + "/" + name);
    }
    for (const std::string& path : candidates)
        if (Readable(path))
            return path;
    return "";
}

namespace {

/* --domain goes to the drivers through the environment (both shipped
 * drivers read QORB_DOMAIN); a malformed value stops the tool first. */
void PassDomain()
{
    const std::string& text = Globals().domainText;
    if (text.empty())
        return;
    uint64_t domain = 0;
    if (!qorbcli::ParseHexField(text, 0xffffffffull, &domain))
        throw UsageError("--domain " + text + ": expected a PCI domain of 1 to 8 hex digits");
    setenv(qorb_domains::kVariable, DomainText(static_cast<uint32_t>(domain)).c_str(), 1);
    Globals().domain = static_cast<uint32_t>(domain);
}

/* The domains the open driver reports through its QorbDriver_Domains
 * export, when it has one. */
void AskDomains(const std::string& path)
{
    Globals().domains.clear();
    void* driver = path.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!driver)
        return;
    auto domains = reinterpret_cast<qorb_domains::DomainsFn>(dlsym(driver, qorb_domains::kExport));
    uint32_t served = 0;
    std::vector<uint32_t> list(64);
    uint32_t n = domains ? domains(&served, list.data(), static_cast<uint32_t>(list.size())) : 0;
    if (n) {
        list.resize(n < list.size() ? n : list.size());
        Globals().domain = served;
        Globals().domains = list;
    }
    dlclose(driver);
}

} // namespace

std::string DomainText(uint32_t domain)
{
    char text[16];
    snprintf(text, sizeof text, "%04x", domain);
    return text;
}

Session::Session()
{
    PassDomain();
    const std::string& choice = Globals().driver;
    std::string path;
    _QORB_STATUS_t status;
    Quiet quiet;
    if (choice.empty() && Readable("ini/VERDAapp.ini")) {
        /* The library's own convention: the INI file names a driver that
         * sits in the current directory. */
        m_driverText = "the driver named in ini/VERDAapp.ini";
        status = OpenQORB(&m_instance, 0, kDefaultConfigBase, nullptr, nullptr);
    } else {
        path = DriverPath(choice.empty() ? "sim" : choice);
        struct stat st;
        if (stat(path.c_str(), &st) != 0 || !Readable(path))
            throw UsageError("driver " + path + ": " + strerror(errno));
        if (!S_ISREG(st.st_mode))
            throw UsageError("driver " + path + ": not a file (give the path of a driver library, sim or sysfs)");
        m_driverText = path;
        m_simulated = path.size() >= 13 && path.compare(path.size() - 13, 13, "libqorbsim.so") == 0;
        status = OpenQORBEx(&m_instance, 0, path.c_str(), kDefaultConfigBase, 0);
    }
    /* The drivers' own lines say what went wrong; the library's are shown
     * only with --debug. */
    std::string why;
    for (const std::string& line : quiet.DriverLines())
        if (status == QORB_SUCCESS)
            fprintf(stderr, "%s\n", line.c_str());
        else
            why += (why.empty() ? " (" : "; ") + line;
    if (status != QORB_SUCCESS) {
        m_instance = nullptr;
        throw UsageError("cannot open " + m_driverText + ": " + StatusText(status) + (why.empty() ? "" : why + ")"));
    }
    AskDomains(path);
}

Session::~Session()
{
    Quiet quiet;
    if (m_instance)
        CloseQORB(m_instance);
}

Device& Device::operator=(Device&& other) noexcept
{
    if (this != &other) {
        Reset();
        m_handle = other.m_handle;
        other.m_handle = nullptr;
    }
    return *this;
}

void Device::Reset()
{
    if (m_handle)
        CloseDevice(m_handle);
    m_handle = nullptr;
}

std::string Function::Slot() const
{
    std::string slot = qorbcli::SlotText(bus, dev, fn);
    return Globals().domain ? DomainText(Globals().domain) + ":" + slot : slot;
}

void Selection::AddOptions(CLI::App* cmd)
{
    cmd->add_option("-s", slotText, "Select functions by location: [[bus]:][dev][.[func]] (hexadecimal)");
    cmd->add_option("-d", idText, "Select functions by identity: [vendor]:[device][:class] (hexadecimal)");
}

void Selection::Parse() const
{
    if (!slotText.empty()) {
        std::string error = qorbcli::ParseSlotSelector(slotText, &slot);
        if (!error.empty())
            throw UsageError("-s " + slotText + ": " + error);
    }
    if (!idText.empty()) {
        std::string error = qorbcli::ParseIdSelector(idText, &ids);
        if (!error.empty())
            throw UsageError("-d " + idText + ": " + error);
    }
}

std::string Selection::Text() const
{
    std::string text;
    if (!slotText.empty())
        text = "-s " + slotText;
    if (!idText.empty())
        text += (text.empty() ? "-d " : " -d ") + idText;
    return text;
}

bool ReadConfig(void* device, uint32_t offset, uint32_t length, uint8_t* buffer)
{
    uint32_t n = length;
    return ReadConfigSpace(device, buffer, offset, &n) == QORB_SUCCESS && n == length;
}

std::vector<uint8_t> ReadConfigImage(void* device)
{
    std::vector<uint8_t> image(4096, 0);
    if (ReadConfig(device, 0, 4096, image.data()))
        return image;
    image.resize(256);
    if (!ReadConfig(device, 0, 256, image.data()))
        image.clear();
    return image;
}

bool ReadPcieCapability(void* device, _PCIE_CAPABILITY_STRUCT_t* cap)
{
    void* handle = nullptr;
    memset(cap, 0, sizeof *cap);
    _QORB_STATUS_t status = GetPCIECapability(device, cap, &handle);
    QORB_FreeCapabilityHandle(handle);
    return status == QORB_SUCCESS;
}

namespace {

/* Why the first step of a walk failed on a function whose header announces
 * a capability list, or "" when it announces none. Linux gives a process
 * without CAP_SYS_ADMIN only the 64-byte header: its list is there but
 * cannot be read, which is not the same as having no capabilities. */
std::string UnreadableList(void* device)
{
    uint8_t header[PCI_STD_HEADER_SIZEOF];
    if (!ReadConfig(device, 0, sizeof header, header) || (header[PCI_HEADER_TYPE] & 0x7f) > PCI_HEADER_TYPE_BRIDGE ||
        !(header[PCI_STATUS] & PCI_STATUS_CAP_LIST))
        return "";
    uint32_t pointer = header[PCI_CAPABILITY_LIST] & 0xfc;
    uint8_t entry[2];
    uint32_t n = sizeof entry;
    _QORB_STATUS_t status = ReadConfigSpace(device, entry, pointer, &n);
    if (pointer < PCI_STD_HEADER_SIZEOF || (status == QORB_SUCCESS && n == sizeof entry))
        return "";
    return "the capability list at " + qorbcli::Hex(pointer, 2) + " cannot be read: " + StatusText(status) +
           " (reading beyond the header needs root)";
}

} // namespace

std::vector<_QORB_PCI_DEVICE_CAP_INFO_t> WalkCapabilities(void* device, std::string* stop)
{
    constexpr size_t kMaxCapabilities = 1024;
    std::vector<_QORB_PCI_DEVICE_CAP_INFO_t> entries;
    stop->clear();
    void* current = nullptr;
    /* A function without capabilities fails the first step: an empty walk. */
    if (GetFirstCapability(device, &current) != QORB_SUCCESS) {
        *stop = UnreadableList(device);
        return entries;
    }
    _QORB_STATUS_t status = QORB_SUCCESS;
    while (status == QORB_SUCCESS && current) {
        _QORB_PCI_DEVICE_CAP_INFO_t info;
        QORB_QueryCapInfo(current, &info);
        entries.push_back(info);
        if (entries.size() >= kMaxCapabilities) {
            QORB_FreeCapabilityHandle(current);
            *stop = "stopped after " + std::to_string(kMaxCapabilities) + " capabilities";
            return entries;
        }
        void* next = nullptr;
        status = GetNextCapability(device, &next, current);
        QORB_FreeCapabilityHandle(current);
        current = next;
    }
    if (status != QORB_SUCCESS && status != QORB_PCIE_CAP_DOES_NOT_EXIST)
        *stop = "walk ended with " + StatusText(status);
    return entries;
}

std::string DeviceSlot(void* device)
{
    uint8_t bus = 0, dev = 0, fn = 0;
    QORB_GetDeviceProperties(device, &bus, &dev, &fn, nullptr, nullptr);
    Function f;
    f.bus = bus, f.dev = dev, f.fn = fn;
    return f.Slot();
}

std::vector<Function> Scan(const Selection& selection)
{
    const qorbcli::SlotSelector& s = selection.slot;
    if (s.domain >= 0 && s.domain != Globals().domain)
        throw UsageError("-s " + selection.slotText + ": domain " + DomainText(static_cast<uint32_t>(s.domain)) +
                         " is not the one served (" + DomainText(Globals().domain) + "); choose it with --domain " +
                         DomainText(static_cast<uint32_t>(s.domain)));
    int busFirst = s.bus >= 0 ? s.bus : 0, busLast = s.bus >= 0 ? s.bus : 255;
    int devFirst = s.dev >= 0 ? s.dev : 0, devLast = s.dev >= 0 ? s.dev : 31;
    int fnFirst = s.fn >= 0 ? s.fn : 0, fnLast = s.fn >= 0 ? s.fn : 7;
    std::vector<Function> found;
    for (int bus = busFirst; bus <= busLast; bus++) {
        for (int dev = devFirst; dev <= devLast; dev++) {
            for (int fn = fnFirst; fn <= fnLast; fn++) {
                void* handle = nullptr;
                if (FindDevice(static_cast<uint8_t>(bus), static_cast<uint8_t>(dev), static_cast<uint8_t>(fn),
                               &handle) != QORB_SUCCESS)
                    continue;
                Device record(handle);
                Function f;
                f.bus = static_cast<uint8_t>(bus);
                f.dev = static_cast<uint8_t>(dev);
                f.fn = static_cast<uint8_t>(fn);
                f.header.assign(64, 0);
                if (!ReadConfig(handle, 0, 64, f.header.data()))
                    continue;
                if (!selection.ids.Matches(f.Vendor(), f.DeviceId(), f.ClassCode()))
                    continue;
                _QORB_DEV_PORT_TYPE_t type;
                if (GetDeviceType(handle, &type) == QORB_SUCCESS)
                    f.portType = static_cast<int>(type);
                found.push_back(std::move(f));
            }
        }
    }
    return found;
}

Function ScanOne(const Selection& selection, const char* command)
{
    if (!selection.Given())
        throw UsageError(std::string(command) + " needs a function: give -s BUS:DEV.FN or -d VENDOR:DEVICE");
    std::vector<Function> found = Scan(selection);
    if (found.empty())
        throw UsageError("no function matches " + selection.Text());
    if (found.size() > 1)
        throw UsageError(selection.Text() + " matches " + std::to_string(found.size()) + " functions; " + command +
                         " acts on one (for example -s " + found.front().Slot() + ")");
    return found.front();
}

Device OpenFunction(const Function& f)
{
    void* handle = nullptr;
    if (FindDevice(f.bus, f.dev, f.fn, &handle) != QORB_SUCCESS)
        throw UsageError("function " + f.Slot() + " is not present");
    return Device(handle);
}

Device OpenLinked(void* device, _QORB_ACCESS_MODE_t mode)
{
    OpenDevice(device, mode);
    void* parent = nullptr;
    if (GetParentDevice(device, &parent) != QORB_SUCCESS)
        parent = nullptr;
    return Device(parent);
}

} // namespace qorbtool
