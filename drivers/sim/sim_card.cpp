/* Behaviour of the simulated ZEB test card.
 *
 * Traffic: every configuration access to a bus below the card's downstream
 * function crosses the monitored link as one configuration request per
 * doubleword (byte enables for partial doublewords) and its completion; an
 * access to an absent function is one request answered Unsupported Request.
 * The receiver of each TLP acknowledges it (Ack DLLP) and a function that
 * received a request returns its credit (UpdateFC-NP). When the link trains,
 * both sides send InitFC1 and InitFC2 for posted, non-posted and completion
 * credits. Requests come from the root complex (requester ID 0000).
 *
 * Commands act in inject mode while armed, on the packets they can act on
 * (TLPs: bad TLP, replay timer timeout, replay number rollover, unsupported
 * request; completions: completion timeout; DLLPs: bad DLLP; any packet:
 * receiver error, data link and flow control protocol errors), filtered by
 * the command's packet kind and interval, count times. Every action adds 1
 * to the action count and sets the matching AER status bit (and Device
 * Status bit) of the function below: the function the packet concerns, or
 * function 0 of the bus below the card. The configuration access itself is
 * still answered normally: only the trace and the status bits show it. */
#include "sim_card.h"

#include <linux/pci_regs.h>
#include <string.h>

#include "sim_platform.h"

namespace qorbsim {
namespace {

constexpr uint16_t kRootComplex = 0x0000;   /* requester ID of the host */
constexpr int kRolloverReplays = 4;
constexpr uint16_t kSequenceMask = 0x0FFF;

Direction Opposite(Direction d)
{
    return d == Direction::kDownstream ? Direction::kUpstream : Direction::kDownstream;
}

TraceKind KindOf(Direction d)
{
    return d == Direction::kDownstream ? TraceKind::kTlpDownstream : TraceKind::kTlpUpstream;
}

uint16_t Id(uint32_t bus, uint32_t dev, uint32_t fn) { return static_cast<uint16_t>(bus << 8 | dev << 3 | fn); }

bool ActsOnTlps(uint32_t command)
{
    return command == QORB_ZEB_CMD_BAD_TLP || command == QORB_ZEB_CMD_REPLAY_TIMER_TIMEOUT ||
           command == QORB_ZEB_CMD_REPLAY_NUM_ROLLOVER || command == QORB_ZEB_CMD_UNSUPPORTED_REQUEST ||
           command == QORB_ZEB_CMD_COMPLETION_TIMEOUT;
}

} // namespace

ZebCard::ZebCard(const Platform& platform, SimFunction& upstream, SimFunction& downstream)
    : m_platform(platform), m_upstream(upstream), m_downstream(downstream),
      m_firstBus(downstream.Get8(PCI_SECONDARY_BUS)), m_lastBus(downstream.Get8(PCI_SUBORDINATE_BUS))
{
}

bool ZebCard::Owns(uint32_t bus, uint32_t dev, uint32_t fn) const
{
    auto is = [&](const SimFunction& f) { return f.Bus() == bus && f.Dev() == dev && f.Fn() == fn; };
    return is(m_upstream) || is(m_downstream);
}

bool ZebCard::LinkUp() const
{
    uint16_t cap = m_downstream.FindLegacyCap(PCI_CAP_ID_EXP);
    return !m_downstream.hidden && !(m_downstream.Get16(cap + PCI_EXP_LNKCTL) & PCI_EXP_LNKCTL_LD);
}

bool ZebCard::Recording() const { return m_armed && !m_suspended && m_mode != QORB_ZEB_MODE_PASSTHROUGH; }

void ZebCard::ConfigAccess(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length, bool write,
                           const uint8_t* data, uint32_t served)
{
    if (!m_armed || dev >= kDevices || fn >= kFunctions || !LinkUp())
        return;
    SimFunction* target = m_platform.Find(bus, dev, fn);
    SimFunction* below = target ? target : m_platform.Find(m_firstBus, 0, 0);
    bool type1 = bus != m_firstBus;
    uint16_t completer = Id(bus, dev, fn);
    /* An absent function is asked once, for the first doubleword. */
    uint32_t first = 4 - (offset & 3);
    uint64_t end = uint64_t{offset} + (target ? served : (length < first ? length : first));
    uint8_t status = target ? kCplSuccess : kCplUnsupported;
    for (uint64_t dword = offset & ~3u; dword < end; dword += 4) {
        uint8_t enables = 0;
        uint8_t lanes[4] = {};
        for (uint32_t lane = 0; lane < 4; ++lane) {
            uint64_t at = dword + lane;
            if (at < offset || at >= end)
                continue;
            enables |= static_cast<uint8_t>(1u << lane);
            if (write)
                lanes[lane] = data[at - offset];
        }
        uint8_t tag = m_tag++;
        SendTlp(Direction::kDownstream,
                ConfigRequest(write, type1, kRootComplex, tag, static_cast<uint8_t>(bus), static_cast<uint8_t>(dev),
                              static_cast<uint8_t>(fn), static_cast<uint32_t>(dword), enables, lanes),
                below);
        uint8_t value[4] = {};
        bool withData = target && !write;
        if (withData)
            target->Read(static_cast<uint32_t>(dword), 4, value);
        SendTlp(Direction::kUpstream, ConfigCompletion(status, completer, kRootComplex, tag, withData ? value : nullptr),
                below);
    }
}

void ZebCard::LinkTrains()
{
    if (!m_armed)
        return;
    static const struct {
        uint8_t type, header;
        uint16_t data;
    } credits[] = {{kDllpInitFc1P, 0x20, 0x100}, {kDllpInitFc1Np, 0x20, 0x000}, {kDllpInitFc1Cpl, 0x00, 0x000},
                   {kDllpInitFc2P, 0x20, 0x100}, {kDllpInitFc2Np, 0x20, 0x000}, {kDllpInitFc2Cpl, 0x00, 0x000}};
    SimFunction* below = m_platform.Find(m_firstBus, 0, 0);
    for (const auto& c : credits) {
        SendDllp(Direction::kDownstream, FlowControl(c.type, c.header, c.data), below);
        SendDllp(Direction::kUpstream, FlowControl(c.type, c.header, c.data), below);
    }
}

_QORB_ZEB_CMD_t ZebCard::PickAction(const Packet& packet)
{
    uint32_t command = m_command.command;
    if (!m_armed || m_mode != QORB_ZEB_MODE_INJECT || command == QORB_ZEB_CMD_NONE || m_remaining == 0)
        return QORB_ZEB_CMD_NONE;
    if (packet.tlp) {
        if (command == QORB_ZEB_CMD_BAD_DLLP)
            return QORB_ZEB_CMD_NONE;
        if (command == QORB_ZEB_CMD_COMPLETION_TIMEOUT && !packet.tlp->IsCompletion())
            return QORB_ZEB_CMD_NONE;
        if (m_command.packetKind == 2 || (m_command.packetKind == 1 && packet.tlp->bytes[0] != m_command.tlpType))
            return QORB_ZEB_CMD_NONE;
    } else {
        if (ActsOnTlps(command))
            return QORB_ZEB_CMD_NONE;
        if (m_command.packetKind == 1 ||
            (m_command.packetKind == 2 && DllpKind(packet.dllp->Type()) != DllpKind(m_command.dllpType)))
            return QORB_ZEB_CMD_NONE;
    }
    ++m_matches;
    if (m_command.interval > 1 && m_matches % m_command.interval != 0)
        return QORB_ZEB_CMD_NONE;
    --m_remaining;
    ++m_actions;
    return static_cast<_QORB_ZEB_CMD_t>(command);
}

void ZebCard::Record(TraceKind kind, const Tlp& tlp)
{
    if (Recording())
        m_trace.Tlp(kind, tlp);
}

void ZebCard::Record(Direction direction, const Dllp& dllp)
{
    if (Recording())
        m_trace.Dllp(direction, dllp);
}

void ZebCard::SendTlp(Direction direction, const Tlp& tlp, SimFunction* below)
{
    uint16_t sequence = m_sequence[static_cast<int>(direction)]++ & kSequenceMask;
    _QORB_ZEB_CMD_t action = PickAction({&tlp, nullptr});
    Direction back = Opposite(direction);
    if (action == QORB_ZEB_CMD_COMPLETION_TIMEOUT) {
        /* Swallowed: never forwarded, never acknowledged. */
        LogError(below, true, PCI_ERR_UNC_COMP_TIME);
        return;
    }
    Record(KindOf(direction), tlp);
    switch (action) {
    case QORB_ZEB_CMD_BAD_TLP:
    case QORB_ZEB_CMD_RECEIVER_ERROR:
        LogError(below, false, action == QORB_ZEB_CMD_BAD_TLP ? PCI_ERR_COR_BAD_TLP : PCI_ERR_COR_RCVR);
        Record(back, AckNak(kDllpNak, static_cast<uint16_t>((sequence - 1) & kSequenceMask)));
        Record(TraceKind::kTlpByCard, tlp);
        break;
    case QORB_ZEB_CMD_REPLAY_TIMER_TIMEOUT:
        /* The Ack is dropped: the transmitter's replay timer runs out. */
        LogError(below, false, PCI_ERR_COR_REP_TIMER);
        Record(TraceKind::kTlpByCard, tlp);
        break;
    case QORB_ZEB_CMD_REPLAY_NUM_ROLLOVER:
        for (int i = 0; i < kRolloverReplays; ++i)
            Record(TraceKind::kTlpByCard, tlp);
        LogError(below, false, PCI_ERR_COR_REP_ROLL);
        break;
    default:
        break;
    }
    SendDllp(back, AckNak(kDllpAck, sequence), below);
    if (!tlp.IsCompletion())
        SendDllp(back, FlowControl(kDllpUpdateFcNp, 1, 0), below);
    InjectAfter(action, sequence, below);
}

void ZebCard::SendDllp(Direction direction, Dllp dllp, SimFunction* below)
{
    _QORB_ZEB_CMD_t action = PickAction({nullptr, &dllp});
    if (action == QORB_ZEB_CMD_BAD_DLLP) {
        CorruptCrc(dllp);
        LogError(below, false, PCI_ERR_COR_BAD_DLLP);
    } else if (action == QORB_ZEB_CMD_RECEIVER_ERROR) {
        LogError(below, false, PCI_ERR_COR_RCVR);
    }
    Record(direction, dllp);
    InjectAfter(action, static_cast<uint16_t>((dllp.bytes[2] << 8 | dllp.bytes[3]) & kSequenceMask),
                below);
}

/* Packets the card puts on the link itself after the one it acted on. */
void ZebCard::InjectAfter(_QORB_ZEB_CMD_t action, uint16_t sequence, SimFunction* below)
{
    switch (action) {
    case QORB_ZEB_CMD_UNSUPPORTED_REQUEST: {
        /* A type 1 configuration read: a function below answers it with
         * Unsupported Request. */
        uint8_t zeros[4] = {};
        uint8_t bus = below ? below->Bus() : m_firstBus;
        uint8_t dev = below ? below->Dev() : 0;
        uint8_t fn = below ? below->Fn() : 0;
        uint8_t tag = m_tag++;
        Record(TraceKind::kTlpByCard, ConfigRequest(false, true, kRootComplex, tag, bus, dev, fn, 0, 0x0F, zeros));
        Record(TraceKind::kTlpUpstream, ConfigCompletion(kCplUnsupported, Id(bus, dev, fn), kRootComplex, tag,
                                                         nullptr));
        LogError(below, true, PCI_ERR_UNC_UNSUP);
        break;
    }
    case QORB_ZEB_CMD_DL_PROTOCOL_ERROR:
        /* An Ack for a sequence number that was never sent. */
        Record(Direction::kDownstream, AckNak(kDllpAck, static_cast<uint16_t>((sequence + 0x800) & kSequenceMask)));
        LogError(below, true, PCI_ERR_UNC_DLP);
        break;
    case QORB_ZEB_CMD_FC_PROTOCOL_ERROR:
        /* More credit than was ever advertised. */
        Record(Direction::kDownstream, FlowControl(kDllpUpdateFcNp, 0xFF, 0x0FFF));
        LogError(below, true, PCI_ERR_UNC_FCP);
        break;
    default:
        break;
    }
}

/* The error as the function below records it: the AER status bit, and the
 * Device Status bit of its class (uncorrectable errors are fatal or not as
 * the AER severity register says). */
void ZebCard::LogError(SimFunction* below, bool uncorrectable, uint32_t bit)
{
    if (!below)
        return;
    uint32_t aer = below->FindExtendedCap(PCI_EXT_CAP_ID_ERR);
    uint32_t pcie = below->FindLegacyCap(PCI_CAP_ID_EXP);
    bool fatal = false;
    if (aer && aer + PCI_ERR_CAP <= below->Length()) {
        uint32_t status = aer + (uncorrectable ? PCI_ERR_UNCOR_STATUS : PCI_ERR_COR_STATUS);
        below->Set32(status, below->Get32(status) | bit);
        fatal = uncorrectable && (below->Get32(aer + PCI_ERR_UNCOR_SEVER) & bit);
    }
    if (pcie) {
        uint16_t devsta = below->Get16(pcie + PCI_EXP_DEVSTA);
        devsta |= !uncorrectable ? PCI_EXP_DEVSTA_CED : fatal ? PCI_EXP_DEVSTA_FED : PCI_EXP_DEVSTA_NFED;
        if (bit == PCI_ERR_UNC_UNSUP)
            devsta |= PCI_EXP_DEVSTA_URD;
        below->Set16(pcie + PCI_EXP_DEVSTA, devsta);
    }
}

uint32_t ZebCard::Arm()
{
    m_armed = true;
    m_suspended = false;
    m_actions = 0;
    m_matches = 0;
    m_trace.Restart();
    m_trace.Event(TraceKind::kArmed);
    return QORB_SUCCESS;
}

uint32_t ZebCard::Disarm()
{
    m_armed = false;
    return QORB_SUCCESS;
}

uint32_t ZebCard::Suspend()
{
    if (Recording())
        m_trace.Event(TraceKind::kSuspended);
    m_suspended = true;
    return QORB_SUCCESS;
}

uint32_t ZebCard::Resume()
{
    bool was = m_suspended;
    m_suspended = false;
    if (was && Recording())
        m_trace.Event(TraceKind::kResumed);
    return QORB_SUCCESS;
}

uint32_t ZebCard::ChangeMode(_QORB_ZEB_OP_MODE_t mode)
{
    if (mode != QORB_ZEB_MODE_PASSTHROUGH && mode != QORB_ZEB_MODE_MONITOR && mode != QORB_ZEB_MODE_INJECT)
        return QORB_INVALID_PARAMETER;
    m_mode = mode;
    return QORB_SUCCESS;
}

uint32_t ZebCard::QueryMode(_QORB_ZEB_OP_MODE_t* mode) const
{
    if (!mode)
        return QORB_INVALID_PARAMETER;
    *mode = m_mode;
    return QORB_SUCCESS;
}

uint32_t ZebCard::Program(const _qorb_cmd_map_t* command)
{
    if (!command || command->command > QORB_ZEB_CMD_FC_PROTOCOL_ERROR || command->packetKind > 2)
        return QORB_INVALID_PARAMETER;
    m_command = *command;
    m_remaining = command->command == QORB_ZEB_CMD_NONE ? 0 : (command->count ? command->count : 1);
    m_matches = 0;
    return QORB_SUCCESS;
}

uint32_t ZebCard::ActionCount(uint32_t* count) const
{
    if (!count)
        return QORB_INVALID_PARAMETER;
    *count = m_actions;
    return QORB_SUCCESS;
}

uint32_t ZebCard::GetConfig(uint32_t* config) const
{
    if (!config)
        return QORB_INVALID_PARAMETER;
    *config = m_trace.config;
    return QORB_SUCCESS;
}

uint32_t ZebCard::SetConfig(uint32_t config)
{
    m_trace.config = config;
    return QORB_SUCCESS;
}

uint32_t ZebCard::BufferSize(uint32_t* bytes) const
{
    if (!bytes)
        return QORB_INVALID_PARAMETER;
    *bytes = static_cast<uint32_t>(m_trace.Bytes().size());
    return QORB_SUCCESS;
}

uint32_t ZebCard::ReadBuffer(uint32_t* bytes, uint8_t* buffer) const
{
    if (!bytes || (!buffer && *bytes))
        return QORB_INVALID_PARAMETER;
    uint32_t n = static_cast<uint32_t>(m_trace.Bytes().size());
    if (*bytes < n)
        n = *bytes;
    if (n)
        memcpy(buffer, m_trace.Bytes().data(), n);
    *bytes = n;
    return QORB_SUCCESS;
}

uint32_t ZebCard::WritePattern(uint32_t pattern)
{
    m_trace.Pattern(pattern);
    return QORB_SUCCESS;
}

uint32_t ZebCard::Properties(_qorb_zeb_query_prop_t* p) const
{
    if (!p)
        return QORB_INVALID_PARAMETER;
    uint16_t cap = m_downstream.FindLegacyCap(PCI_CAP_ID_EXP);
    uint16_t link = cap ? m_downstream.Get16(cap + PCI_EXP_LNKSTA) : 0;
    *p = _qorb_zeb_query_prop_t{};
    p->traceBufferSize = kTraceCapacity;
    p->firmwareRevision = 1u << 16;
    p->hardwareRevision = 1;
    p->linkWidth = (link & PCI_EXP_LNKSTA_NLW) >> PCI_EXP_LNKSTA_NLW_SHIFT;
    p->linkSpeed = link & PCI_EXP_LNKSTA_CLS;
    p->mode = m_mode;
    p->armed = m_armed;
    p->loggingSuspended = m_suspended;
    p->bytesRecorded = static_cast<uint32_t>(m_trace.Bytes().size());
    return QORB_SUCCESS;
}

} // namespace qorbsim
