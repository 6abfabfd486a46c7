/* JSON output. */
#include "json.h"

#include <stdio.h>

namespace qorbcli {

Json& Json::Set(const std::string& key, Json value)
{
    m_members.emplace_back(key, std::move(value));
    return *this;
}

Json& Json::Push(Json value)
{
    m_elements.push_back(std::move(value));
    return *this;
}

std::string JsonQuote(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escape[8];
                snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

void Json::DumpTo(std::string& out, int indent) const
{
    std::string pad(static_cast<size_t>(indent + 2), ' ');
    std::string closePad(static_cast<size_t>(indent), ' ');
    switch (m_kind) {
    case kNull: out += "null"; break;
    case kBool: out += m_bool ? "true" : "false"; break;
    case kNumber: out += std::to_string(m_number); break;
    case kString: out += JsonQuote(m_string); break;
    case kArray:
        if (m_elements.empty()) {
            out += "[]";
            break;
        }
        out += "[\n";
        for (size_t i = 0; i < m_elements.size(); i++) {
            out += pad;
            m_elements[i].DumpTo(out, indent + 2);
            out += i + 1 < m_elements.size() ? ",\n" : "\n";
        }
        out += closePad + "]";
        break;
    case kObject:
        if (m_members.empty()) {
            out += "{}";
            break;
        }
        out += "{\n";
        for (size_t i = 0; i < m_members.size(); i++) {
            out += pad + JsonQuote(m_members[i].first) + ": ";
            m_members[i].second.DumpTo(out, indent + 2);
            out += i + 1 < m_members.size() ? ",\n" : "\n";
        }
        out += closePad + "}";
        break;
    }
}

std::string Json::Dump() const
{
    std::string out;
    DumpTo(out, 0);
    return out + "\n";
}

} // namespace qorbcli
