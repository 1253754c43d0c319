// The detection rules against a crate system of the test's own: no server,
// no window. Every call is logged, so that the order of the calls is
// checked as well as the inventory they leave.
#include "Detection.h"

#include "CaseName.h"
#include "CrateTypes.h"
#include "DetectionMessages.h"
#include "FixedText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace device;
using ksn::test::CaseName;

struct FakeSlot {
    std::uint16_t Id = 0;
    int OpenResult = KSN_OK;
    std::string Serial;
    std::string Name = "KSN48";
    std::uint16_t Firmware = 12;
};

struct FakeCrate {
    std::string Serial;
    std::uint8_t Type = 40;
    std::array<FakeSlot, 16> Slots{};
    int OpenResult = KSN_OK;
    int InfoResult = KSN_OK;
    int ModulesResult = KSN_OK;

    FakeCrate& Ksn48(int slot, std::string serial, int openResult = KSN_OK)
    {
        FakeSlot& s = Slots[static_cast<std::size_t>(slot - 1)];
        s.Id = KSN_MODULE_ID_KSN48;
        s.Serial = std::move(serial);
        s.OpenResult = openResult;
        return *this;
    }
};

// The crate system the fake calls act on, and what was asked of it.
struct FakeWorld {
    int ServerOpenResult = KSN_OK;
    int ListResult = KSN_OK;
    std::vector<FakeCrate> Crates;
    std::vector<std::string> Calls;
    bool ModuleOpen = false;
    // Runs after every module open (tests that stop a scan midway).
    std::function<void()> AfterModuleOpen;
};

FakeWorld* world = nullptr;

FakeCrate* FindCrate(const std::string& serial)
{
    for (FakeCrate& crate : world->Crates) {
        if (crate.Serial == serial) {
            return &crate;
        }
    }
    return nullptr;
}

std::string LinkSerial(const KsnCrateLink* link)
{
    return FixedText(link->CrateSerial);
}

int FakeInit(KsnCrateLink* link)
{
    world->Calls.push_back("KSN_Init");
    std::memset(link, 0, sizeof *link);
    return KSN_OK;
}

int FakeOpen(KsnCrateLink* link)
{
    const std::string serial = LinkSerial(link);
    world->Calls.push_back("KSN_Open " + serial);
    if (serial.empty()) {
        return world->ServerOpenResult;
    }
    const FakeCrate* crate = FindCrate(serial);
    return crate == nullptr ? KSN_ERR_NOT_FOUND : crate->OpenResult;
}

int FakeGetCrates(KsnCrateLink*, char (*list)[KSN_SERIAL_SIZE])
{
    world->Calls.push_back("KSN_GetCrates");
    if (world->ListResult != KSN_OK) {
        return world->ListResult;
    }
    for (std::size_t i = 0; i < world->Crates.size() && i < KSN_MAX_CRATES; ++i) {
        std::strncpy(list[i], world->Crates[i].Serial.c_str(), KSN_SERIAL_SIZE - 1);
    }
    return KSN_OK;
}

int FakeGetCrateInfo(KsnCrateLink* link, KsnCrateInfo* info)
{
    world->Calls.push_back("KSN_GetCrateInfo");
    const FakeCrate* crate = FindCrate(LinkSerial(link));
    if (crate->InfoResult == KSN_OK) {
        info->CrateType = crate->Type;
    }
    return crate->InfoResult;
}

int FakeGetCrateModules(KsnCrateLink* link, std::uint16_t* ids)
{
    world->Calls.push_back("KSN_GetCrateModules");
    const FakeCrate* crate = FindCrate(LinkSerial(link));
    if (crate->ModulesResult == KSN_OK) {
        for (std::size_t k = 0; k < crate->Slots.size(); ++k) {
            ids[k] = crate->Slots[k].Id;
        }
    }
    return crate->ModulesResult;
}

int FakeClose(KsnCrateLink*)
{
    world->Calls.push_back("KSN_Close");
    return KSN_OK;
}

int FakeModuleInit(Ksn48Handle* h)
{
    world->Calls.push_back("KSN48_Init");
    std::memset(h, 0, sizeof *h);
    return KSN_OK;
}

int FakeModuleOpen(Ksn48Handle* h, std::uint32_t address, std::uint16_t port,
                   const char* crateSerial, int slot)
{
    world->Calls.push_back("KSN48_Open " + std::string(crateSerial) + " " + std::to_string(slot));
    EXPECT_EQ(address, static_cast<std::uint32_t>(KSN48_DEFAULT_ADDRESS));
    EXPECT_EQ(port, KSN48_DEFAULT_PORT);
    if (world->ModuleOpen) {
        return KSN_ERR_STATE;
    }
    const FakeCrate* crate = FindCrate(crateSerial);
    int result = KSN_ERR_NOT_FOUND;
    if (crate != nullptr && slot >= 1 && slot <= 16) {
        const FakeSlot& s = crate->Slots[static_cast<std::size_t>(slot - 1)];
        result = s.Id == KSN_MODULE_ID_KSN48 ? s.OpenResult : KSN_ERR_NOT_MODULE;
        if (result == KSN_OK) {
            world->ModuleOpen = true;
            std::strncpy(h->ModuleName, s.Name.c_str(), sizeof h->ModuleName - 1);
            std::strncpy(h->ModuleSerial, s.Serial.c_str(), sizeof h->ModuleSerial - 1);
            h->FirmwareVersion = s.Firmware;
        }
    }
    if (world->AfterModuleOpen) {
        world->AfterModuleOpen();
    }
    return result;
}

int FakeModuleIsOpened(const Ksn48Handle*)
{
    return world->ModuleOpen ? KSN_OK : KSN_ERR_NOT_OPEN;
}

int FakeModuleClose(Ksn48Handle*)
{
    world->Calls.push_back("KSN48_Close");
    world->ModuleOpen = false;
    return KSN_OK;
}

CrateApi FakeApi()
{
    CrateApi api;
    api.Init = &FakeInit;
    api.Open = &FakeOpen;
    api.GetCrates = &FakeGetCrates;
    api.GetCrateInfo = &FakeGetCrateInfo;
    api.GetCrateModules = &FakeGetCrateModules;
    api.Close = &FakeClose;
    api.ModuleInit = &FakeModuleInit;
    api.ModuleOpen = &FakeModuleOpen;
    api.ModuleIsOpened = &FakeModuleIsOpened;
    api.ModuleClose = &FakeModuleClose;
    return api;
}

// The simulator's population: a KSN-P5 with KSN48 modules in slots 3 and 5,
// a KSN-P1 with one in slot 1 and another kind of module in slot 2, and a
// crate without any KSN48.
FakeWorld DefaultWorld()
{
    FakeWorld w;
    FakeCrate a{"KSN5-0042", 40};
    a.Ksn48(3, "4811001").Ksn48(5, "4811002");
    FakeCrate b{"KSN1-0107", 21};
    b.Ksn48(1, "4812001");
    b.Slots[1].Id = 0x3131;
    FakeCrate c{"KSN3-0001", 30};
    c.Slots[0].Id = 0x3131;
    w.Crates = {a, b, c};
    return w;
}

class DetectorTest : public ::testing::Test {
protected:
    void SetUp() override { world = &fake; }
    void TearDown() override { world = nullptr; }

    ScanReport Scan(const std::atomic<bool>* stop = nullptr)
    {
        Detector detector(handle, FakeApi(), stop);
        return detector.ScanCrates(inventory);
    }

    std::vector<std::string> ModuleCrates() const
    {
        std::vector<std::string> serials;
        for (std::size_t j = 0; j < inventory.ModuleCrateCount; ++j) {
            serials.push_back(FixedText(inventory.ModuleCrateSerials[j]));
        }
        return serials;
    }

    std::vector<int> Slots(std::size_t crate) const
    {
        std::vector<int> slots;
        for (std::size_t m = 0; m < inventory.ModuleCounts[crate]; ++m) {
            slots.push_back(inventory.ModuleSlots[crate][m]);
        }
        return slots;
    }

    FakeWorld fake = DefaultWorld();
    Ksn48Handle handle{};
    DeviceInventory inventory;
};

// --- the scan ---

TEST_F(DetectorTest, ScanListsEveryCrateAndTheCratesThatHoldAModuleInTheContractsOrder)
{
    const ScanReport report = Scan();

    EXPECT_TRUE(report.Succeeded());
    EXPECT_TRUE(report.OpenFailures.empty());
    EXPECT_EQ(inventory.CrateCount, 3);
    EXPECT_EQ(inventory.CrateTypes[1], 21);
    EXPECT_EQ(inventory.CrateModuleIds[1][1], 0x3131);
    EXPECT_EQ(ModuleCrates(), (std::vector<std::string>{"KSN5-0042", "KSN1-0107"}));
    EXPECT_EQ(inventory.ModuleCrateTypes[0], 40);
    EXPECT_EQ(inventory.ModuleCrateTypes[1], 21);
    EXPECT_EQ(Slots(0), (std::vector<int>{3, 5}));
    EXPECT_EQ(Slots(1), (std::vector<int>{1}));
    EXPECT_EQ(FixedText(inventory.ModuleSerials[0][1]), "4811002");
    EXPECT_EQ(FixedText(inventory.ModuleSerials[1][0]), "4812001");
    EXPECT_FALSE(fake.ModuleOpen) << "the scan leaves the handle closed";
    // The crate list, one connection per crate, then every module opened
    // once without KSN48_Init, closing the previous one first.
    EXPECT_EQ(fake.Calls, (std::vector<std::string>{
                              "KSN_Init",         "KSN_Open ",
                              "KSN_GetCrates",    "KSN_Close",
                              "KSN_Init",         "KSN_Open KSN5-0042",
                              "KSN_GetCrateInfo", "KSN_GetCrateModules",
                              "KSN_Close",        "KSN_Open KSN1-0107",
                              "KSN_GetCrateInfo", "KSN_GetCrateModules",
                              "KSN_Close",        "KSN_Open KSN3-0001",
                              "KSN_GetCrateInfo", "KSN_GetCrateModules",
                              "KSN_Close",        "KSN48_Open KSN5-0042 3",
                              "KSN48_Close",      "KSN48_Open KSN5-0042 5",
                              "KSN48_Close",      "KSN48_Open KSN1-0107 1",
                              "KSN48_Close",
                          }));
}

TEST_F(DetectorTest, ASecondScanForgetsWhatTheFirstFound)
{
    Scan();
    fake.Crates.erase(fake.Crates.begin());
    fake.Calls.clear();

    Scan();

    EXPECT_EQ(inventory.CrateCount, 2);
    EXPECT_EQ(ModuleCrates(), std::vector<std::string>{"KSN1-0107"});
    EXPECT_EQ(inventory.CrateSerials[2][0], '\0');
    EXPECT_EQ(inventory.ModuleCrateSerials[1][0], '\0');
    EXPECT_EQ(inventory.ModuleCounts[1], 0);
}

struct SearchCase : ksn::test::NamedCase {
    std::function<void(FakeWorld&)> change;
    // Expected outcome.
    std::optional<CrateCall> listFailure;
    std::optional<CrateCall> queryFailure;
    const char* queryCrate;
    int failedOpens;
    bool unanswered;
    std::vector<std::string> moduleCrates;
};

class Search : public DetectorTest, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(Search, EndsAsTheRulesSay)
{
    const SearchCase& c = GetParam();
    c.change(fake);

    const ScanReport report = Scan();

    ASSERT_EQ(report.ListFailure.has_value(), c.listFailure.has_value());
    if (c.listFailure) {
        EXPECT_EQ(report.ListFailure->Call, *c.listFailure);
        EXPECT_NE(report.ListFailure->Result, KSN_OK);
        EXPECT_EQ(inventory.CrateSerials[0][0], '\0') << "the list is emptied";
    }
    ASSERT_EQ(report.QueryFailure.has_value(), c.queryFailure.has_value());
    if (c.queryFailure) {
        EXPECT_EQ(report.QueryFailure->Call, *c.queryFailure);
        EXPECT_EQ(report.QueryFailure->CrateSerial, c.queryCrate);
        // The scan ends at once: no module is opened.
        for (const std::string& call : fake.Calls) {
            EXPECT_NE(call.rfind("KSN48_Open", 0), 0U) << call;
        }
    }
    EXPECT_EQ(report.OpenFailures.size(), static_cast<std::size_t>(c.failedOpens));
    EXPECT_EQ(report.HasUnansweredOpen(), c.unanswered);
    EXPECT_EQ(report.Succeeded(), !c.listFailure && !c.queryFailure);
    if (report.Succeeded()) {
        EXPECT_EQ(ModuleCrates(), c.moduleCrates);
    }
    EXPECT_FALSE(fake.ModuleOpen);
}

INSTANTIATE_TEST_SUITE_P(
    Detector, Search,
    ::testing::Values(
        SearchCase{
            {"Everything"}, [](FakeWorld&) {}, {}, {}, "", 0, false, {"KSN5-0042", "KSN1-0107"}},
        SearchCase{{"NoServer"},
                   [](FakeWorld& w) { w.ServerOpenResult = KSN_ERR_CONNECT; },
                   CrateCall::Open,
                   {},
                   "",
                   0,
                   false,
                   {}},
        SearchCase{{"CrateListTimesOut"},
                   [](FakeWorld& w) { w.ListResult = KSN_ERR_TIMEOUT; },
                   CrateCall::GetCrates,
                   {},
                   "",
                   0,
                   false,
                   {}},
        SearchCase{{"CrateCannotBeOpened"},
                   [](FakeWorld& w) { w.Crates[1].OpenResult = KSN_ERR_TIMEOUT; },
                   {},
                   CrateCall::Open,
                   "KSN1-0107",
                   0,
                   false,
                   {}},
        SearchCase{{"CrateInfoFails"},
                   [](FakeWorld& w) { w.Crates[0].InfoResult = KSN_ERR_PROTOCOL; },
                   {},
                   CrateCall::GetCrateInfo,
                   "KSN5-0042",
                   0,
                   false,
                   {}},
        SearchCase{{"CrateModulesFail"},
                   [](FakeWorld& w) { w.Crates[2].ModulesResult = KSN_ERR_CONNECTION_LOST; },
                   {},
                   CrateCall::GetCrateModules,
                   "KSN3-0001",
                   0,
                   false,
                   {}},
        SearchCase{{"NoKsn48Anywhere"},
                   [](FakeWorld& w) { w.Crates.erase(w.Crates.begin(), w.Crates.begin() + 2); },
                   {},
                   {},
                   "",
                   0,
                   false,
                   {}},
        SearchCase{{"AModuleRefuses"},
                   [](FakeWorld& w) { w.Crates[0].Slots[2].OpenResult = KSN_ERR_REFUSED; },
                   {},
                   {},
                   "",
                   1,
                   false,
                   {"KSN5-0042", "KSN1-0107"}},
        SearchCase{{"AModuleIsBusy"},
                   [](FakeWorld& w) { w.Crates[1].Slots[0].OpenResult = KSN_ERR_BUSY; },
                   {},
                   {},
                   "",
                   1,
                   false,
                   {"KSN5-0042"}},
        // The server is not asked again after an open it left unanswered:
        // the module after it is not in the lists.
        SearchCase{{"AModuleDoesNotAnswer"},
                   [](FakeWorld& w) { w.Crates[0].Slots[4].OpenResult = KSN_ERR_TIMEOUT; },
                   {},
                   {},
                   "",
                   1,
                   true,
                   {"KSN5-0042"}},
        SearchCase{{"AModuleAnswersNonsense"},
                   [](FakeWorld& w) { w.Crates[0].Slots[2].OpenResult = KSN_ERR_PROTOCOL; },
                   {},
                   {},
                   "",
                   1,
                   true,
                   {"KSN5-0042", "KSN1-0107"}},
        SearchCase{{"NoModuleAnswers"},
                   [](FakeWorld& w) {
                       for (FakeCrate& crate : w.Crates) {
                           for (FakeSlot& slot : crate.Slots) {
                               slot.OpenResult = KSN_ERR_TIMEOUT;
                           }
                       }
                   },
                   {},
                   {},
                   "",
                   1,
                   true,
                   {}}),
    CaseName<SearchCase>);

// One open that gets no answer in its time costs the scan that time once,
// not once for every module after it.
TEST_F(DetectorTest, AServerThatLeftAnOpenUnansweredIsNotAskedAgain)
{
    fake.Crates[0].Slots[2].OpenResult = KSN_ERR_TIMEOUT;

    const ScanReport report = Scan();

    EXPECT_TRUE(report.ServerSilent);
    EXPECT_EQ(report.SlotsNotAsked, 2) << "slot 5 of KSN5-0042 and slot 1 of KSN1-0107";
    ASSERT_EQ(report.OpenFailures.size(), 1U);
    EXPECT_EQ(report.OpenFailures[0].Slot, 3);
    EXPECT_EQ(inventory.ModuleCrateCount, 0);
    const auto opens = std::count_if(fake.Calls.begin(), fake.Calls.end(), [](const auto& call) {
        return call.rfind("KSN48_Open", 0) == 0;
    });
    EXPECT_EQ(opens, 1);
    EXPECT_FALSE(fake.ModuleOpen);

    // Any other failure of an open goes on with the next module.
    for (const int result : {KSN_ERR_PROTOCOL, KSN_ERR_CONNECTION_LOST, KSN_ERR_BUSY}) {
        fake.Crates[0].Slots[2].OpenResult = result;
        fake.Calls.clear();
        const ScanReport other = Scan();
        EXPECT_FALSE(other.ServerSilent) << result;
        EXPECT_EQ(other.SlotsNotAsked, 0) << result;
        EXPECT_EQ(ModuleCrates(), (std::vector<std::string>{"KSN5-0042", "KSN1-0107"})) << result;
    }
}

TEST_F(DetectorTest, AStopRequestEndsTheScanAfterTheCallUnderWay)
{
    std::atomic<bool> stop{false};
    fake.AfterModuleOpen = [&stop] { stop = true; };

    const ScanReport report = Scan(&stop);

    EXPECT_TRUE(report.Stopped);
    EXPECT_FALSE(report.Succeeded());
    EXPECT_EQ(fake.Calls.back(), "KSN48_Close") << "the module it had opened is closed";
    int opens = 0;
    for (const std::string& call : fake.Calls) {
        opens += call.rfind("KSN48_Open", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(opens, 1);
}

TEST_F(DetectorTest, AStopRequestBeforeTheScanCallsNothing)
{
    const std::atomic<bool> stop{true};
    EXPECT_TRUE(Scan(&stop).Stopped);
    EXPECT_TRUE(fake.Calls.empty());
}

// --- the choice ---

struct ChoiceCase : ksn::test::NamedCase {
    const char* crateSerial;
    int slot;
    int crate;
    int module;
};

class Choice : public DetectorTest, public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(Choice, FollowsTheWantedCrateAndSlot)
{
    const ChoiceCase& c = GetParam();
    Scan();
    inventory.SelectedModule.fill(7);  // left over from an earlier choice

    Detector::ChooseModule(inventory, c.crateSerial, c.slot);

    EXPECT_EQ(inventory.SelectedCrate, c.crate);
    for (std::size_t j = 0; j < inventory.SelectedModule.size(); ++j) {
        EXPECT_EQ(inventory.SelectedModule[j],
                  j == static_cast<std::size_t>(c.crate) ? c.module : 0)
            << "crate " << j;
    }
    EXPECT_TRUE(inventory.HasSelectedModule());
}

INSTANTIATE_TEST_SUITE_P(
    Detector, Choice,
    ::testing::Values(ChoiceCase{{"CrateAndSlot"}, "KSN5-0042", 5, 0, 1},
                      ChoiceCase{{"SecondCrate"}, "KSN1-0107", 1, 1, 0},
                      // Slot 5 exists in the crate chosen instead; it is not taken.
                      ChoiceCase{{"CrateMissing"}, "KSN9-9999", 5, 0, 0},
                      ChoiceCase{{"SlotMissing"}, "KSN5-0042", 4, 0, 0},
                      ChoiceCase{{"NoSlot"}, "KSN5-0042", -1, 0, 0},
                      ChoiceCase{{"NothingSaved"}, "", -1, 0, 0},
                      // Serials compare exactly, case included.
                      ChoiceCase{{"CrateInOtherCase"}, "ksn1-0107", 1, 0, 0},
                      // A crate without a KSN48 module is no module crate.
                      ChoiceCase{{"CrateWithoutModule"}, "KSN3-0001", 1, 0, 0}),
    CaseName<ChoiceCase>);

// --- opening the chosen module ---

TEST_F(DetectorTest, OpeningTheChoicePreparesTheHandleAndNamesTheModule)
{
    Scan();
    Detector::ChooseModule(inventory, "KSN1-0107", 1);
    fake.ModuleOpen = true;  // the module of an earlier pass
    fake.Calls.clear();

    const OpenedModule opened = Detector(handle, FakeApi()).OpenSelectedModule(inventory);

    EXPECT_TRUE(opened.Opened());
    EXPECT_EQ(opened.CrateSerial, "KSN1-0107");
    EXPECT_EQ(opened.Slot, 1);
    EXPECT_EQ(opened.ModuleName, "KSN48");
    EXPECT_EQ(opened.CrateType, 21);
    EXPECT_EQ(opened.CrateTypeName, "KSN-P1");
    EXPECT_EQ(FixedText(handle.ModuleSerial), "4812001");
    EXPECT_EQ(fake.Calls,
              (std::vector<std::string>{"KSN48_Close", "KSN48_Init", "KSN48_Open KSN1-0107 1"}));
}

TEST_F(DetectorTest, AChoiceThatDoesNotOpenSaysWhy)
{
    Scan();
    Detector::ChooseModule(inventory, "KSN5-0042", 3);
    fake.Crates[0].Slots[2].OpenResult = KSN_ERR_TIMEOUT;

    const OpenedModule opened = Detector(handle, FakeApi()).OpenSelectedModule(inventory);

    EXPECT_FALSE(opened.Opened());
    EXPECT_EQ(opened.Result, KSN_ERR_TIMEOUT);
    EXPECT_EQ(opened.CrateSerial, "KSN5-0042");
    EXPECT_EQ(opened.Slot, 3);
    EXPECT_TRUE(opened.ModuleName.empty());
    EXPECT_FALSE(fake.ModuleOpen);
}

TEST_F(DetectorTest, AChoiceOutsideTheListsOpensNothing)
{
    Scan();
    fake.Calls.clear();
    for (const std::uint16_t crate : {std::uint16_t{2}, DeviceInventory::NoCrate}) {
        inventory.SelectedCrate = crate;
        EXPECT_FALSE(Detector(handle, FakeApi()).OpenSelectedModule(inventory).Opened());
    }
    inventory.SelectedCrate = 1;
    inventory.SelectedModule[1] = 1;  // the crate has one module
    EXPECT_FALSE(Detector(handle, FakeApi()).OpenSelectedModule(inventory).Opened());
    EXPECT_TRUE(fake.Calls.empty());
}

// --- how failures are named ---

TEST(CallFaults, TellWhatFailed)
{
    EXPECT_EQ(ClassifyResult(KSN_OK), CallFault::None);
    EXPECT_EQ(ClassifyResult(KSN_ERR_CONNECT), CallFault::NoServer);
    EXPECT_EQ(ClassifyResult(KSN_ERR_TIMEOUT), CallFault::NoAnswer);
    EXPECT_EQ(ClassifyResult(KSN_ERR_PROTOCOL), CallFault::Nonsense);
    EXPECT_EQ(ClassifyResult(KSN_ERR_VERSION), CallFault::Nonsense);
    EXPECT_EQ(ClassifyResult(KSN_ERR_CONNECTION_LOST), CallFault::LinkLost);
    EXPECT_EQ(ClassifyResult(KSN_ERR_BUSY), CallFault::Busy);
    EXPECT_EQ(ClassifyResult(KSN_ERR_REFUSED), CallFault::Refused);
    EXPECT_EQ(ClassifyResult(KSN_ERR_NOT_MODULE), CallFault::NotFound);
    EXPECT_EQ(ClassifyResult(KSN_ERR_INTERNAL), CallFault::Other);
    EXPECT_EQ(ClassifyResult(-1000), CallFault::Other);
}

TEST(DetectionMessagesTest, NameTheCrateTheSlotAndTheReason)
{
    namespace m = DetectionMessages;
    EXPECT_EQ(m::NoModuleCrate(),
              "Не могу найти ни одного KSN крейта, где бы был установлен модуль KSN48!");
    EXPECT_EQ(m::CrateQuery({"KSN5-0042", CrateCall::GetCrateInfo, KSN_ERR_TIMEOUT}),
              "Не могу получить сведения о KSN крейте 'KSN5-0042': сервер крейтов не отвечает!");
    EXPECT_EQ(m::CrateQuery({"KSN5-0042", CrateCall::GetCrateModules, KSN_ERR_PROTOCOL}),
              "Не могу получить сведения о KSN крейте 'KSN5-0042': ответ сервера крейтов не "
              "имеет смысла!");
    EXPECT_EQ(m::ScanOpenFailures(
                  {{"KSN5-0042", 3, KSN_ERR_TIMEOUT}, {"KSN1-0107", 1, KSN_ERR_PROTOCOL}}),
              "Не могу открыть модуль KSN48 в слоте 3 KSN крейта 'KSN5-0042': модуль не "
              "отвечает!\nНе могу открыть модуль KSN48 в слоте 1 KSN крейта 'KSN1-0107': ответ "
              "на открытие модуля не имеет смысла!");
    EXPECT_EQ(m::ScanOpenFailures({{"KSN5-0042", 3, KSN_ERR_TIMEOUT}}, 2),
              "Не могу открыть модуль KSN48 в слоте 3 KSN крейта 'KSN5-0042': модуль не "
              "отвечает!\nОстальные модули KSN48 не опрошены: сервер крейтов не отвечает!");
    // The crate list: no server at all keeps the design's text; a server
    // that was reached is named for what it did.
    EXPECT_EQ(m::CrateList({"", CrateCall::Open, KSN_ERR_CONNECT}),
              "Не могу найти ни одного KSN крейта!");
    EXPECT_EQ(m::CrateList({"", CrateCall::Open, KSN_ERR_TIMEOUT}),
              "Не могу получить список KSN крейтов: сервер крейтов не отвечает!");
    EXPECT_EQ(m::CrateList({"", CrateCall::GetCrates, KSN_ERR_PROTOCOL}),
              "Не могу получить список KSN крейтов: ответ сервера крейтов не имеет смысла!");
    EXPECT_EQ(m::CrateList({"", CrateCall::Open, KSN_ERR_VERSION}),
              "Не могу получить список KSN крейтов: ответ сервера крейтов не имеет смысла!");
    EXPECT_EQ(m::CrateList({"", CrateCall::GetCrates, KSN_ERR_CONNECTION_LOST}),
              "Не могу получить список KSN крейтов: сервер крейтов разорвал связь!");
    EXPECT_EQ(m::ChosenModule({"KSN5-0042", 5, KSN_ERR_BUSY}),
              "Не могу открыть выбранный модуль KSN48 в слоте 5 KSN крейта 'KSN5-0042': модуль "
              "занят другой программой!");
    EXPECT_EQ(m::ChosenModule({"K", 1, -77}),
              "Не могу открыть выбранный модуль KSN48 в слоте 1 KSN крейта 'K': ошибка "
              "библиотеки модуля (код -77)!");
}

// --- versions ---

TEST(LibraryVersionCode, IgnoresTheBuild)
{
    EXPECT_EQ(LibraryVersionCode(1, 32, 15), MinLibraryVersionCode);
    EXPECT_LT(LibraryVersionCode(1, 32, 14), MinLibraryVersionCode);
    EXPECT_GT(LibraryVersionCode(1, 33, 0), MinLibraryVersionCode);
    EXPECT_GT(LibraryVersionCode(2, 0, 0), MinLibraryVersionCode);
}

struct VersionCase : ksn::test::NamedCase {
    std::optional<FileVersion> ksnapi;
    std::optional<FileVersion> ksn48api;
    std::optional<LibraryCheck> expected;
    const char* message;
};

class LibraryVersions : public ::testing::TestWithParam<VersionCase> {};

TEST_P(LibraryVersions, AreCheckedCrateLibraryFirst)
{
    const VersionCase& c = GetParam();
    const std::optional<LibraryCheck> check = CheckDeviceLibraries(c.ksnapi, c.ksn48api);
    ASSERT_EQ(check.has_value(), c.expected.has_value());
    if (check) {
        EXPECT_EQ(check->Library, c.expected->Library);
        EXPECT_EQ(check->State, c.expected->State);
        EXPECT_EQ(DetectionMessages::LibraryVersion(*check), c.message);
    }
}

constexpr FileVersion V1_32_14{1, 32, 14, 0};
constexpr FileVersion V1_32_14_Build{1, 32, 14, 999};
constexpr FileVersion V1_32_15{1, 32, 15, 0};
constexpr FileVersion V2_0_0{2, 0, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Detection, LibraryVersions,
    ::testing::Values(
        VersionCase{{"BothSupported"}, V1_32_15, V2_0_0, std::nullopt, ""},
        VersionCase{{"CrateLibraryWithoutVersion"},
                    std::nullopt,
                    V1_32_14,
                    LibraryCheck{DeviceLibrary::Ksnapi, LibraryVersionState::Missing},
                    "Опаньки!!! Не могу определить версию библиотеки Ksnapi.dll!!!"},
        VersionCase{{"ModuleLibraryWithoutVersion"},
                    V2_0_0,
                    std::nullopt,
                    LibraryCheck{DeviceLibrary::Ksn48api, LibraryVersionState::Missing},
                    "Опаньки!!! Не могу определить версию библиотеки Ksn48api.dll!!!"},
        // The first library that is not supported ends the check.
        VersionCase{{"CrateLibraryOldModuleLibraryMissing"},
                    V1_32_14,
                    std::nullopt,
                    LibraryCheck{DeviceLibrary::Ksnapi, LibraryVersionState::TooOld},
                    "Версия библиотеки Ksnapi.dll должна быть не ниже 1.32.15!!!"},
        VersionCase{{"ModuleLibraryOldEvenWithABuild"},
                    V1_32_15,
                    V1_32_14_Build,
                    LibraryCheck{DeviceLibrary::Ksn48api, LibraryVersionState::TooOld},
                    "Версия библиотеки Ksn48api.dll должна быть не ниже 1.32.15!!!"}),
    CaseName<VersionCase>);

TEST(Firmware, NineIsTheOldestWithoutAWarning)
{
    EXPECT_FALSE(FirmwareSupported(0));
    EXPECT_FALSE(FirmwareSupported(8));
    EXPECT_TRUE(FirmwareSupported(9));
    EXPECT_TRUE(FirmwareSupported(12));
}

TEST(CrateTypes, OnlyTheFirstModelHasTheSlowLink)
{
    EXPECT_TRUE(IsSlowLinkCrate(21));
    for (const int code : {0, 10, 30, 31, 40, 41, 99, 255}) {
        EXPECT_FALSE(IsSlowLinkCrate(static_cast<std::uint8_t>(code))) << code;
    }
    EXPECT_EQ(CrateRateLimit(SlowLinkCrateCode), 800.0);
}

// --- fixed fields ---

TEST(FixedTextTest, StopsAtTheFirstZeroOrTheFieldsEnd)
{
    const char terminated[8] = {'K', 'S', 'N', '\0', 'x', 'y', 'z', 'w'};
    const char full[4] = {'4', '8', '1', '1'};
    const char empty[4] = {};
    EXPECT_EQ(FixedText(terminated), "KSN");
    EXPECT_EQ(FixedText(full), "4811");
    EXPECT_EQ(FixedText(empty), "");
    const DeviceInventory::Text text{'A', 'B'};
    EXPECT_EQ(FixedText(text), "AB");

    char copy[4] = {'x', 'x', 'x', 'x'};
    CopySerial(copy, full, sizeof copy);
    EXPECT_EQ(FixedText(copy), "481");
}

}  // namespace
