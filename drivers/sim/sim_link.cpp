/* Link behaviour of downstream ports. Link Training and Data Link Layer
 * Link Active are kept in the port's Link Status register itself; a
 * training's end is noticed when the port is next read (monotonic clock), so
 * nothing runs in the background. */
#include "sim_link.h"

#include <linux/pci_regs.h>

namespace qorbsim {

void LinkModel::Setup(const std::vector<SimFunction*>& functions, uint32_t trainingMs)
{
    m_functions = functions;
    m_ports.clear();
    m_trainingTime = std::chrono::milliseconds(trainingMs);
    for (SimFunction* f : functions) {
        int type = f->PortType();
        if ((type != PCI_EXP_TYPE_ROOT_PORT && type != PCI_EXP_TYPE_DOWNSTREAM) ||
            f->HeaderType() != PCI_HEADER_TYPE_BRIDGE)
            continue;
        Port p{};
        p.function = f;
        p.cap = f->FindLegacyCap(PCI_CAP_ID_EXP);
        p.secondary = f->Get8(PCI_SECONDARY_BUS);
        p.subordinate = f->Get8(PCI_SUBORDINATE_BUS);
        p.linkActiveAtPowerOn = f->Get16(p.cap + PCI_EXP_LNKSTA) & PCI_EXP_LNKSTA_DLLLA;
        f->linkPort = static_cast<int>(m_ports.size());
        m_ports.push_back(p);
    }
    UpdateHidden();
}

void LinkModel::SetStuck(SimFunction& port)
{
    Port& p = m_ports.at(static_cast<size_t>(port.linkPort));
    p.stuck = true;
    PowerOnState(p);
}

uint16_t LinkModel::LinkStatus(const Port& p) const { return p.function->Get16(p.cap + PCI_EXP_LNKSTA); }

void LinkModel::SetLinkStatus(Port& p, uint16_t value) { p.function->Set16(p.cap + PCI_EXP_LNKSTA, value); }

/* A port just out of reset: a stuck port trains for ever. */
void LinkModel::PowerOnState(Port& p)
{
    p.training = false;
    if (p.stuck) {
        p.training = true;
        SetLinkStatus(p, static_cast<uint16_t>((LinkStatus(p) | PCI_EXP_LNKSTA_LT) & ~PCI_EXP_LNKSTA_DLLLA));
    }
}

void LinkModel::Refresh(SimFunction& port)
{
    Port& p = m_ports[static_cast<size_t>(port.linkPort)];
    if (!p.training || p.stuck || Clock::now() < p.trainingEnds)
        return;
    p.training = false;
    uint16_t status = LinkStatus(p) & ~PCI_EXP_LNKSTA_LT;
    if (p.linkActiveAtPowerOn)
        status |= PCI_EXP_LNKSTA_DLLLA;
    SetLinkStatus(p, status);
}

void LinkModel::StartTraining(Port& p)
{
    p.training = true;
    p.trainingEnds = Clock::now() + m_trainingTime;
    SetLinkStatus(p, static_cast<uint16_t>((LinkStatus(p) | PCI_EXP_LNKSTA_LT) & ~PCI_EXP_LNKSTA_DLLLA));
    if (onTraining)
        onTraining(*p.function);
}

void LinkModel::AfterLinkControlWrite(SimFunction& f, uint16_t oldControl)
{
    uint16_t cap = f.FindLegacyCap(PCI_CAP_ID_EXP);
    uint16_t control = f.Get16(cap + PCI_EXP_LNKCTL);
    bool retrain = control & PCI_EXP_LNKCTL_RL;
    /* Retrain Link always reads 0. On anything but a downstream port it and
     * Link Disable are reserved. */
    control &= static_cast<uint16_t>(~PCI_EXP_LNKCTL_RL);
    if (f.linkPort < 0)
        control &= static_cast<uint16_t>(~PCI_EXP_LNKCTL_LD);
    f.Set16(cap + PCI_EXP_LNKCTL, control);
    if (f.linkPort < 0)
        return;
    Port& p = m_ports[static_cast<size_t>(f.linkPort)];
    bool wasDisabled = oldControl & PCI_EXP_LNKCTL_LD;
    bool disabled = control & PCI_EXP_LNKCTL_LD;
    if (disabled && !wasDisabled)
        Disable(p);
    else if (!disabled && wasDisabled)
        Enable(p);
    else if (retrain && !disabled)
        StartTraining(p);
}

void LinkModel::Disable(Port& p)
{
    p.training = false;
    SetLinkStatus(p, static_cast<uint16_t>(LinkStatus(p) & ~(PCI_EXP_LNKSTA_LT | PCI_EXP_LNKSTA_DLLLA)));
    UpdateHidden();
}

/* The link comes back: everything below leaves reset with its power-on
 * contents (ports below included), and the link trains. */
void LinkModel::Enable(Port& p)
{
    for (SimFunction* f : m_functions) {
        if (!Below(p, *f))
            continue;
        f->PowerOnReset();
        if (f->linkPort >= 0)
            PowerOnState(m_ports[static_cast<size_t>(f->linkPort)]);
    }
    UpdateHidden();
    StartTraining(p);
}

bool LinkModel::Below(const Port& p, const SimFunction& f) const
{
    return p.secondary > p.function->Bus() && p.secondary <= p.subordinate && f.Bus() >= p.secondary &&
           f.Bus() <= p.subordinate;
}

void LinkModel::UpdateHidden()
{
    for (SimFunction* f : m_functions)
        f->hidden = false;
    for (const Port& p : m_ports) {
        if (!(p.function->Get16(p.cap + PCI_EXP_LNKCTL) & PCI_EXP_LNKCTL_LD))
            continue;
        for (SimFunction* f : m_functions)
            if (Below(p, *f))
                f->hidden = true;
    }
}

} // namespace qorbsim
