/* Status texts. */
#include <qorb/qorb.h>

namespace {

struct StatusText {
    uint32_t status;
    const char* text;
};

/* Walked in this order; the first matching row gives the text. */
constexpr StatusText kStatusTexts[] = {
    {0x00000000u, "QORB :: SUCCESS"},
    {0x00000001u, "QORB :: MULTIPLE INSTANCES OF CAP FOUND"},
    {0x80000000u, "QORB :: INSUFFICIENT RESOURCES"},
    {0x80000001u, "QORB :: DRIVER INITIALIZATION FAILED"},
    {0x80000003u, "QORB :: INVALID PARAMETER"},
    {0x80000004u, "QORB :: UNSUPPORTED PARAMETER"},
    {0x80000006u, "QORB :: STATUS FAILED"},
    {0x80000007u, "QORB :: NO LOG FILE"},
    {0x80000008u, "QORB :: INVALID LOG FILE HANDLE"},
    {0x80000009u, "QORB :: LOG FILE TOO BIG"},
    {0x8000000au, "QORB :: NO DAT FILE"},
    {0x8000000bu, "QORB :: LOG NOT OPEN"},
    {0x8000000cu, "QORB :: LOG WRITE ERROR"},
    {0x8000001fu, "QORB :: PCIE CONFIG READ FAILED"},
    {0x80000020u, "QORB :: PCIE CONFIG WRITE FAILED"},
    {0x80000021u, "QORB :: PCIE CAP DOES NOT EXIST"},
    {0x80000023u, "QORB :: PCIE CAP DOES NOT EXIST"},
    {0x80000024u, "QORB :: PCIE MULTIPLE INSTANCES OF CAP FOUND"},
};
static_assert(sizeof(kStatusTexts) / sizeof(kStatusTexts[0]) == 18, "eighteen status texts");

} // namespace

QORB_EXTERN_C QORB_API const char* QORBGetErrorDesc(uint32_t status)
{
    for (const StatusText& row : kStatusTexts)
        if (row.status == status)
            return row.text;
    return "QORB :: Invalid Error Code";
}
