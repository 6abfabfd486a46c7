/* The capability walk over a byte image of a function's configuration space,
 * shared by the simulated driver, the tool's rules and the tests. It follows
 * the lists as software must (PCI Express Base Specification, sections
 * 7.5.1.1 and 7.6.3): the low two bits of every pointer are reserved and
 * ignored, the legacy list starts at the Capabilities Pointer (0x14 in a
 * CardBus header) when the Capabilities List status bit is set, the extended
 * list at 0x100. Both walks are bounded: they stop at a pointer into the
 * header, outside the image, or back to a capability already seen, and after
 * as many capabilities as the area can hold (48 legacy, 960 extended). How
 * a walk ended is reported, never acted on. */
#ifndef QORB_COMMON_CAP_WALK_H
#define QORB_COMMON_CAP_WALK_H

#include <stddef.h>
#include <stdint.h>

#include <bitset>
#include <vector>

namespace qorb_caps {

struct Cap {
    uint16_t offset;
    uint16_t id;
    uint8_t version;   /* extended capabilities only */
};

enum class End {
    kEnd,          /* a next pointer of 0 */
    kNoList,       /* no list: status bit clear, header layout without one, no extended space or header */
    kIntoHeader,   /* a pointer below the list's area (0x40 legacy, 0x100 extended) */
    kOutOfSpace,   /* a capability header that does not fit in the image */
    kLoop,         /* a pointer back to a capability already walked */
    kAllOnes,      /* an extended header that reads all ones */
    kTooMany,      /* more capabilities than the area can hold */
};

struct List {
    std::vector<Cap> caps;
    End end = End::kEnd;
    uint32_t at = 0;          /* the pointer the walk ended at (kIntoHeader, kOutOfSpace, kLoop, kAllOnes) */
    uint32_t unaligned = 0;   /* the first pointer as read with a reserved low bit set; 0 when none */
};

constexpr int kMaxLegacy = 48;
constexpr int kMaxExtended = 960;
constexpr uint32_t kLegacyStart = 0x40, kLegacyEnd = 0x100, kExtendedStart = 0x100, kExtendedEnd = 0x1000;

namespace detail {
inline uint32_t Get16(const uint8_t* s, uint32_t at) { return s[at] | s[at + 1] << 8; }
inline uint32_t Get32(const uint8_t* s, uint32_t at) { return Get16(s, at) | Get16(s, at + 2) << 16; }
inline void Note(List& list, uint32_t pointer)
{
    if ((pointer & 3) && !list.unaligned)
        list.unaligned = pointer;
}
} // namespace detail

inline List WalkLegacy(const uint8_t* space, size_t length)
{
    List list;
    const uint32_t end = length < kLegacyEnd ? static_cast<uint32_t>(length) : kLegacyEnd;
    const uint8_t layout = length > 0x0E ? space[0x0E] & 0x7F : 0xFF;
    if (length < 0x40 || !(detail::Get16(space, 0x06) & 0x10) || layout > 2) {
        list.end = End::kNoList;
        return list;
    }
    uint32_t pointer = space[layout == 2 ? 0x14 : 0x34];
    std::bitset<kLegacyEnd> seen;
    while (true) {
        detail::Note(list, pointer);
        pointer &= 0xFC;
        if (pointer == 0)
            return list;
        list.at = pointer;
        if (list.caps.size() == kMaxLegacy)
            list.end = End::kTooMany;
        else if (pointer < kLegacyStart)
            list.end = End::kIntoHeader;
        else if (pointer + 2 > end)
            list.end = End::kOutOfSpace;
        else if (seen[pointer])
            list.end = End::kLoop;
        if (list.end != End::kEnd)
            return list;
        seen[pointer] = true;
        list.caps.push_back({static_cast<uint16_t>(pointer), space[pointer], 0});
        pointer = space[pointer + 1];
    }
}

inline List WalkExtended(const uint8_t* space, size_t length)
{
    List list;
    const uint32_t end = length < kExtendedEnd ? static_cast<uint32_t>(length) : kExtendedEnd;
    uint32_t pointer = kExtendedStart;
    std::bitset<kExtendedEnd / 4> seen;
    while (true) {
        list.at = pointer;
        if (list.caps.size() == kMaxExtended)
            list.end = End::kTooMany;
        else if (pointer < kExtendedStart)
            list.end = End::kIntoHeader;
        else if (pointer + 4 > end)
            list.end = list.caps.empty() ? End::kNoList : End::kOutOfSpace;
        else if (seen[pointer / 4])
            list.end = End::kLoop;
        if (list.end != End::kEnd)
            return list;
        const uint32_t header = detail::Get32(space, pointer);
        if (header == 0 || header == 0xFFFFFFFFu) {
            list.end = list.caps.empty() ? End::kNoList : header ? End::kAllOnes : End::kEnd;
            return list;
        }
        seen[pointer / 4] = true;
        list.caps.push_back({static_cast<uint16_t>(pointer), static_cast<uint16_t>(header & 0xFFFF),
                             static_cast<uint8_t>((header >> 16) & 0xF)});
        const uint32_t next = header >> 20;
        detail::Note(list, next);
        pointer = next & 0xFFC;
        if (pointer == 0)
            return list;
    }
}

} // namespace qorb_caps

#endif
