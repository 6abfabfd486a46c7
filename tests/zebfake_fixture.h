/* A library instance opened on the fake test card driver (zebfake.so), with
 * the driver's state at hand, and small helpers to describe functions and
 * build device records for them. */
#ifndef ZEBFAKE_FIXTURE_H
#define ZEBFAKE_FIXTURE_H

#include <dlfcn.h>
#include <string.h>

#include <vector>

#include <gtest/gtest.h>

#include "drivers/zebfake_state.h"
#include "qorb_internal.h"

class ZebFakeTest : public ::testing::Test {
protected:
    static constexpr const char* kDriver = QORB_TEST_DRIVER_DIR "/zebfake.so";

    void SetUp() override
    {
        ASSERT_EQ(OpenQORBEx(&m_instance, 0, kDriver, 0, 0), QORB_SUCCESS);
        m_library = dlopen(kDriver, RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(m_library, nullptr);
        auto stateFn = reinterpret_cast<ZEBFAKE_STATE_FN>(dlsym(m_library, "ZebFake_State"));
        ASSERT_NE(stateFn, nullptr);
        fake = stateFn();
    }

    void TearDown() override
    {
        for (void* record : m_records)
            CloseDevice(record);
        if (m_library)
            dlclose(m_library);
        CloseQORB(m_instance);
    }

    /* Describes a function the driver serves; answers its slot. */
    ZebFakeFunction& AddFunction(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t isZeb = 0, uint32_t isVok = 0)
    {
        for (auto& f : fake->functions) {
            if (f.present)
                continue;
            f.present = 1;
            f.bus = bus;
            f.dev = dev;
            f.fn = fn;
            f.isZeb = isZeb;
            f.isVok = isVok;
            f.config[0] = 0x86;   /* vendor 0x8086, device 0x1000 + bus */
            f.config[1] = 0x80;
            f.config[2] = static_cast<uint8_t>(bus);
            f.config[3] = 0x10;
            return f;
        }
        ADD_FAILURE() << "too many fake functions";
        return fake->functions[0];
    }

    /* A device record for the location, made as the searches make them;
     * released at the end of the test. */
    QORB_DEVICE_t* Record(uint8_t bus, uint8_t dev, uint8_t fn)
    {
        uint8_t header[QORB_SHADOW_LENGTH] = {};
        QORB_DEVICE_t* record = CreateDeviceRecord(header, bus, dev, fn);
        m_records.push_back(record);
        return record;
    }

    /* A ZEB at 3:0.0 and its record. */
    QORB_DEVICE_t* Card()
    {
        AddFunction(3, 0, 0, 1);
        QORB_DEVICE_t* card = Record(3, 0, 0);
        EXPECT_EQ(card->isZeb, 1);
        return card;
    }

    /* Test card calls received, IsZEB and IsVOK left out. */
    std::vector<ZebFakeCall> CardCalls() const
    {
        std::vector<ZebFakeCall> calls;
        for (uint32_t i = 0; i < fake->callCount; ++i)
            if (fake->calls[i].slot != 0 && fake->calls[i].slot != 100)
                calls.push_back(fake->calls[i]);
        return calls;
    }

    void Keep(void* record) { m_records.push_back(record); }
    void* Instance() const { return m_instance; }

    ZebFakeState* fake = nullptr;

private:
    void* m_instance = nullptr;
    void* m_library = nullptr;
    std::vector<void*> m_records;
};

#endif
