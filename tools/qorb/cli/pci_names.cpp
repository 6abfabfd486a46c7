/* Vendor, device, subsystem and class names from the PCI ID database,
 * looked up through libpci as lspci does. */
#include "names.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

extern "C" {
#include <pci/pci.h>
}

namespace qorbcli {

namespace {

void Quiet(char*, ...) { }

/* libpci's errors do not return. */
[[noreturn]] void Fatal(char* format, ...)
{
    va_list args;
    va_start(args, format);
    fputs("qorb: libpci: ", stderr);
    vfprintf(stderr, format, args);
    fputs("\n", stderr);
    va_end(args);
    exit(2);
}

/* One libpci handle for the process: the database is read once, at the
 * first lookup. A missing database gives numbers, not an error. */
pci_access* Access()
{
    static pci_access* access = [] {
        pci_access* a = pci_alloc();
        a->warning = Quiet;
        a->debug = Quiet;
        a->error = Fatal;
        return a;
    }();
    return access;
}

std::string Lookup(int flags, int a, int b = 0, int c = 0, int d = 0)
{
    char text[256];
    const char* name = pci_lookup_name(Access(), text, sizeof text, flags, a, b, c, d);
    return name ? name : "";
}

} // namespace

std::string ClassName(uint8_t baseClass, uint8_t subClass)
{
    return Lookup(PCI_LOOKUP_CLASS, baseClass << 8 | subClass);
}

std::string VendorName(uint16_t vendor) { return Lookup(PCI_LOOKUP_VENDOR | PCI_LOOKUP_NO_NUMBERS, vendor); }

std::string DeviceName(uint16_t vendor, uint16_t device)
{
    return Lookup(PCI_LOOKUP_DEVICE | PCI_LOOKUP_NO_NUMBERS, vendor, device);
}

std::string SubsystemName(uint16_t vendor, uint16_t device, uint16_t subVendor, uint16_t subDevice)
{
    return Lookup(PCI_LOOKUP_SUBSYSTEM | PCI_LOOKUP_VENDOR | PCI_LOOKUP_DEVICE, vendor, device, subVendor, subDevice);
}

std::string VendorDeviceText(uint16_t vendor, uint16_t device)
{
    return Lookup(PCI_LOOKUP_VENDOR | PCI_LOOKUP_DEVICE, vendor, device);
}

} // namespace qorbcli
