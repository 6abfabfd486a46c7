/* Test access to simulated functions through the library: the built-in
 * platform with extra qorbsim.ini settings, and device records read and
 * written with ReadConfigSpace / WriteConfigSpace. */
#ifndef QORB_SIM_RECORD_H
#define QORB_SIM_RECORD_H

#include <gtest/gtest.h>

#include <string>

#include "qorb_internal.h"
#include "qorb_test_support.h"

namespace qorbtest {

/* The simulator's built-in platform opened through the library, with
 * qorbsim.ini holding iniText (no dump: the built-in platform). Standard
 * error of the open is kept in Errors(). */
class BuiltinSim : public ScratchDir {
public:
    explicit BuiltinSim(const std::string& iniText)
    {
        WriteFile(File("qorbsim.ini"), iniText);
        CaptureFd err(2);
#ifdef QORB_SIM_DRIVER_PATH
        m_status = OpenQORBEx(&m_instance, 0, QORB_SIM_DRIVER_PATH, 0xE0000000ull, 0);
#endif
        m_errors = err.Text();
    }
    ~BuiltinSim()
    {
        if (m_status == QORB_SUCCESS)
            CloseQORB(m_instance);
    }
    _QORB_STATUS_t OpenStatus() const { return m_status; }
    const std::string& Errors() const { return m_errors; }

private:
    void* m_instance = nullptr;
    _QORB_STATUS_t m_status = QORB_STATUS_FAILED;
    std::string m_errors;
};

/* Bad qorbsim.ini settings: the open fails and standard error names the
 * problem. */
inline void ExpectOpenFails(const std::string& iniText, const std::string& message)
{
    BuiltinSim sim(iniText);
    EXPECT_EQ(sim.OpenStatus(), QORB_DRIVER_INIT_FAILED) << iniText;
    EXPECT_NE(sim.Errors().find(message), std::string::npos) << sim.Errors();
}

/* A device record for a location, released at the end. */
class Record {
public:
    Record(uint8_t bus, uint8_t dev, uint8_t fn) : m_dev(CreateDeviceRecord(nullptr, bus, dev, fn)) {}
    ~Record() { CloseDevice(m_dev); }
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    void* Handle() const { return m_dev; }
    /* True when the function answers a 64-byte probe. */
    bool Present() const
    {
        uint8_t b[64];
        uint32_t len = sizeof b;
        return ReadConfigSpace(m_dev, b, 0, &len) == QORB_SUCCESS;
    }
    uint32_t Read(uint32_t offset, uint32_t width) const
    {
        uint8_t b[4] = {};
        uint32_t len = width;
        EXPECT_EQ(ReadConfigSpace(m_dev, b, offset, &len), QORB_SUCCESS) << "read at 0x" << std::hex << offset;
        return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
    }
    uint16_t Read16(uint32_t offset) const { return static_cast<uint16_t>(Read(offset, 2)); }
    uint32_t Read32(uint32_t offset) const { return Read(offset, 4); }
    void Write(uint32_t offset, uint32_t value, uint32_t width) const
    {
        uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
        uint32_t len = width;
        EXPECT_EQ(WriteConfigSpace(m_dev, b, offset, &len), QORB_SUCCESS) << "write at 0x" << std::hex << offset;
    }
    void Write16(uint32_t offset, uint16_t value) const { Write(offset, value, 2); }
    void Write32(uint32_t offset, uint32_t value) const { Write(offset, value, 4); }

private:
    QORB_DEVICE_t* m_dev;
};

} // namespace qorbtest

#endif
