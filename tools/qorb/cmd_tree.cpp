/* qorb tree: the bus hierarchy of the domain served, drawn as lspci -t draws
 * it, from the bridges' own bus numbers (read raw, not from the library's
 * parent resolution). Every bridge (class 06 with a type 1 or CardBus header)
 * hangs below the narrowest bridge whose bus range holds its bus; every
 * function sits on a bus of the deepest bridge whose range holds its bus.
 * Root ports and switch downstream ports carry their link: negotiated and
 * maximum speed and width, "down", "training", and "degraded" when the link
 * trained below what both ends of the port can do. */
#include <linux/pci_regs.h>

#include <algorithm>

#include <qorb_common/cap_walk.h>

#include "json.h"
#include "names.h"
#include <CLI/CLI.hpp>

#include "tool.h"

namespace qorbtool {

namespace {

constexpr uint8_t kBridgeClass = 0x06; /* base class of bridges (pci_ids.h's PCI_BASE_CLASS_BRIDGE) */

struct TreeOptions {
    Selection selection;
    bool json = false;
    bool plain = false;
};

struct Bus {
    int number;
    std::vector<size_t> devices; /* nodes, in location order */
};

struct Bridge {
    int node; /* -1: the host bridge */
    int secondary, subordinate;
    std::vector<size_t> children; /* bridges, last found first (as lspci keeps them) */
    std::vector<Bus> buses;
    bool drawing = false; /* guards against bus numbers that lead back into a bridge */
};

struct Node {
    Function f;
    int bridge = -1; /* its entry in bridges, -1 unless it is a bridge */
    int owner = 0; /* the bridge whose bus it sits on */
    std::string link; /* "" unless a root or downstream port */
    qorbcli::Json linkJson;
    int selected = 0; /* 1 chosen by -s/-d, 0 not, -1 not decided yet */
    int visible = -1; /* selected or above a selected function; -1 not decided yet */
};

class Tree {
public:
    explicit Tree(std::vector<Function> functions, const Selection& selection);
    void Draw(bool links);
    qorbcli::Json ToJson() const;
    /* Decides which functions show; false when none does. */
    bool Settle()
    {
        bool any = false;
        for (size_t i = 0; i < m_nodes.size(); i++)
            any = Visible(i) || any;
        return any || m_nodes.empty();
    }

private:
    void Build();
    bool Visible(size_t node);
    void Line(std::string& line, size_t at, const std::string& text);
    void Print(std::string& line, size_t at);
    void DrawBridge(size_t bridge, std::string& line, size_t at);
    void DrawBus(const Bus& bus, std::string& line, size_t at);
    void DrawDevice(size_t node, std::string& line, size_t at);

    std::vector<Node> m_nodes;
    std::vector<Bridge> m_bridges;
    bool m_links = true;
};

/* The link registers of a PCI Express function, from its capability found
 * by a raw walk of the legacy list; type -1 when there are none. */
struct LinkRegs {
    int type = -1;
    uint32_t capabilities = 0, control = 0, status = 0;
    uint32_t MaxSpeed() const { return capabilities & PCI_EXP_LNKCAP_SLS; }
    uint32_t MaxWidth() const { return (capabilities & PCI_EXP_LNKCAP_MLW) >> 4; }
};

LinkRegs ReadLinkRegs(const Function& f)
{
    LinkRegs regs;
    Device record = OpenFunction(f);
    std::vector<uint8_t> space(PCI_CFG_SPACE_SIZE, 0);
    if (!ReadConfig(record.Get(), 0, PCI_CFG_SPACE_SIZE, space.data()))
        return regs;
    auto get16 = [&](uint32_t at) { return static_cast<uint32_t>(space[at] | space[at + 1] << 8); };
    for (const qorb_caps::Cap& cap : qorb_caps::WalkLegacy(space.data(), space.size()).caps) {
        if (cap.id != PCI_CAP_ID_EXP || cap.offset + PCI_EXP_LNKSTA + 2u > space.size())
            continue;
        regs.type = static_cast<int>((get16(cap.offset + PCI_EXP_FLAGS) & PCI_EXP_FLAGS_TYPE) >> 4);
        regs.capabilities = get16(cap.offset + PCI_EXP_LNKCAP) | get16(cap.offset + PCI_EXP_LNKCAP + 2) << 16;
        regs.control = get16(cap.offset + PCI_EXP_LNKCTL);
        regs.status = get16(cap.offset + PCI_EXP_LNKSTA);
        break;
    }
    return regs;
}

/* A port's link as the tree shows it. Degraded: up, but slower or narrower
 * than both the port and the function below it (function 0 of its
 * secondary bus, when it can be read) are capable of. */
void DescribeLink(Node& node, const LinkRegs& port, const LinkRegs* partner)
{
    uint32_t speed = port.status & PCI_EXP_LNKSTA_CLS, width = (port.status & PCI_EXP_LNKSTA_NLW) >> 4;
    uint32_t canSpeed = port.MaxSpeed(), canWidth = port.MaxWidth();
    if (partner && partner->type >= 0) {
        canSpeed = std::min(canSpeed, partner->MaxSpeed());
        canWidth = std::min(canWidth, partner->MaxWidth());
    }
    bool training = port.status & PCI_EXP_LNKSTA_LT;
    bool down = (port.control & PCI_EXP_LNKCTL_LD) || width == 0 ||
        ((port.capabilities & PCI_EXP_LNKCAP_DLLLARC) && !(port.status & PCI_EXP_LNKSTA_DLLLA));
    bool degraded = !down && !training && (speed < canSpeed || width < canWidth);
    std::string max = "x" + std::to_string(port.MaxWidth()) + " " + qorbcli::LinkSpeedText(port.MaxSpeed());
    std::string now = "x" + std::to_string(width) + " " + qorbcli::LinkSpeedText(speed);
    node.link = " (" +
        (training   ? "training"
             : down ? "down"
                    : now) +
        "; max " + max + (degraded ? "; degraded)" : ")");
    node.linkJson = qorbcli::Json::Object();
    node.linkJson.Set("state",
                      training   ? "training"
                          : down ? "down"
                                 : "up")
        .Set("speed", qorbcli::LinkSpeedText(speed))
        .Set("width", width)
        .Set("max_speed", qorbcli::LinkSpeedText(port.MaxSpeed()))
        .Set("max_width", port.MaxWidth())
        .Set("degraded", degraded);
}

Tree::Tree(std::vector<Function> functions, const Selection& selection)
{
    for (Function& f : functions) {
        Node node;
        node.f = std::move(f);
        node.selected = selection.Given() && selection.slot.Matches(node.f.bus, node.f.dev, node.f.fn) &&
            selection.ids.Matches(node.f.Vendor(), node.f.DeviceId(), node.f.ClassCode());
        node.visible = selection.Given() ? -1 : 1;
        m_nodes.push_back(std::move(node));
    }
    Build();
}

void Tree::Build()
{
    /* The host bridge, with its bus 00 shown even when empty (as lspci does). */
    m_bridges.push_back({-1, 0, 0xff, {}, {{0, {}}}, false});
    for (size_t i = 0; i < m_nodes.size(); i++) {
        const std::vector<uint8_t>& h = m_nodes[i].f.header;
        int layout = h[PCI_HEADER_TYPE] & 0x7f;
        if (h[PCI_CLASS_DEVICE + 1] != kBridgeClass ||
            (layout != PCI_HEADER_TYPE_BRIDGE && layout != PCI_HEADER_TYPE_CARDBUS))
            continue;
        /* The secondary and subordinate bus numbers sit at the same offsets
         * in both layouts (PCI_CB_CARD_BUS, PCI_CB_SUBORDINATE_BUS). */
        m_nodes[i].bridge = static_cast<int>(m_bridges.size());
        m_bridges.push_back({static_cast<int>(i), h[PCI_SECONDARY_BUS], h[PCI_SUBORDINATE_BUS], {}, {}, false});
    }
    for (const Bridge& b : m_bridges) {
        if (b.node < 0)
            continue;
        Node& port = m_nodes[static_cast<size_t>(b.node)];
        LinkRegs regs = ReadLinkRegs(port.f);
        if (regs.type != PCI_EXP_TYPE_ROOT_PORT && regs.type != PCI_EXP_TYPE_DOWNSTREAM)
            continue;
        auto below = std::find_if(m_nodes.begin(), m_nodes.end(),
                                  [&](const Node& n) { return n.f.bus == b.secondary && n.f.dev == 0 && n.f.fn == 0; });
        LinkRegs partner = below == m_nodes.end() ? LinkRegs{} : ReadLinkRegs(below->f);
        DescribeLink(port, regs, below == m_nodes.end() ? nullptr : &partner);
    }
    /* Each bridge below the narrowest other bridge (the host bridge spans
     * every bus) whose range holds its own bus. */
    for (size_t b = 1; b < m_bridges.size(); b++) {
        int bus = m_nodes[static_cast<size_t>(m_bridges[b].node)].f.bus;
        size_t best = 0;
        for (size_t c = 1; c < m_bridges.size(); c++)
            if (c != b && m_bridges[c].secondary <= bus && bus <= m_bridges[c].subordinate &&
                m_bridges[best].subordinate - m_bridges[best].secondary >
                    m_bridges[c].subordinate - m_bridges[c].secondary)
                best = c;
        m_bridges[best].children.insert(m_bridges[best].children.begin(), b);
    }
    for (size_t b = 1; b < m_bridges.size(); b++)
        if (m_bridges[b].buses.empty())
            m_bridges[b].buses.push_back({m_bridges[b].secondary, {}});
    /* Each function on a bus of the deepest bridge whose range holds it; a
     * walk down the bridge tree, which has no loops, so it ends within as
     * many steps as there are bridges. */
    for (size_t i = 0; i < m_nodes.size(); i++) {
        int bus = m_nodes[i].f.bus;
        size_t b = 0;
        for (size_t step = 0; step <= m_bridges.size(); step++) {
            size_t next = b;
            for (size_t c : m_bridges[b].children)
                if (m_bridges[c].secondary <= bus && bus <= m_bridges[c].subordinate) {
                    next = c;
                    break;
                }
            bool here = false;
            for (const Bus& existing : m_bridges[b].buses)
                here = here || existing.number == bus;
            if (here || next == b)
                break;
            b = next;
        }
        std::vector<Bus>& buses = m_bridges[b].buses;
        auto it = std::find_if(buses.begin(), buses.end(), [bus](const Bus& x) { return x.number == bus; });
        if (it == buses.end())
            it = buses.insert(buses.end(), Bus{bus, {}});
        it->devices.push_back(i);
        m_nodes[i].owner = static_cast<int>(b);
    }
}

/* Selected, or a bridge with a visible function on one of its buses. */
bool Tree::Visible(size_t node)
{
    Node& n = m_nodes[node];
    if (n.visible >= 0)
        return n.visible == 1;
    n.visible = n.selected ? 1 : 0; /* settled before the descent: a loop ends here */
    if (n.bridge >= 0)
        for (const Bus& bus : m_bridges[static_cast<size_t>(n.bridge)].buses)
            for (size_t d : bus.devices)
                if (Visible(d))
                    n.visible = 1;
    return n.visible == 1;
}

void Tree::Line(std::string& line, size_t at, const std::string& text)
{
    if (line.size() < at + text.size())
        line.resize(at + text.size(), ' ');
    line.replace(at, text.size(), text);
}

/* Prints the line up to at; what stays of it for the lines below is the
 * vertical bars. */
void Tree::Print(std::string& line, size_t at)
{
    line.resize(at);
    fprintf(Out(), "%s\n", line.c_str());
    for (char& c : line)
        c = (c == '+' || c == '|') ? '|' : ' ';
}

void Tree::DrawDevice(size_t node, std::string& line, size_t at)
{
    const Node& n = m_nodes[node];
    std::string text = qorbcli::Hex(n.f.dev, 2) + "." + qorbcli::Hex(n.f.fn, 1) + (m_links ? n.link : "");
    Line(line, at, text);
    at += text.size();
    if (n.bridge < 0 || m_bridges[static_cast<size_t>(n.bridge)].drawing) {
        Print(line, at);
        return;
    }
    const Bridge& b = m_bridges[static_cast<size_t>(n.bridge)];
    text = "-[" + qorbcli::Hex(static_cast<uint64_t>(b.secondary), 2) +
        (b.secondary == b.subordinate ? "" : "-" + qorbcli::Hex(static_cast<uint64_t>(b.subordinate), 2)) + "]-";
    Line(line, at, text);
    DrawBridge(static_cast<size_t>(n.bridge), line, at + text.size());
}

void Tree::DrawBus(const Bus& bus, std::string& line, size_t at)
{
    bool any = false;
    for (size_t i = 0; i < bus.devices.size(); i++) {
        if (!Visible(bus.devices[i]))
            continue;
        any = true;
        bool last = i + 1 == bus.devices.size();
        Line(line, at, bus.devices.size() == 1 ? "--" : last ? "\\-" : "+-");
        DrawDevice(bus.devices[i], line, at + 2);
    }
    if (!any)
        Print(line, at);
}

void Tree::DrawBridge(size_t bridge, std::string& line, size_t at)
{
    Bridge& b = m_bridges[bridge];
    b.drawing = true;
    Line(line, at++, "-");
    std::vector<const Bus*> buses;
    for (const Bus& bus : b.buses)
        buses.push_back(&bus);
    auto name = [](const Bus* bus) {
        return "[" + DomainText(Globals().domain) + ":" + qorbcli::Hex(static_cast<uint64_t>(bus->number), 2) + "]-";
    };
    if (buses.size() <= 1) {
        std::string text = b.node < 0 && !buses.empty() ? name(buses[0]) : "";
        Line(line, at, text);
        if (buses.empty())
            Print(line, at + text.size());
        else
            DrawBus(*buses[0], line, at + text.size());
    } else {
        for (size_t i = 0; i < buses.size(); i++) {
            std::string text = (i + 1 < buses.size() ? "+-" : "\\-") + name(buses[i]);
            Line(line, at, text);
            DrawBus(*buses[i], line, at + text.size());
        }
    }
    b.drawing = false;
}

void Tree::Draw(bool links)
{
    m_links = links;
    std::string line;
    DrawBridge(0, line, 0);
}

qorbcli::Json Tree::ToJson() const
{
    qorbcli::Json list = qorbcli::Json::Array();
    for (size_t i = 0; i < m_nodes.size(); i++) {
        const Node& n = m_nodes[i];
        if (n.visible == 0)
            continue;
        int above = m_bridges[static_cast<size_t>(n.owner)].node;
        qorbcli::Json entry = qorbcli::Json::Object();
        entry.Set("slot", n.f.Slot())
            .Set("upstream", above < 0 ? qorbcli::Json() : qorbcli::Json(m_nodes[static_cast<size_t>(above)].f.Slot()))
            .Set("vendor_id", qorbcli::Hex(n.f.Vendor(), 4))
            .Set("device_id", qorbcli::Hex(n.f.DeviceId(), 4));
        if (n.bridge < 0) {
            entry.Set("secondary", qorbcli::Json()).Set("subordinate", qorbcli::Json());
        } else {
            const Bridge& b = m_bridges[static_cast<size_t>(n.bridge)];
            entry.Set("secondary", b.secondary).Set("subordinate", b.subordinate);
        }
        entry.Set("link", n.linkJson);
        list.Push(entry);
    }
    return list;
}

} // namespace

void AddTreeCommand(CLI::App& app)
{
    auto options = std::make_shared<TreeOptions>();
    CLI::App* cmd = app.add_subcommand("tree",
                                       "Draw the bus hierarchy as lspci -t does, each root and downstream "
                                       "port with its link (speed and width, maximum, down, degraded)");
    options->selection.AddOptions(cmd);
    cmd->add_flag("--json", options->json,
                  "Print every function with its slot and upstream bridge (null at the top) as JSON");
    cmd->add_flag("--no-links", options->plain, "Leave the link annotations out (the drawing of lspci -t)");
    cmd->callback([options] {
        options->selection.Parse();
        Session session;
        Selection all = options->selection; /* every function of the domain (checked as -s names it) */
        all.slot = qorbcli::SlotSelector{};
        all.slot.domain = options->selection.slot.domain;
        all.ids = qorbcli::IdSelector{};
        Tree tree(Scan(all), options->selection);
        if (!tree.Settle())
            throw UsageError("no function matches " + options->selection.Text());
        if (options->json) {
            fputs(tree.ToJson().Dump().c_str(), Out());
            return;
        }
        tree.Draw(!options->plain);
    });
}

} // namespace qorbtool
