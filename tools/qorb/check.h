/* "qorb check": the checklist run on every DUT of a platform file. */
#ifndef QORB_TOOL_CHECK_H
#define QORB_TOOL_CHECK_H

#include <functional>
#include <optional>
#include <vector>

#include "checklist.h"
#include "platform_file.h"
#include "tool.h"

namespace qorbtool {

/* The logs of a run; assertions and verdicts go to each of them. */
struct CheckLogs {
    void* console = nullptr;
    void* text = nullptr;   /* --log */
    void* xml = nullptr;
    /* In the order the AER assertions are called; the one that may clear
     * a status bit comes last, so every log sees the same verdict. */
    std::vector<void*> All() const;
};

/* One DUT as the checks see it. */
struct CheckDut {
    void* device = nullptr;   /* opened: its parent link is set */
    std::string slot;
    uint8_t bus = 0, dev = 0, fn = 0;
    uint16_t vendor = 0, deviceId = 0;

    /* Its configuration space (ReadConfigImage), read once when a check
     * first asks: the read-only checks share it (4 KiB is 1,024 reads on
     * hardware), and what they read does not change under them. The write
     * probes and the link checks read the live registers themselves. */
    const std::vector<uint8_t>& Image() const
    {
        if (!m_image)
            m_image = ReadConfigImage(device);
        return *m_image;
    }

private:
    mutable std::optional<std::vector<uint8_t>> m_image;
};

struct CheckSettings {
    LinkWait wait;
    bool linkChecks = true;
    bool injectChecks = true;
    bool writes = false; /* --writes: the write probes run */
};

/* The DUTs of a run, each with the criteria FindDevice takes. */
struct DutList {
    std::string source; /* "platform FILE", or how the list was made */
    std::vector<qorbcli::PlatformDut> duts;
};
/* The DUTs of the platform file, checked by the tool before the library
 * reads it; without one, those of the simulated platform's example file on
 * the simulated driver, else the PCI Express endpoints of the scan. Throws
 * a UsageError. */
DutList LoadDuts(const std::string& platform, const Session& session);

/* The checks; each fills the outcome, message and details of its result. */
void CheckConfigHeader(const CheckDut& dut, qorbcli::CheckResult& r);
void CheckCapabilityLists(const CheckDut& dut, qorbcli::CheckResult& r);
void CheckPcieCapability(const CheckDut& dut, qorbcli::CheckResult& r);
/* The field-level rules (check_rules.cpp); their results go in r.rules. */
void CheckRegisterRules(const CheckDut& dut, qorbcli::CheckResult& r);
void CheckWriteProbes(const CheckDut& dut, qorbcli::CheckResult& r);
void CheckAerClear(const CheckDut& dut, const CheckLogs& logs, qorbcli::CheckResult& r);
void CheckRetrain(const CheckDut& dut, const CheckSettings& settings, qorbcli::CheckResult& r);
void CheckDisableEnable(const CheckDut& dut, const CheckSettings& settings, qorbcli::CheckResult& r);

/* The ZEB above a DUT, found once for all injection checks. */
class ZebAbove {
public:
    explicit ZebAbove(const CheckDut& dut);
    void* Card() const { return m_card; }
    const std::string& Reason() const { return m_reason; }  /* why there is no card */
    const std::string& Slot() const { return m_slot; }
    ZebAbove(const ZebAbove&) = delete;
    ZebAbove& operator=(const ZebAbove&) = delete;

private:
    Device m_first, m_second;
    void* m_card = nullptr;
    std::string m_reason, m_slot;
};
void CheckInjection(const CheckDut& dut, const CheckLogs& logs, const ZebAbove& zeb, const Injection& injection,
                    qorbcli::CheckResult& r);
qorbcli::CheckKind InjectionCheck(const Injection& injection);

/* Verdicts of one AER assertion on every log; answers the status of the
 * last call, the only one that may clear the bit. */
_QORB_STATUS_t AssertOnLogs(AerAssertFn fn, void* dut, const CheckLogs& logs, int32_t expected, bool clear);

} // namespace qorbtool

#endif
