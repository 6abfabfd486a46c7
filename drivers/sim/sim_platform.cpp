/* Loading the platform and routing configuration accesses to functions. */
#include "sim_platform.h"

#include <linux/pci_regs.h>

#include <algorithm>

#include "sim_builtin.h"
#include "sim_dump.h"

namespace qorbsim {

Platform::Platform() : m_index(kBuses * kDevices * kFunctions, nullptr), m_cardOfBus(kBuses, -1) {}

bool Platform::Load(const SimConfig& config)
{
    std::vector<FunctionImage> images;
    bool ok = true;
    if (config.dumps.empty()) {
        images = BuiltinPlatform();
    } else {
        for (const std::string& path : config.dumps)
            ok = ReadDumpFile(path, images) && ok;
    }
    int otherDomains = 0;
    m_domain = config.domain;
    for (const FunctionImage& image : images) {
        if (std::find(m_domains.begin(), m_domains.end(), image.domain) == m_domains.end())
            m_domains.insert(std::upper_bound(m_domains.begin(), m_domains.end(), image.domain), image.domain);
        if (image.domain != m_domain) {
            ++otherDomains;
            continue;
        }
        ok = Add(image) && ok;
    }
    if (otherDomains && !config.domainChosen)
        Report("%d function(s) outside PCI domain %x skipped: only domain %x is simulated", otherDomains, m_domain,
               m_domain);
    if (!ok || !ApplyListBreaks(config))
        return false;
    std::vector<SimFunction*> all;
    for (const auto& f : m_functions) {
        ApplyRegisterRules(*f);
        all.push_back(f.get());
    }
    m_links.Setup(all, config.trainingMs);
    FindCards();
    return ApplyPresets(config);
}

bool Platform::Add(const FunctionImage& image)
{
    SimFunction*& slot = m_index[(image.bus * kDevices + image.dev) * kFunctions + image.fn];
    if (slot) {
        Report("%s: function %02x:%02x.%x is already defined at %s", image.origin.c_str(), image.bus, image.dev,
               image.fn, slot->Origin().c_str());
        return false;
    }
    m_functions.push_back(std::make_unique<SimFunction>(image));
    slot = m_functions.back().get();
    return true;
}

/* A card is a downstream function (5a45:0002) whose bus is the secondary
 * bus of an upstream function (5a45:0001). */
void Platform::FindCards()
{
    for (const auto& down : m_functions) {
        if (down->Get16(PCI_VENDOR_ID) != kZebVendor || down->Get16(PCI_DEVICE_ID) != kZebDownstreamDevice ||
            down->HeaderType() != PCI_HEADER_TYPE_BRIDGE)
            continue;
        for (const auto& up : m_functions) {
            if (up->Get16(PCI_VENDOR_ID) == kZebVendor && up->Get16(PCI_DEVICE_ID) == kZebUpstreamDevice &&
                up->HeaderType() == PCI_HEADER_TYPE_BRIDGE && up->Get8(PCI_SECONDARY_BUS) == down->Bus()) {
                m_cards.push_back(std::make_unique<ZebCard>(*this, *up, *down));
                break;
            }
        }
    }
    /* A bus below several cards belongs to the nearest: the one with the
     * narrowest bus range. */
    for (uint32_t bus = 0; bus < kBuses; ++bus) {
        int best = -1;
        for (size_t i = 0; i < m_cards.size(); ++i) {
            const ZebCard& c = *m_cards[i];
            if (bus < c.FirstBus() || bus > c.LastBus() || c.FirstBus() <= c.Downstream().Bus())
                continue;
            if (best < 0 || c.LastBus() - c.FirstBus() <
                                m_cards[static_cast<size_t>(best)]->LastBus() - m_cards[static_cast<size_t>(best)]->FirstBus())
                best = static_cast<int>(i);
        }
        m_cardOfBus[bus] = best;
    }
    m_links.onTraining = [this](SimFunction& port) {
        for (const auto& card : m_cards)
            if (&card->Downstream() == &port)
                card->LinkTrains();
    };
}

ZebCard* Platform::CardAt(uint32_t bus, uint32_t dev, uint32_t fn) const
{
    for (const auto& card : m_cards)
        if (card->Owns(bus, dev, fn))
            return card.get();
    return nullptr;
}

ZebCard* Platform::CardAbove(uint32_t bus) const
{
    if (bus >= kBuses || m_cardOfBus[bus] < 0)
        return nullptr;
    return m_cards[static_cast<size_t>(m_cardOfBus[bus])].get();
}

uint32_t Platform::Read(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length, uint8_t* buffer)
{
    SimFunction* f = Find(bus, dev, fn);
    if (!f) {
        CardSees(bus, dev, fn, offset, length, false, nullptr, 0);
        return 0;
    }
    if (f->linkPort >= 0)
        m_links.Refresh(*f);
    uint32_t n = f->Read(offset, length, buffer);
    CardSees(bus, dev, fn, offset, length, false, nullptr, n);
    return n;
}

uint32_t Platform::Write(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                         const uint8_t* buffer)
{
    SimFunction* f = Find(bus, dev, fn);
    if (!f) {
        CardSees(bus, dev, fn, offset, length, true, buffer, 0);
        return 0;
    }
    if (f->linkPort >= 0)
        m_links.Refresh(*f);
    uint16_t cap = f->FindLegacyCap(PCI_CAP_ID_EXP);
    uint64_t control = cap + PCI_EXP_LNKCTL;
    bool linkControl = cap && offset < control + 2 && uint64_t{offset} + length > control;
    uint16_t oldControl = linkControl ? f->Get16(static_cast<uint32_t>(control)) : 0;
    uint32_t n = f->Write(offset, length, buffer);
    if (linkControl && n > control - offset)
        m_links.AfterLinkControlWrite(*f, oldControl);
    CardSees(bus, dev, fn, offset, length, true, buffer, n);
    return n;
}

} // namespace qorbsim
