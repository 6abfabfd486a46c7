/* Shared pieces of the qorb tool: output, errors, the library session and
 * the device records it hands out. Every subcommand file adds one CLI11
 * subcommand through its Add...Command function. */
#ifndef QORB_TOOL_H
#define QORB_TOOL_H

#include <stdint.h>
#include <stdio.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <qorb/qorb.h>

#include "selector.h"

namespace CLI {
class App;
}

namespace qorbtool {

/* Exit statuses. */
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  /* a check or an operation failed */
constexpr int kExitUsage = 2;   /* bad arguments, absent devices, driver failures */

/* A usage or set-up error: one line, exit status 2. */
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
/* An operation that failed: one line, exit status 1. */
struct OperationFailed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/* The tool's results go here (the process's original standard output); the
 * library's own diagnostic lines on standard output are kept apart from
 * them (discarded, or sent to standard error with --debug). */
FILE* Out();
void InitOutput(bool libraryDiagnostics);
/* The text on one line: line breaks become blanks, trailing ones go. */
std::string OneLine(std::string text);

/* While it lives, what the library and the driver print on standard output
 * and standard error (the library's diagnostics for open and platform file
 * errors) is captured rather than shown; with --debug it is shown as
 * printed. Around the calls that print on standard error. */
class Quiet {
public:
    Quiet();
    ~Quiet();
    /* Ends the capture and answers the lines the drivers printed
     * ("qorbsim: ..."), the only ones the tool passes on. */
    std::vector<std::string> DriverLines();
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;

private:
    void Restore();
    int m_capture = -1, m_savedOut = -1, m_savedErr = -1;
};

/* An output file that appears under its name only when it is complete: it
 * is written under a temporary name in the same folder and renamed by
 * Commit(); dropped when the tool stops before. A name that is not a
 * regular file (a device such as /dev/stdout) is written in place. The
 * constructor throws a UsageError naming `what` when the folder cannot be
 * written. */
class OutputFile {
public:
    OutputFile(const std::string& path, const char* what);
    ~OutputFile();
    const std::string& Path() const { return m_path; }
    const std::string& WritePath() const { return m_writePath; } /* where to write until Commit() */
    void Write(const std::string& text); /* the whole content; throws a UsageError */
    void Commit(); /* throws a UsageError */
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

private:
    std::string m_path, m_what, m_writePath;
    bool m_temporary = false;
};

/* "QORB_DEVICE_NOT_FOUND (0x80000016): no function matches the search" for
 * a status; the sentence given replaces the status's own. */
std::string StatusText(uint32_t status, const std::string& sentence = "");

/* Options every subcommand shares. */
struct GlobalOptions {
    std::string driver;            /* "", "sim", "sysfs" or a path */
    bool debug = false;
    std::string domainText; /* --domain, "" when not given */
    /* Filled when the session opens: the PCI domain served and every domain
     * the driver found (empty when the driver does not say). */
    uint32_t domain = 0;
    std::vector<uint32_t> domains;
};
GlobalOptions& Globals();

/* A file that ships with the tool: looked for beside the executable, then
 * in the install tree relative to it, then at the configured install path. */
std::string FindShippedFile(const std::string& name, const std::vector<std::string>& installDirs);

/* An open library instance, closed at the end. */
class Session {
public:
    Session();
    ~Session();
    void* Instance() const { return m_instance; }
    const std::string& DriverText() const { return m_driverText; }
    /* Whether the driver is the simulated one (libqorbsim.so). */
    bool Simulated() const { return m_simulated; }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

private:
    void* m_instance = nullptr;
    std::string m_driverText;
    bool m_simulated = false;
};

/* A device record, closed at the end unless released. */
class Device {
public:
    Device() = default;
    explicit Device(void* handle) : m_handle(handle) {}
    ~Device() { Reset(); }
    Device(Device&& other) noexcept : m_handle(other.m_handle) { other.m_handle = nullptr; }
    Device& operator=(Device&& other) noexcept;
    void Reset();
    void* Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

private:
    void* m_handle = nullptr;
};

/* A domain as Linux writes it: four hex digits at least. */
std::string DomainText(uint32_t domain);

/* What the scan learns of one function. */
struct Function {
    uint8_t bus = 0, dev = 0, fn = 0;
    std::vector<uint8_t> header;   /* the first 64 bytes */
    int portType = -1;             /* -1: no PCI Express capability */
    uint16_t Vendor() const { return static_cast<uint16_t>(header[0] | header[1] << 8); }
    uint16_t DeviceId() const { return static_cast<uint16_t>(header[2] | header[3] << 8); }
    uint16_t ClassCode() const { return static_cast<uint16_t>(header[0x0a] | header[0x0b] << 8); }
    std::string Slot() const;
};

/* The device selection options of a subcommand (-s and -d). */
struct Selection {
    std::string slotText, idText;
    mutable qorbcli::SlotSelector slot;   /* filled by Parse() */
    mutable qorbcli::IdSelector ids;
    bool Given() const { return !slotText.empty() || !idText.empty(); }
    void AddOptions(CLI::App* cmd);
    void Parse() const;  /* throws UsageError for a malformed selector */
    std::string Text() const;
};

/* The scan: every location the selection allows, buses 0 to 255, is
 * probed with FindDevice by location, in bus order. (The library's own
 * searches stop at bus 254; a probe by location reaches bus 255 too.) */
std::vector<Function> Scan(const Selection& selection);
/* Exactly one function, or a UsageError naming why not. */
Function ScanOne(const Selection& selection, const char* command);
/* A new record for a function found before. */
Device OpenFunction(const Function& f);
/* OpenDevice on a record. The parent record it links belongs to the caller:
 * it comes back owned, to be closed at the end (empty when there is none). */
Device OpenLinked(void* device, _QORB_ACCESS_MODE_t mode);

/* Reads configuration space through the library; false on a failed read. */
bool ReadConfig(void* device, uint32_t offset, uint32_t length, uint8_t* buffer);
/* 256 bytes, then all 4096 when the extended space can be read. */
std::vector<uint8_t> ReadConfigImage(void* device);
/* The PCI Express capability structure; false when it cannot be had. */
bool ReadPcieCapability(void* device, _PCIE_CAPABILITY_STRUCT_t* cap);
/* The library's capability walk of a device: legacy list, then extended.
 * *stop tells why it ended early ("" when it reached the end). Bounded by
 * the number of capabilities configuration space can hold. */
std::vector<_QORB_PCI_DEVICE_CAP_INFO_t> WalkCapabilities(void* device, std::string* stop);
/* Slot text of any device record. */
std::string DeviceSlot(void* device);

void AddScanCommand(CLI::App& app);
void AddTreeCommand(CLI::App& app);
void AddCapsCommand(CLI::App& app);
void AddRegisterCommands(CLI::App& app);
void AddLinkCommand(CLI::App& app);
void AddAerCommand(CLI::App& app);
void AddZebCommand(CLI::App& app);
void AddCheckCommand(CLI::App& app);

/* The status the running subcommand asks main to exit with. */
int& ExitStatus();

} // namespace qorbtool

namespace qorbtool {

/* Link helpers shared by "qorb link" and "qorb check". */
struct LinkWait {
    int32_t delayMs = 10;     /* each test of Link Training waits this long first */
    unsigned tries = 100;     /* and is repeated at most this often */
};
/* Tests Link Training of the port until it is clear; false when it is still
 * set after every try (or the port cannot be read). */
bool WaitForTraining(void* port, const LinkWait& wait);
/* The port at the upstream end of an opened DUT's link, or null. The record
 * belongs to the DUT's record. */
void* PortOf(void* dut);
/* Link Status of a device, or -1 when it cannot be read. */
int ReadLinkStatus(void* device);

/* The library's thirteen AER status assertions. */
using AerAssertFn = _QORB_STATUS_t (*)(void* device, void* log, int32_t expected, int32_t clear);
struct AerAssertion {
    const char* field;      /* "Bad TLP" */
    bool correctable;       /* Correctable (AER 0x10) or Uncorrectable (AER 0x04) Error Status */
    uint32_t mask;
    AerAssertFn assert;
};
const std::vector<AerAssertion>& AerAssertions();
const AerAssertion* FindAerAssertion(AerAssertFn fn);

/* The errors the test card injects, with the AER bit each must set in the
 * DUT and the packet that shows it in the trace. */
enum class Evidence {
    kDllp,          /* DLLPs of the type, found with the library's DLLP search */
    kTlp,           /* TLPs with the Fmt/Type byte, found with the library's TLP search */
    kReplay,        /* TLPs the card put on the link itself (replays) */
    kUrCompletion,  /* completions with status Unsupported Request */
    kUnanswered,    /* configuration requests left without completion */
};
struct Injection {
    const char* name;       /* the operand of "qorb zeb inject" */
    uint32_t command;       /* _QORB_ZEB_CMD_t */
    AerAssertFn assertion;
    Evidence evidence;
    uint8_t type;           /* DLLP type or TLP Fmt/Type byte */
    unsigned minimum;       /* packets needed */
    const char* evidenceText;
};
const std::vector<Injection>& Injections();
const Injection* FindInjection(const std::string& name);

/* The first ZEB of the scan when the selection is empty, else the one
 * function selected, which must be a ZEB. */
Device OpenZeb(const Selection& selection, std::string* slot);

} // namespace qorbtool

#endif
