/* Link behaviour of the simulated downstream ports, through the library's
 * ReadConfigSpace / WriteConfigSpace on the built-in platform: Retrain Link,
 * Link Training for the training time, Link Disable hiding what is below,
 * and the reset when the link comes back. */
#include <gtest/gtest.h>

#include <linux/pci_regs.h>

#include <chrono>
#include <thread>

#include "sim_record.h"

using namespace qorbtest;

namespace {

/* Built-in locations (docs/simulator.md): ports have their PCI Express
 * capability at 0x40, the endpoint 03:00.0 at 0xa0, 09:00.0 at 0x70. */
constexpr uint32_t kPortLinkControl = 0x40 + PCI_EXP_LNKCTL;
constexpr uint32_t kPortLinkStatus = 0x40 + PCI_EXP_LNKSTA;
constexpr uint16_t kPowerOnLinkControl = PCI_EXP_LNKCTL_CCC;

bool Training(const Record& port) { return port.Read16(kPortLinkStatus) & PCI_EXP_LNKSTA_LT; }
bool LinkActive(const Record& port) { return port.Read16(kPortLinkStatus) & PCI_EXP_LNKSTA_DLLLA; }

/* Polls until Link Training clears; false after 10 s. */
bool TrainingEnds(const Record& port)
{
    for (int i = 0; i < 1000 && Training(port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return !Training(port);
}

} // namespace

TEST(SimLink, RetrainLinkReadsBackZeroAndSetsLinkTrainingWhileTheLinkTrains)
{
    BuiltinSim sim("[link]\ntraining_ms = 60000\n");
    ASSERT_EQ(sim.OpenStatus(), QORB_SUCCESS) << sim.Errors();
    Record port(0x00, 0x02, 0);
    EXPECT_FALSE(Training(port));
    EXPECT_TRUE(LinkActive(port));
    port.Write16(kPortLinkControl, kPowerOnLinkControl | PCI_EXP_LNKCTL_RL);
    EXPECT_EQ(port.Read16(kPortLinkControl), kPowerOnLinkControl);
    EXPECT_TRUE(Training(port));
    EXPECT_FALSE(LinkActive(port));
    /* Speed and width stay as trained; only the status bits move. */
    EXPECT_EQ(port.Read16(kPortLinkStatus) & (PCI_EXP_LNKSTA_CLS | PCI_EXP_LNKSTA_NLW), 0x0043);
    /* The device below still answers. */
    EXPECT_TRUE(Record(0x06, 0x00, 0).Present());
}

TEST(SimLink, TrainingEndsAfterTheTrainingTimeAndTheLinkIsActiveAgain)
{
    for (const char* ini : {"[link]\ntraining_ms = 0\n", ""}) {   /* "" = the default training time */
        SCOPED_TRACE(ini);
        BuiltinSim sim(ini);
        ASSERT_EQ(sim.OpenStatus(), QORB_SUCCESS) << sim.Errors();
        Record port(0x02, 0x00, 0);   /* a switch downstream port */
        port.Write16(kPortLinkControl, kPowerOnLinkControl | PCI_EXP_LNKCTL_RL);
        EXPECT_TRUE(TrainingEnds(port));
        EXPECT_TRUE(LinkActive(port));
        EXPECT_EQ(port.Read16(kPortLinkControl), kPowerOnLinkControl);
    }
    /* A port with nothing below trains but its link never becomes active. */
    BuiltinSim sim("[link]\ntraining_ms = 0\n");
    Record empty(0x02, 0x02, 0);
    empty.Write16(kPortLinkControl, kPowerOnLinkControl | PCI_EXP_LNKCTL_RL);
    EXPECT_TRUE(TrainingEnds(empty));
    EXPECT_FALSE(LinkActive(empty));
}

TEST(SimLink, OnlyDownstreamPortsEverTrain)
{
    BuiltinSim sim("[link]\ntraining_ms = 60000\n");
    ASSERT_EQ(sim.OpenStatus(), QORB_SUCCESS) << sim.Errors();
    struct {
        uint8_t bus, dev, fn;
        uint32_t cap;
    } upstream[] = {{0x01, 0x00, 0, 0x40}, {0x03, 0x00, 0, 0xA0}, {0x09, 0x00, 0, 0x70}, {0x0A, 0x00, 0, 0x40}};
    for (const auto& u : upstream) {
        Record f(u.bus, u.dev, u.fn);
        uint16_t status = f.Read16(u.cap + PCI_EXP_LNKSTA);
        /* Retrain Link and Link Disable are reserved here: they read 0 and
         * neither training nor hiding follows. */
        f.Write16(u.cap + PCI_EXP_LNKCTL, kPowerOnLinkControl | PCI_EXP_LNKCTL_RL | PCI_EXP_LNKCTL_LD);
        EXPECT_EQ(f.Read16(u.cap + PCI_EXP_LNKCTL), kPowerOnLinkControl);
        EXPECT_EQ(f.Read16(u.cap + PCI_EXP_LNKSTA), status);
        /* Link Status itself is read-only: a write cannot set Link Training. */
        f.Write16(u.cap + PCI_EXP_LNKSTA, PCI_EXP_LNKSTA_LT);
        EXPECT_EQ(f.Read16(u.cap + PCI_EXP_LNKSTA), status);
    }
    EXPECT_TRUE(Record(0x02, 0x00, 0).Present());
    EXPECT_TRUE(Record(0x0B, 0x02, 0).Present());
}

TEST(SimLink, LinkDisableHidesEverythingBelowUntilEnabledThenItComesBackFromReset)
{
    BuiltinSim sim("[link]\ntraining_ms = 60000\n[function 03:00.0]\naer_correctable = 0x40\n");
    ASSERT_EQ(sim.OpenStatus(), QORB_SUCCESS) << sim.Errors();
    Record root(0x00, 0x01, 0);
    Record endpoint(0x03, 0x00, 0);
    Record downstream(0x02, 0x01, 0);
    endpoint.Write16(PCI_COMMAND, 0x0000);
    downstream.Write16(kPortLinkControl, 0x0043);   /* ASPM L0s and L1 */
    EXPECT_EQ(endpoint.Read32(0x100 + PCI_ERR_COR_STATUS), 0x40u);

    root.Write16(kPortLinkControl, kPowerOnLinkControl | PCI_EXP_LNKCTL_LD);
    EXPECT_EQ(root.Read16(kPortLinkControl), kPowerOnLinkControl | PCI_EXP_LNKCTL_LD);
    EXPECT_FALSE(LinkActive(root));
    EXPECT_FALSE(Training(root));
    for (auto [b, d, f] : {std::tuple{1, 0, 0}, {2, 0, 0}, {2, 1, 0}, {2, 2, 0}, {3, 0, 0}, {4, 0, 0}, {4, 0, 1}})
        EXPECT_FALSE(Record(b, d, f).Present()) << b << ":" << d << "." << f;
    uint8_t b[4];
    EXPECT_EQ(QORB_ReadConfigSpace_Ex(0, 3, 0, 0, 0, b), 0u);
    uint8_t cmd[2] = {0x06, 0x00};
    uint32_t len = 2;
    EXPECT_EQ(WriteConfigSpace(endpoint.Handle(), cmd, PCI_COMMAND, &len), QORB_PCIE_CONFIG_WRITE_FAILED);
    EXPECT_EQ(len, 0u);
    /* Other links are not touched. */
    EXPECT_TRUE(Record(0x06, 0x00, 0).Present());
    EXPECT_TRUE(LinkActive(Record(0x00, 0x02, 0)));

    root.Write16(kPortLinkControl, kPowerOnLinkControl);
    EXPECT_TRUE(Training(root));
    ASSERT_TRUE(endpoint.Present());
    EXPECT_EQ(endpoint.Read16(PCI_COMMAND), PCI_COMMAND_MEMORY | PCI_COMMAND_MASTER);
    EXPECT_EQ(downstream.Read16(kPortLinkControl), kPowerOnLinkControl);
    EXPECT_EQ(endpoint.Read32(0x100 + PCI_ERR_COR_STATUS), 0u) << "a reset clears the error status";
    EXPECT_TRUE(Record(0x04, 0x00, 1).Present());
}

TEST(SimLink, AnInnerDisabledLinkComesBackWhenTheOuterOneResetsIt)
{
    BuiltinSim sim("[link]\ntraining_ms = 0\n");
    ASSERT_EQ(sim.OpenStatus(), QORB_SUCCESS) << sim.Errors();
    Record root(0x00, 0x01, 0);
    Record downstream(0x02, 0x00, 0);
    downstream.Write16(kPortLinkControl, kPowerOnLinkControl | PCI_EXP_LNKCTL_LD);
    EXPECT_FALSE(Record(0x03, 0x00, 0).Present());
    EXPECT_TRUE(Record(0x04, 0x00, 0).Present());
    /* Enabling a link that is not disabled retrains nothing and hides nothing. */
    root.Write16(kPortLinkControl, kPowerOnLinkControl);
    EXPECT_FALSE(Training(root));
    EXPECT_FALSE(Record(0x03, 0x00, 0).Present());

    root.Write16(kPortLinkControl, kPowerOnLinkControl | PCI_EXP_LNKCTL_LD);
    root.Write16(kPortLinkControl, kPowerOnLinkControl);
    EXPECT_TRUE(TrainingEnds(root));
    EXPECT_TRUE(LinkActive(root));
    EXPECT_EQ(downstream.Read16(kPortLinkControl), kPowerOnLinkControl);
    EXPECT_TRUE(Record(0x03, 0x00, 0).Present());
    /* A retrain while the link is disabled does nothing. */
    downstream.Write16(kPortLinkControl, kPowerOnLinkControl | PCI_EXP_LNKCTL_LD);
    downstream.Write16(kPortLinkControl, kPowerOnLinkControl | PCI_EXP_LNKCTL_LD | PCI_EXP_LNKCTL_RL);
    EXPECT_FALSE(Training(downstream));
    EXPECT_FALSE(Record(0x03, 0x00, 0).Present());
}

TEST(SimLink, StuckLinkTrainingNeverClears)
{
    BuiltinSim sim("[link]\ntraining_ms = 0\n[function 00:02.0]\nlink_training_stuck = 1\n");
    ASSERT_EQ(sim.OpenStatus(), QORB_SUCCESS) << sim.Errors();
    Record port(0x00, 0x02, 0);
    EXPECT_TRUE(Training(port));
    EXPECT_FALSE(LinkActive(port));
    port.Write16(kPortLinkControl, kPowerOnLinkControl | PCI_EXP_LNKCTL_RL);
    EXPECT_TRUE(Training(port));
    port.Write16(kPortLinkControl, kPowerOnLinkControl | PCI_EXP_LNKCTL_LD);
    port.Write16(kPortLinkControl, kPowerOnLinkControl);
    EXPECT_TRUE(Training(port));
    /* Other ports train normally. */
    Record other(0x00, 0x03, 0);
    other.Write16(kPortLinkControl, kPowerOnLinkControl | PCI_EXP_LNKCTL_RL);
    EXPECT_TRUE(TrainingEnds(other));
}

TEST(SimLink, LinkSettingsThatCannotApplyAreErrors)
{
    struct {
        const char* ini;
        const char* message;
    } cases[] = {
        {"[function 03:00.0]\nlink_training_stuck = 1\n", "not a root port or switch downstream port"},
        {"[link]\ntraining_ms = 60001\n", "training_ms = '60001' is not a number of milliseconds"},
        {"[link]\ntraining_ms = -1\n", "training_ms = '-1'"},
        {"[link]\ntrain_ms = 5\n", "unknown setting 'train_ms' in section [link]"},
    };
    for (const auto& c : cases)
        ExpectOpenFails(c.ini, c.message);
}
