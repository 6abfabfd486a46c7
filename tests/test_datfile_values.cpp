/* Platform file: defaults, elements, attributes and value conversions. */
#include <gtest/gtest.h>

#include <string.h>

#include <array>

#include "datfile_test_util.h"

namespace {

class DatValues : public ::testing::Test, public qorbtest::DatFileTest {};

/* A DUT entry's fields: vendor, device, bus, device and function numbers,
 * class (base, sub, programming interface), subsystem vendor and device. */
using Fields = std::array<int, 10>;
Fields Of(const _QORB_DEVICE_FIND_INFO_t& e)
{
    return {e.vendorId,  e.deviceId, e.busNumber, e.deviceNumber,   e.functionNumber,
            e.baseClass, e.subClass, e.progIf,    e.subsysVendorId, e.subsysDeviceId};
}
constexpr Fields kUnset = {0xFFFF, 0xFFFF, 0xFFFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFFFF, 0xFFFF};

void ExpectUnsetEntry(const _QORB_DAT_INFO_t* info, int i)
{
    EXPECT_EQ(info->dutFindFlags[i], 0u) << i;
    EXPECT_EQ(Of(info->dutFindInfo[i]), kUnset) << i;
}

TEST_F(DatValues, EmptyDocumentYieldsEveryDefault)
{
    ParseText("<?xml version=\"1.0\"?>\n<platform/>\n");
    ASSERT_EQ(dat.status, QORB_SUCCESS);
    EXPECT_EQ(dat.stderrText, "");
    EXPECT_EQ(dat->userName, nullptr);
    EXPECT_EQ(dat->testMode, 77u); /* the caller's value stays */
    EXPECT_EQ(dat->dutCount, 0);
    for (int i = 0; i < QORB_MAX_DUTS; ++i)
        ExpectUnsetEntry(dat.info.get(), i);
    EXPECT_STREQ(dat->qorbIniFilePath, "");
    EXPECT_STREQ(dat->qorbIniFileName, "");
    EXPECT_STREQ(dat->appIniFileName, "");
    EXPECT_EQ(dat->replayCount, 3);
    EXPECT_EQ(dat->pcieBaseAddress, 0xE0000000ull);
    EXPECT_EQ(dat->dutConfigIncr, 0);
    EXPECT_EQ(dat->dutConfigOffset, 0);
    EXPECT_EQ(dat->dutConfigLength, 4);
    EXPECT_EQ(dat->dutSerrEnable, 1);
    EXPECT_EQ(dat->reserved, 0);
}

TEST_F(DatValues, MinimalFileSetsModeUserDutAndBase)
{
    ParseText("<platform>\n"
              "  <Test mode=\"AddIn\"/>\n"
              "  <User name=\"alice\"/>\n"
              "  <DUT bus=\"2\" device=\"0\" function=\"0\"/>\n"
              "  <PCIEBaseAddress value=\"F0000000\"/>\n"
              "</platform>\n");
    ASSERT_EQ(dat.status, QORB_SUCCESS);
    EXPECT_EQ(dat->testMode, QORB_TEST_MODE_ADDIN);
    ASSERT_NE(dat->userName, nullptr);
    EXPECT_STREQ(dat->userName, "alice");
    ASSERT_EQ(dat->dutCount, 1);
    EXPECT_EQ(dat->dutFindFlags[0], QORB_FIND_LOCATION);
    EXPECT_EQ(Of(dat->dutFindInfo[0]), (Fields{0xFFFF, 0xFFFF, 2, 0, 0, 0xFF, 0xFF, 0xFF, 0xFFFF, 0xFFFF}));
    EXPECT_EQ(dat->pcieBaseAddress, 0xF0000000ull);
    ExpectUnsetEntry(dat.info.get(), 1);
}

TEST_F(DatValues, HexadecimalTextRepeatsTheLastDigitForOtherCharacters)
{
    ParseText("<p>"
              "<DUT vendorid=\"1x\" deviceid=\"0x1F\"/>"
              "<DUT vendorid=\"1F\" deviceid=\"abCD\"/>"
              "<DUT vendorid=\"12345\" deviceid=\"zz\"/>"
              "<DUTConfig offset=\" 1f\" length=\"10\" incr=\"7fff\"/>"
              "<PCIEBaseAddress a=\"0xFEDCBA9876543210\"/>"
              "</p>");
    ASSERT_EQ(dat.status, QORB_SUCCESS);
    ASSERT_EQ(dat->dutCount, 3);
    EXPECT_EQ(dat->dutFindInfo[0].vendorId, 0x11);   /* x repeats the 1 */
    EXPECT_EQ(dat->dutFindInfo[0].deviceId, 0x1F);   /* x repeats the 0 */
    EXPECT_EQ(dat->dutFindInfo[1].vendorId, 0x1F);
    EXPECT_EQ(dat->dutFindInfo[1].deviceId, 0xABCD);
    EXPECT_EQ(dat->dutFindInfo[2].vendorId, 0x2345); /* cut to 16 bits */
    EXPECT_EQ(dat->dutFindInfo[2].deviceId, 0);      /* no digit at all */
    EXPECT_EQ(dat->dutFindFlags[2], QORB_FIND_VENDOR_ID | QORB_FIND_DEVICE_ID);
    EXPECT_EQ(dat->dutConfigOffset, 0x01F);          /* the blank is a 0 digit */
    EXPECT_EQ(dat->dutConfigLength, 0x10);
    EXPECT_EQ(dat->dutConfigIncr, 0x7FFF);
    EXPECT_EQ(dat->pcieBaseAddress, 0xFEDCBA9876543210ull);
}

TEST_F(DatValues, NegativeIncrIsTheNegatedHexadecimalNumber)
{
    ParseText("<p><DUTConfig incr=\"-4\"/></p>");
    ASSERT_EQ(dat.status, QORB_SUCCESS);
    EXPECT_EQ(dat->dutConfigIncr, -4);
    EXPECT_EQ(static_cast<uint16_t>(dat->dutConfigIncr), 0xFFFC);
    EXPECT_EQ(dat->dutConfigOffset, 0);  /* untouched attributes keep defaults */
    EXPECT_EQ(dat->dutConfigLength, 4);

    ParseText("<p><DUTConfig incr=\"-10\" offset=\"-1\"/></p>");
    EXPECT_EQ(dat->dutConfigIncr, -0x10);
    EXPECT_EQ(dat->dutConfigOffset, 0x1);  /* only incr takes a sign; "-" repeats 0 */
}

TEST_F(DatValues, DutWithOnlyALocationIsFoundByLocation)
{
    ParseText("<p><DUT bus=\"3\" device=\"1\" function=\"2\"/></p>");
    ASSERT_EQ(dat->dutCount, 1);
    EXPECT_EQ(dat->dutFindFlags[0], 0x1000u);
    EXPECT_EQ(Of(dat->dutFindInfo[0]), (Fields{0xFFFF, 0xFFFF, 3, 1, 2, 0xFF, 0xFF, 0xFF, 0xFFFF, 0xFFFF}));
}

TEST_F(DatValues, DecimalFieldsFollowAtoiAndAreCutToWidth)
{
    ParseText("<p>"
              "<DUT subsysvendor=\"4660\" subsysdeviceid=\"70000\" bus=\"300\" device=\"300\" function=\" +7z\"/>"
              "<DUT bus=\"-1\" device=\"abc\" function=\"12abc\"/>"
              "<ReplayCount n=\"-12\"/>"
              "<DUTSerrEnable v=\"65536\"/>"
              "</p>");
    ASSERT_EQ(dat->dutCount, 2);
    /* Subsystem IDs are decimal, not hexadecimal; the bus keeps 16 bits. */
    EXPECT_EQ(Of(dat->dutFindInfo[0]),
              (Fields{0xFFFF, 0xFFFF, 300, 300 & 0xFF, 7, 0xFF, 0xFF, 0xFF, 0x1234, 70000 & 0xFFFF}));
    EXPECT_EQ(dat->dutFindFlags[0], QORB_FIND_LOCATION); /* subsystem IDs set no flag */
    /* "-1" cut to 16 bits, no digit at all, the digits before the letters. */
    EXPECT_EQ(Of(dat->dutFindInfo[1]), (Fields{0xFFFF, 0xFFFF, 0xFFFF, 0, 12, 0xFF, 0xFF, 0xFF, 0xFFFF, 0xFFFF}));
    EXPECT_EQ(dat->replayCount, -12);
    EXPECT_EQ(dat->dutSerrEnable, 0);
}

TEST_F(DatValues, NamesAndModeValuesIgnoreCase)
{
    ParseText("<p><TEST MODE=\"SIMULATION\"/></p>");
    EXPECT_EQ(dat->testMode, QORB_TEST_MODE_SIMULATION);
    ParseText("<p><test Mode=\"addin\"/></p>");
    EXPECT_EQ(dat->testMode, QORB_TEST_MODE_ADDIN);
    ParseText("<p><Test mode=\"Platform\"/><dut VENDORID=\"8086\" DeviceID=\"10d3\" BUS=\"1\"/>"
              "<replaycount x=\"9\"/><pciebaseaddress x=\"c0000000\"/><qorbinifilepath p=\"x/y\"/></p>");
    EXPECT_EQ(dat->testMode, QORB_TEST_MODE_PLATFORM);
    ASSERT_EQ(dat->dutCount, 1);
    EXPECT_EQ(dat->dutFindFlags[0], QORB_FIND_VENDOR_ID | QORB_FIND_DEVICE_ID | QORB_FIND_LOCATION);
    EXPECT_EQ(dat->dutFindInfo[0].vendorId, 0x8086);
    EXPECT_EQ(dat->dutFindInfo[0].deviceId, 0x10D3);
    EXPECT_EQ(dat->replayCount, 9);
    EXPECT_EQ(dat->pcieBaseAddress, 0xC0000000ull);
    EXPECT_STREQ(dat->qorbIniFilePath, "x\\y");
}

TEST_F(DatValues, UnknownModeAndOtherNamesChangeNothing)
{
    dat->testMode = 1;
    ParseText("<p><Test mode=\"bench\" other=\"simulation\"/><Tests mode=\"platform\"/>"
              "<DUT colour=\"red\"/><Replay n=\"9\"/></p>");
    ASSERT_EQ(dat.status, QORB_SUCCESS);
    EXPECT_EQ(dat->testMode, 1u);
    EXPECT_EQ(dat->replayCount, 3);
    ASSERT_EQ(dat->dutCount, 1); /* every DUT element adds an entry, even an empty one */
    ExpectUnsetEntry(dat.info.get(), 0);
    EXPECT_EQ(dat.stderrText, "");
}

TEST_F(DatValues, FirstAttributeIsReadWhateverItsName)
{
    ParseText("<p><User login=\"bob\" name=\"carol\"/><ReplayCount times=\"5\" n=\"6\"/></p>");
    ASSERT_NE(dat->userName, nullptr);
    EXPECT_STREQ(dat->userName, "bob");
    EXPECT_EQ(dat->replayCount, 5);
}

TEST_F(DatValues, LaterElementsOverrideAndEveryDutAddsAnEntry)
{
    ParseText("<p>"
              "<ReplayCount n=\"7\"/><ReplayCount n=\"11\"/>"
              "<User n=\"first\"/><User n=\"second\"/>"
              "<Test mode=\"AddIn\"/><Test mode=\"platform\"/>"
              "<DUT vendorid=\"10ee\"/><DUT bus=\"4\"/><DUT deviceid=\"7\"/>"
              "</p>");
    EXPECT_EQ(dat->replayCount, 11);
    ASSERT_NE(dat->userName, nullptr);
    EXPECT_STREQ(dat->userName, "second"); /* the first name is released, not leaked */
    EXPECT_EQ(dat->testMode, QORB_TEST_MODE_PLATFORM);
    ASSERT_EQ(dat->dutCount, 3);
    EXPECT_EQ(dat->dutFindFlags[0], QORB_FIND_VENDOR_ID);
    EXPECT_EQ(dat->dutFindFlags[1], QORB_FIND_LOCATION); /* flags do not carry over */
    EXPECT_EQ(dat->dutFindFlags[2], QORB_FIND_DEVICE_ID);
    EXPECT_EQ(dat->dutFindInfo[0].vendorId, 0x10EE);
    EXPECT_EQ(dat->dutFindInfo[1].vendorId, 0xFFFF);
    EXPECT_EQ(dat->dutFindInfo[1].busNumber, 4);
    EXPECT_EQ(dat->dutFindInfo[2].deviceId, 7);
}

TEST_F(DatValues, ElementWithoutAttributesLeavesItsFieldUnchanged)
{
    ParseText("<p><ReplayCount n=\"5\"/><ReplayCount/><User n=\"dan\"/><User/>"
              "<QORBINIFileName/><PCIEBaseAddress/><DUTSerrEnable/></p>");
    EXPECT_EQ(dat->replayCount, 5);
    ASSERT_NE(dat->userName, nullptr);
    EXPECT_STREQ(dat->userName, "dan");
    EXPECT_STREQ(dat->qorbIniFileName, "");
    EXPECT_STREQ(dat->appIniFileName, "");
    EXPECT_EQ(dat->pcieBaseAddress, 0xE0000000ull);
    EXPECT_EQ(dat->dutSerrEnable, 1);
}

TEST_F(DatValues, IniFileNameIsCopiedToAnEmptyAppIniFileName)
{
    ParseText("<p><QORBINIFileName f=\"a/b.ini\"/></p>");
    EXPECT_STREQ(dat->qorbIniFileName, "a\\b.ini");
    EXPECT_STREQ(dat->appIniFileName, "a\\b.ini");

    ParseText("<p><QORBINIFileName f=\"a/b.ini\"/><AppINIFileName f=\"c/d/e.ini\"/></p>");
    EXPECT_STREQ(dat->qorbIniFileName, "a\\b.ini");
    EXPECT_STREQ(dat->appIniFileName, "c\\d\\e.ini");

    ParseText("<p><AppINIFileName f=\"app.ini\"/><QORBINIFileName f=\"a/b.ini\"/></p>");
    EXPECT_STREQ(dat->appIniFileName, "app.ini");

    /* The copy is made only while the field is empty. */
    ParseText("<p><QORBINIFileName f=\"one.ini\"/><QORBINIFileName f=\"two.ini\"/></p>");
    EXPECT_STREQ(dat->qorbIniFileName, "two.ini");
    EXPECT_STREQ(dat->appIniFileName, "one.ini");
}

TEST_F(DatValues, ElementsCountWhereverTheyStandAndTextCarriesNothing)
{
    ParseText("<root>\n"
              "  <!-- <ReplayCount n=\"99\"/> -->\n"
              "  <group><inner><DUT bus=\"9\">text <ReplayCount n=\"8\">42</ReplayCount></DUT></inner></group>\n"
              "  <ReplayCount>13</ReplayCount>\n"
              "</root>\n");
    ASSERT_EQ(dat.status, QORB_SUCCESS);
    EXPECT_EQ(dat->replayCount, 8);
    ASSERT_EQ(dat->dutCount, 1);
    EXPECT_EQ(dat->dutFindInfo[0].busNumber, 9);
}

TEST(DatFree, ReleasesTheUserNameAndAcceptsNull)
{
    qorbtest::ScratchDir dir;
    qorbtest::WriteFile(dir.File("d.xml"), "<p><User n=\"erin\"/></p>");
    _QORB_DAT_INFO_t info;
    memset(&info, 0, sizeof info);
    std::string path = dir.File("d.xml");
    ASSERT_EQ(parseDatFile(path.data(), &info), QORB_SUCCESS);
    ASSERT_NE(info.userName, nullptr);
    QORB_FreeDatInfo(&info);
    EXPECT_EQ(info.userName, nullptr);
    QORB_FreeDatInfo(&info); /* twice is harmless */
    QORB_FreeDatInfo(nullptr);
}

} // namespace
