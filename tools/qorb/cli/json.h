/* A small JSON value for the tool's --json output: objects keep the order in
 * which members were added, so the output is stable and diffable. */
#ifndef QORB_CLI_JSON_H
#define QORB_CLI_JSON_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

namespace qorbcli {

class Json {
public:
    enum Kind { kNull, kBool, kNumber, kString, kArray, kObject };

    Json() = default;
    static Json Object() { return Json(kObject); }
    static Json Array() { return Json(kArray); }
    Json(bool value) : m_kind(kBool), m_bool(value) {}
    Json(int64_t value) : m_kind(kNumber), m_number(value) {}
    Json(int value) : Json(static_cast<int64_t>(value)) {}
    Json(uint32_t value) : Json(static_cast<int64_t>(value)) {}
    Json(std::string value) : m_kind(kString), m_string(std::move(value)) {}
    Json(const char* value) : Json(std::string(value)) {}

    /* Adds a member to an object (kept in insertion order) or an element to
     * an array; answers *this so calls chain. */
    Json& Set(const std::string& key, Json value);
    Json& Push(Json value);

    Kind GetKind() const { return m_kind; }
    size_t Size() const { return m_kind == kObject ? m_members.size() : m_elements.size(); }

    /* Two-space indented text with a final line feed. */
    std::string Dump() const;

private:
    explicit Json(Kind kind) : m_kind(kind) {}
    void DumpTo(std::string& out, int indent) const;

    Kind m_kind = kNull;
    bool m_bool = false;
    int64_t m_number = 0;
    std::string m_string;
    std::vector<Json> m_elements;
    std::vector<std::pair<std::string, Json>> m_members;
};

/* The text as a JSON string literal, quotes included. */
std::string JsonQuote(const std::string& text);

} // namespace qorbcli

#endif
