/* What libpci (pciutils), a decoder independent of qorb, reads: the functions
 * of a dump in the text format of lspci -x, -xxx or -xxxx (its dump access
 * method) or of this machine (its sysfs method), with the configuration bytes
 * libpci has and the capability lists as libpci walks them. */
#ifndef QORB_PCI_ORACLE_H
#define QORB_PCI_ORACLE_H

#include <stdint.h>
#include <stdio.h>

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
    std::vector<uint8_t> bytes; /* 64, 256 or 4096 from a dump */
    std::vector<Cap> caps; /* the legacy list, then the extended list */
    uint32_t Get(uint32_t at, uint32_t width = 4) const /* all ones past the bytes */
    {
        uint32_t value = 0;
        for (uint32_t i = width; i-- > 0;)
            value = value << 8 | (at + i < bytes.size() ? bytes[at + i] : 0xFF);
        return value;
    }
    uint32_t HeaderType() const { return bytes[0x0E] & 0x7F; }
    /* The bus below a bridge, PCI-to-PCI or CardBus (both keep it at 0x19); 0x100 for other functions. */
    uint32_t Secondary() const { return HeaderType() % 3 && bytes[0x0B] == 0x06 ? bytes[0x19] : 0x100; }
};

/* The functions of a dump file, or of this machine for "", in location order. */
inline std::vector<Function> Read(const std::string& dump)
{
    pci_access* access = pci_alloc();
    access->method = dump.empty() ? PCI_ACCESS_SYS_BUS_PCI : PCI_ACCESS_DUMP;
    pci_set_param(access, const_cast<char*>("dump.name"), const_cast<char*>(dump.c_str()));
    pci_init(access);
    pci_scan_bus(access);
    std::vector<Function> out;
    for (pci_dev* d = access->devices; d; d = d->next) {
        pci_fill_info(d, PCI_FILL_IDENT | PCI_FILL_CAPS | PCI_FILL_EXT_CAPS);
        Function f{uint32_t(d->domain), d->bus, d->dev, d->func, std::vector<uint8_t>(4096), {}};
        size_t n = 0; /* the longest run libpci reads from offset 0 */
        for (size_t step = 4096; step; step /= 2)
            n += n + step <= 4096 && pci_read_block(d, 0, f.bytes.data(), int(n + step)) ? step : 0;
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

/* Capabilities as "ID@offset", extended ones "eID@offset", in hex. */
inline std::string Text(const std::vector<Cap>& caps)
{
    std::string text;
    char item[24];
    for (const Cap& c : caps)
        snprintf(item, sizeof item, " %s%x@%x", c.extended ? "e" : "", c.id, c.offset), text += item;
    return text.empty() ? text : text.substr(1);
}

} // namespace oracle

#endif
