/* The state file. One line per item, words separated by blanks:
 *
 *   qorbsim-state 1                          format and version
 *   platform HASH                            FNV-1a of every function's location and power-on bytes
 *   function BB:DD.F HIDDEN HEX              live registers (as many bytes as the function has)
 *   port BB:DD.F TRAINING STUCK ENDS         a downstream port's link; ENDS in steady-clock ns
 *   card BB:DD.F MODE ARMED SUSPENDED REMAINING MATCHES ACTIONS SEQ0 SEQ1 TAG COMMAND
 *   trace BB:DD.F CONFIG FULL START HEX      the card's trace buffer ("-" when empty)
 *
 * Cards and ports are named by the location of their (downstream) function.
 * The steady clock is the system's monotonic clock, shared by the processes
 * of one boot, so a training that was running goes on running. */
#include "sim_state.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "sim_platform.h"

namespace qorbsim {

namespace {

constexpr const char* kMagic = "qorbsim-state";
constexpr int kVersion = 1;

std::string Location(const SimFunction& f)
{
    char text[16];
    snprintf(text, sizeof text, "%02x:%02x.%x", f.Bus(), f.Dev(), f.Fn());
    return text;
}

std::string HexBytes(const uint8_t* bytes, size_t n)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return n ? text : "-";
}

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>& out)
{
    out.clear();
    if (text == "-")
        return true;
    if (text.size() % 2)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned value;
        if (sscanf(text.c_str() + i, "%2x", &value) != 1 || !isxdigit(static_cast<unsigned char>(text[i])) ||
            !isxdigit(static_cast<unsigned char>(text[i + 1])))
            return false;
        out.push_back(static_cast<uint8_t>(value));
    }
    return true;
}

int64_t Ns(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

std::chrono::steady_clock::time_point FromNs(int64_t ns)
{
    return std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::nanoseconds(ns)));
}

} // namespace

struct StateFile {
    static uint64_t Fingerprint(const Platform& p)
    {
        uint64_t hash = 0xcbf29ce484222325ull;
        auto mix = [&hash](uint8_t byte) { hash = (hash ^ byte) * 0x100000001b3ull; };
        for (const auto& f : p.m_functions) {
            for (uint8_t byte : {f->Bus(), f->Dev(), f->Fn()})
                mix(byte);
            for (uint32_t i = 0; i < f->Length(); ++i)
                mix(f->m_powerOn[i]);
        }
        return hash;
    }

    static void Save(const Platform& p, std::ostream& out)
    {
        out << kMagic << " " << kVersion << "\nplatform " << std::hex << Fingerprint(p) << std::dec << "\n";
        for (const auto& f : p.m_functions)
            out << "function " << Location(*f) << " " << f->hidden << " " << HexBytes(f->m_regs.data(), f->Length())
                << "\n";
        for (const LinkModel::Port& port : p.m_links.m_ports)
            out << "port " << Location(*port.function) << " " << port.training << " " << port.stuck << " "
                << Ns(port.trainingEnds) << "\n";
        for (const auto& c : p.m_cards) {
            std::string where = Location(c->m_downstream);
            out << "card " << where << " " << c->m_mode << " " << c->m_armed << " " << c->m_suspended << " "
                << c->m_remaining << " " << c->m_matches << " " << c->m_actions << " " << c->m_sequence[0] << " "
                << c->m_sequence[1] << " " << unsigned{c->m_tag} << " "
                << HexBytes(reinterpret_cast<const uint8_t*>(&c->m_command), sizeof c->m_command) << "\n";
            const TraceBuffer& t = c->m_trace;
            out << "trace " << where << " " << t.config << " " << t.m_full << " " << Ns(t.m_start) << " "
                << HexBytes(t.m_bytes.data(), t.m_bytes.size()) << "\n";
        }
    }

    /* One line; false when it does not parse or names nothing there. */
    static bool Line(Platform& p, std::istringstream& in, const std::string& kind)
    {
        std::string where, hex;
        in >> where;
        unsigned bus = 0, dev = 0, fn = 0;
        if (sscanf(where.c_str(), "%2x:%2x.%1x", &bus, &dev, &fn) != 3)
            return false;
        SimFunction* f = p.At(bus, dev, fn);
        if (!f)
            return false;
        std::vector<uint8_t> bytes;
        if (kind == "function") {
            bool hidden = false;
            if (!(in >> hidden >> hex) || !ParseHexBytes(hex, bytes) || bytes.size() != f->Length())
                return false;
            f->hidden = hidden;
            std::copy(bytes.begin(), bytes.end(), f->m_regs.begin());
            return true;
        }
        if (kind == "port") {
            int64_t ends = 0;
            if (f->linkPort < 0)
                return false;
            LinkModel::Port& port = p.m_links.m_ports[static_cast<size_t>(f->linkPort)];
            if (!(in >> port.training >> port.stuck >> ends))
                return false;
            port.trainingEnds = FromNs(ends);
            return true;
        }
        ZebCard* card = nullptr;
        for (const auto& c : p.m_cards)
            if (&c->m_downstream == f)
                card = c.get();
        if (!card)
            return false;
        if (kind == "card") {
            unsigned mode = 0, tag = 0;
            if (!(in >> mode >> card->m_armed >> card->m_suspended >> card->m_remaining >> card->m_matches >>
                  card->m_actions >> card->m_sequence[0] >> card->m_sequence[1] >> tag >> hex) ||
                !ParseHexBytes(hex, bytes) || bytes.size() != sizeof card->m_command || mode > QORB_ZEB_MODE_INJECT)
                return false;
            card->m_mode = static_cast<_QORB_ZEB_OP_MODE_t>(mode);
            card->m_tag = static_cast<uint8_t>(tag);
            memcpy(&card->m_command, bytes.data(), bytes.size());
            return true;
        }
        TraceBuffer& t = card->m_trace;
        int64_t start = 0;
        if (kind != "trace" || !(in >> t.config >> t.m_full >> start >> hex) || !ParseHexBytes(hex, t.m_bytes) ||
            t.m_bytes.size() > kTraceCapacity)
            return false;
        t.m_start = FromNs(start);
        return true;
    }

    static bool Restore(Platform& p, std::istream& in, const std::string& path)
    {
        std::string line, magic, word;
        int version = 0;
        uint64_t hash = 0;
        if (!std::getline(in, line) || !(std::istringstream(line) >> magic >> version) || magic != kMagic ||
            version != kVersion || !std::getline(in, line) || !(std::istringstream(line) >> word >> std::hex >> hash) ||
            word != "platform") {
            Report("%s: not a simulator state file (delete it to start from power-on)", path.c_str());
            return false;
        }
        if (hash != Fingerprint(p)) {
            Report("%s was saved for another platform; starting from power-on", path.c_str());
            return true;
        }
        for (int number = 3; std::getline(in, line); ++number) {
            std::istringstream fields(line);
            std::string kind;
            fields >> kind;
            if (!Line(p, fields, kind)) {
                Report("%s:%d: malformed state line (delete the file to start from power-on)", path.c_str(), number);
                return false;
            }
        }
        return true;
    }
};

void SaveState(const Platform& platform, const std::string& path)
{
    std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        StateFile::Save(platform, out);
        out.flush();
        if (!out) {
            Report("%s: cannot write the simulator state", temporary.c_str());
            remove(temporary.c_str());
            return;
        }
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        Report("%s: cannot replace the simulator state: %s", path.c_str(), strerror(errno));
        remove(temporary.c_str());
    }
}

bool RestoreState(Platform& platform, const std::string& path)
{
    std::ifstream in(path);
    if (!in) {
        if (errno == ENOENT)
            return true;
        Report("%s: cannot read the simulator state: %s", path.c_str(), strerror(errno));
        return false;
    }
    return StateFile::Restore(platform, in, path);
}

} // namespace qorbsim
