/* A configuration driver loaded by a test with dlopen(), its entry table
 * bound, and one context opened in the current directory: for the tests of
 * the simulated and sysfs drivers without the library. */
#ifndef QORB_DRIVER_CLIENT_H
#define QORB_DRIVER_CLIENT_H

#include <dlfcn.h>

#include <vector>

#include <qorb/qorb_driver.h>

namespace qorbtest {

class DriverClient {
public:
    /* The driver file at path ("" or nullptr: no driver, never bound). */
    explicit DriverClient(const char* path)
    {
        if (path && *path)
            m_handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (!m_handle)
            return;
        auto get = reinterpret_cast<QORB_CONFIG_DRIVER_GET_INTERFACE>(dlsym(m_handle, "ConfigDriver_GetInterface"));
        m_bound = get && get(&m_table) != 0;
    }
    ~DriverClient()
    {
        Close();
        if (m_handle)
            dlclose(m_handle);
    }
    DriverClient(const DriverClient&) = delete;
    DriverClient& operator=(const DriverClient&) = delete;

    bool Bound() const { return m_bound; }
    void* Handle() const { return m_handle; }
    const _CONFIG_DRIVER_INTERFACE_t& Table() const { return m_table; }
    uint32_t Context() const { return m_context; }

    /* OpenDriver in the current directory (closing an earlier context first);
     * true when it answered non-zero. */
    bool Open()
    {
        Close();
        m_open = m_bound && m_table.OpenDriver(&m_context) != 0;
        return m_open;
    }
    void Close()
    {
        if (m_open)
            m_table.CloseDriver(m_context);
        m_open = false;
    }

    uint32_t Read(unsigned bus, unsigned dev, unsigned fn, uint32_t offset, uint32_t length, uint8_t* buffer) const
    {
        return m_table.ReadConfig(m_context, bus, dev, fn, offset, length, buffer);
    }
    uint32_t Write(unsigned bus, unsigned dev, unsigned fn, uint32_t offset, uint32_t length, uint8_t* buffer) const
    {
        return m_table.WriteConfig(m_context, bus, dev, fn, offset, length, buffer);
    }
    /* The same from a copy of bytes ({0x00} would pick the pointer form). */
    uint32_t WriteBytes(unsigned bus, unsigned dev, unsigned fn, uint32_t offset, uint32_t length,
                        const std::vector<uint8_t>& bytes) const
    {
        std::vector<uint8_t> copy(bytes);
        return Write(bus, dev, fn, offset, length, copy.data());
    }

private:
    void* m_handle = nullptr;
    bool m_bound = false;
    bool m_open = false;
    _CONFIG_DRIVER_INTERFACE_t m_table{};
    uint32_t m_context = 0;
};

} // namespace qorbtest

#endif
