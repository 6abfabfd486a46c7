/* qorb tree: the hierarchy as the library's parent resolution sees it. Each
 * function is opened, which links it to the port above its link; functions
 * with no such port are the roots. A switch downstream port therefore hangs
 * below the port above its switch, beside the switch's upstream port. */
#include <map>

#include "names.h"
#include <CLI/CLI.hpp>

#include "tool.h"

namespace qorbtool {

namespace {

struct Node {
    Function function;
    std::string parent;              /* slot, "" for a root */
    std::vector<size_t> children;
};

std::string Label(const Function& f)
{
    using qorbcli::Hex;
    std::string what = f.portType >= 0 ? qorbcli::PortTypeName(static_cast<uint32_t>(f.portType))
                                       : qorbcli::ClassName(f.header[0x0b], f.header[0x0a]);
    return f.Slot() + " [" + Hex(f.Vendor(), 4) + ":" + Hex(f.DeviceId(), 4) + "] " + what;
}

void Print(const std::vector<Node>& nodes, std::vector<bool>& printed, size_t index, const std::string& prefix,
           bool last, bool root)
{
    printed[index] = true;
    std::string line = root ? "" : prefix + (last ? "\\- " : "+- ");
    fprintf(Out(), "%s%s\n", line.c_str(), Label(nodes[index].function).c_str());
    std::string childPrefix = root ? "" : prefix + (last ? "   " : "|  ");
    const std::vector<size_t>& children = nodes[index].children;
    for (size_t i = 0; i < children.size(); i++)
        if (!printed[children[i]])
            Print(nodes, printed, children[i], childPrefix, i + 1 == children.size(), false);
}

} // namespace

void AddTreeCommand(CLI::App& app)
{
    CLI::App* cmd = app.add_subcommand("tree", "Show the hierarchy as the library's parent resolution sees it");
    cmd->callback([] {
        Session session;
        std::vector<Node> nodes;
        std::map<std::string, size_t> bySlot;
        for (Function& f : Scan(Selection())) {
            Device record = OpenFunction(f);
            Device parent = OpenLinked(record.Get(), QORB_ACCESS_READ_ONLY);
            Node node;
            if (parent)
                node.parent = DeviceSlot(parent.Get());
            node.function = std::move(f);
            bySlot[node.function.Slot()] = nodes.size();
            nodes.push_back(std::move(node));
        }
        std::vector<size_t> roots;
        for (size_t i = 0; i < nodes.size(); i++) {
            auto it = nodes[i].parent.empty() ? bySlot.end() : bySlot.find(nodes[i].parent);
            if (it == bySlot.end() || it->second == i)
                roots.push_back(i);
            else
                nodes[it->second].children.push_back(i);
        }
        std::vector<bool> printed(nodes.size(), false);
        for (size_t root : roots)
            Print(nodes, printed, root, "", true, true);
        /* Bridges whose bus numbers point at each other leave a loop with
         * no root; show its members rather than lose them. */
        for (size_t i = 0; i < nodes.size(); i++)
            if (!printed[i])
                Print(nodes, printed, i, "", true, true);
    });
}

} // namespace qorbtool
