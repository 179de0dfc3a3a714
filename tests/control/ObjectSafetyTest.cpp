#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <thread>

#include "safety/ObjectSafety.h"
#include "safety/basSafeCtl.h"
#include "support/FakePlatform.h"
#include "support/TestData.h"

namespace kadroo {
namespace {

constexpr uint32_t kUntouched = 0xDEADBEEF;

class ObjectSafetyTest : public ::testing::Test {
 protected:
  void SetUp() override { basSafeCtl::ThreadStartup(); }
};

// A null iid in the table stands for a null riid.
std::optional<Guid> IidOf(const nlohmann::json& value) {
  if (value.is_null()) return std::nullopt;
  auto iid = GuidFromText(testing::JsonText(value));
  if (!iid) throw std::runtime_error("bad iid in table: " + value.dump());
  return iid;
}

TEST_F(ObjectSafetyTest, GetInterfaceSafetyOptionsMatrix) {
  const auto rows = testing::LoadTestData("object_safety.json")["get"];
  ASSERT_GE(rows.size(), 6u);
  for (const auto& row : rows) {
    const auto iid = IidOf(row["iid"]);
    uint32_t supported = kUntouched;
    uint32_t enabled = kUntouched;
    const std::string label = row["name"];
    EXPECT_EQ(IObjectSafety_GetInterfaceSafetyOptions(iid ? &*iid : nullptr, &supported, &enabled),
              row["hresult"].get<HResult>())
        << label;
    EXPECT_EQ(supported, 3u) << label;
    EXPECT_EQ(enabled, row["enabled"].is_null() ? kUntouched : row["enabled"].get<uint32_t>()) << label;
  }
}

TEST_F(ObjectSafetyTest, SetInterfaceSafetyOptionsMatrix) {
  const auto rows = testing::LoadTestData("object_safety.json")["set"];
  ASSERT_GE(rows.size(), 10u);
  for (const auto& row : rows) {
    const auto iid = IidOf(row["iid"]);
    EXPECT_EQ(IObjectSafety_SetInterfaceSafetyOptions(iid ? &*iid : nullptr, row["mask"], row["enabled"]),
              row["hresult"].get<HResult>())
        << row.dump();
  }
  // Nothing was stored: the answers are as before.
  uint32_t supported = 0;
  uint32_t enabled = 0;
  EXPECT_EQ(IObjectSafety_GetInterfaceSafetyOptions(&IID_IDispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(enabled, 1u);
  EXPECT_EQ(IObjectSafety_GetInterfaceSafetyOptions(&IID_IPersistStream, &supported, &enabled), S_OK);
  EXPECT_EQ(enabled, 2u);
}

TEST(GuidFromText, RefusesWhatIsNotAnIdentifier) {
  for (const char16_t* bad : {u"", u"{00020400-0000-0000-C000-00000000004}", u"00020400-0000-0000-C000-000000000046",
                              u"{00020400-0000-0000-C000-00000000004G}", u"{00020400+0000-0000-C000-000000000046}"}) {
    EXPECT_FALSE(GuidFromText(bad).has_value()) << testing::Narrow(bad);
  }
  EXPECT_EQ(GuidFromText(u"{cb5bdc81-93c1-11cf-8f20-00805f2cd064}"), IID_IObjectSafety);
}

TEST_F(ObjectSafetyTest, FlagsBelongToEachThread) {
  uint32_t enabledBeforeStartup = kUntouched;
  HResult setBeforeStartup = S_OK;
  std::thread other([&] {
    uint32_t supported = 0;
    IObjectSafety_GetInterfaceSafetyOptions(&IID_IDispatch, &supported, &enabledBeforeStartup);
    setBeforeStartup = IObjectSafety_SetInterfaceSafetyOptions(&IID_IDispatch, 1, 1);
  });
  other.join();
  EXPECT_EQ(enabledBeforeStartup, 0u) << "a thread whose start-up did not run is not declared safe";
  EXPECT_EQ(setBeforeStartup, E_FAIL);
  uint32_t supported = 0;
  uint32_t enabled = 0;
  IObjectSafety_GetInterfaceSafetyOptions(&IID_IDispatch, &supported, &enabled);
  EXPECT_EQ(enabled, 1u);
}

TEST(GuidText, RegistryFormatUpperCase) {
  EXPECT_EQ(GuidText(IID_IPersistPropertyBag), u"{37D84F60-42CB-11CE-8135-00AA004BB851}");
  EXPECT_EQ(GuidText(IID_IObjectSafety), u"{CB5BDC81-93C1-11CF-8F20-00805F2CD064}");
}

}  // namespace
}  // namespace kadroo
