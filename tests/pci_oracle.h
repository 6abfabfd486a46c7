/* What libpci (pciutils), a decoder independent of qorb, reads: the
 * functions of a dump file in the text format of lspci -x, -xxx or -xxxx
 * (its dump access method), or of this machine (its sysfs method), each with
 * the configuration bytes libpci has and its capability lists as libpci
 * walks them. */
#ifndef QORB_PCI_ORACLE_H
#define QORB_PCI_ORACLE_H

#include <stdint.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

extern "C" {
#include <pci/pci.h>
}

namespace oracle {

struct Cap {
    uint32_t offset, id;
    bool extended;
};

struct Function {
    uint32_t domain, bus, dev, fn;
    std::vector<uint8_t> bytes;   /* as many as libpci has: 64, 256 or 4096 from a dump */
    std::vector<Cap> caps;        /* the legacy list, then the extended list, in list order */

    /* A little-endian register; all ones past the bytes. */
    uint32_t Get(uint32_t at, uint32_t width = 4) const
    {
        uint32_t value = 0;
        for (uint32_t i = width; i-- > 0;)
            value = value << 8 | (at + i < bytes.size() ? bytes[at + i] : 0xFF);
        return value;
    }
    uint32_t HeaderType() const { return bytes[0x0E] & 0x7F; }
};

/* The functions of a dump file, or of this machine for "", in location
 * order. */
inline std::vector<Function> Read(const std::string& dump)
{
    pci_access* access = pci_alloc();
    access->method = dump.empty() ? PCI_ACCESS_SYS_BUS_PCI : PCI_ACCESS_DUMP;
    if (!dump.empty())
        pci_set_param(access, const_cast<char*>("dump.name"), const_cast<char*>(dump.c_str()));
    pci_init(access);
    pci_scan_bus(access);
    std::vector<Function> out;
    for (pci_dev* d = access->devices; d; d = d->next) {
        pci_fill_info(d, PCI_FILL_IDENT | PCI_FILL_CAPS | PCI_FILL_EXT_CAPS);
        Function f{static_cast<uint32_t>(d->domain), d->bus, d->dev, d->func, std::vector<uint8_t>(4096), {}};
        size_t n = 0;   /* the longest run libpci reads from offset 0 */
        for (size_t step = 4096; step; step /= 2)
            n += n + step <= 4096 && pci_read_block(d, 0, f.bytes.data(), static_cast<int>(n + step)) ? step : 0;
        f.bytes.resize(n);
        for (pci_cap* c = d->first_cap; c; c = c->next)
            f.caps.push_back({c->addr, c->id, c->type == PCI_CAP_EXTENDED});
        out.push_back(f);
    }
    pci_cleanup(access);
    auto at = [](const Function& f) { return std::tie(f.domain, f.bus, f.dev, f.fn); };
    std::sort(out.begin(), out.end(), [&](const Function& a, const Function& b) { return at(a) < at(b); });
    return out;
}

/* What qorb's capability walk yields for f by its rules: nothing for a
 * header type other than 0 or 1; a legacy list whose first capability has
 * no length (IDs 2 to 4) or lies outside 0x40-0x100 is skipped, and one
 * without a length met later ends the walk; the extended list follows only
 * when the typed lookup finds exactly one PCI Express capability in a legacy
 * list within 0x40-0x100 (*express: its offset, else 0), and ends before the
 * first ID other than 1 to 4. */
inline std::vector<Cap> ExpectedWalk(const Function& f, uint32_t* express)
{
    auto sized = [](const Cap& c) { return c.extended ? c.id >= 1 && c.id <= 4 : c.id < 2 || c.id > 4; };
    auto outside = [](const Cap& c) { return !c.extended && (c.offset < 0x40 || c.offset > 0x100); };
    auto pcie = [](const Cap& c) { return !c.extended && c.id == 0x10; };
    bool one = std::count_if(f.caps.begin(), f.caps.end(), pcie) == 1 && f.HeaderType() <= 1 &&
               std::none_of(f.caps.begin(), f.caps.end(), outside);
    *express = one ? std::find_if(f.caps.begin(), f.caps.end(), pcie)->offset : 0;
    bool skip = !f.caps.empty() && (!sized(f.caps[0]) || outside(f.caps[0]));
    std::vector<Cap> walk;
    for (const Cap& c : f.caps)
        if (c.extended || !skip) {
            if (f.HeaderType() > 1 || !sized(c) || (c.extended && !*express))
                break;
            walk.push_back(c);
        }
    return walk;
}

} // namespace oracle

#endif
