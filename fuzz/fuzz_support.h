/* What the fuzz targets share: a private scratch folder for the files they
 * hand to readers that take a path, and a check that stops the run with a
 * message when a result breaks a promise of the code under test. */
#ifndef QORB_FUZZ_SUPPORT_H
#define QORB_FUZZ_SUPPORT_H

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace qorbfuzz {

/* The process's scratch folder (made on first use under $TMPDIR or /tmp,
 * removed with its files at exit). */
const std::string& ScratchDir();

/* Writes the bytes to ScratchDir()/name and answers the full path. */
std::string WriteScratchFile(const char* name, const uint8_t* data, size_t size);

/* Reads little-endian values from the front of an input; past its end
 * every byte reads as 0. */
class InputReader {
public:
    InputReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint8_t U8() { return m_pos < m_size ? m_data[m_pos++] : (m_pos++, 0); }
    uint16_t U16() { return static_cast<uint16_t>(U8() | U8() << 8); }
    uint32_t U32() { return static_cast<uint32_t>(U16()) | static_cast<uint32_t>(U16()) << 16; }
    /* The bytes not read yet. */
    const uint8_t* Rest() const { return m_pos < m_size ? m_data + m_pos : m_data + m_size; }
    size_t RestSize() const { return m_pos < m_size ? m_size - m_pos : 0; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

/* Aborts (a crash libFuzzer records with its input) when ok is false. */
void Require(bool ok, const char* what);

} // namespace qorbfuzz

#endif
