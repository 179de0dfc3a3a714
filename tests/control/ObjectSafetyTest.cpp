#include <gtest/gtest.h>

#include <thread>

#include "safety/ObjectSafety.h"
#include "safety/basSafeCtl.h"

namespace kadroo {
namespace {

constexpr uint32_t kUntouched = 0xDEADBEEF;

class ObjectSafetyTest : public ::testing::Test {
 protected:
  void SetUp() override { basSafeCtl::ThreadStartup(); }
};

struct GetCase {
  const char* name;
  Guid iid;
  HResult result;
  uint32_t enabled;
};

TEST_F(ObjectSafetyTest, GetInterfaceSafetyOptionsMatrix) {
  const GetCase cases[] = {
      {"IDispatch", IID_IDispatch, S_OK, 1},
      {"IPersistStorage", IID_IPersistStorage, S_OK, 2},
      {"IPersistStream", IID_IPersistStream, S_OK, 2},
      {"IPersistPropertyBag", IID_IPersistPropertyBag, S_OK, 2},
      {"IUnknown", IID_IUnknown, E_NOINTERFACE, kUntouched},
      {"IObjectSafety", IID_IObjectSafety, E_NOINTERFACE, kUntouched},
  };
  for (const auto& c : cases) {
    uint32_t supported = kUntouched;
    uint32_t enabled = kUntouched;
    EXPECT_EQ(IObjectSafety_GetInterfaceSafetyOptions(&c.iid, &supported, &enabled), c.result) << c.name;
    EXPECT_EQ(supported, 3u) << c.name;
    EXPECT_EQ(enabled, c.enabled) << c.name;
  }
}

TEST_F(ObjectSafetyTest, NullIidIsNotAnError) {
  uint32_t supported = kUntouched;
  uint32_t enabled = kUntouched;
  EXPECT_EQ(IObjectSafety_GetInterfaceSafetyOptions(nullptr, &supported, &enabled), S_OK);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, kUntouched);
  EXPECT_EQ(IObjectSafety_SetInterfaceSafetyOptions(nullptr, 0, 0), S_OK);
  EXPECT_EQ(IObjectSafety_SetInterfaceSafetyOptions(nullptr, 3, 3), S_OK);
}

struct SetCase {
  Guid iid;
  uint32_t mask;
  uint32_t enabled;
  HResult result;
};

TEST_F(ObjectSafetyTest, SetInterfaceSafetyOptionsMatrix) {
  const SetCase cases[] = {
      {IID_IDispatch, 1, 1, S_OK},           {IID_IDispatch, 3, 1, S_OK},
      {IID_IDispatch, 1, 3, S_OK},           {IID_IDispatch, 3, 3, E_FAIL},
      {IID_IDispatch, 1, 0, E_FAIL},         {IID_IDispatch, 0, 0, E_FAIL},
      {IID_IDispatch, 2, 2, E_FAIL},         {IID_IPersistStream, 2, 2, S_OK},
      {IID_IPersistStream, 1, 1, E_FAIL},    {IID_IPersistStream, 3, 3, E_FAIL},
      {IID_IPersistStream, 3, 2, S_OK},      {IID_IPersistStorage, 2, 2, S_OK},
      {IID_IPersistPropertyBag, 2, 2, S_OK}, {IID_IPersistPropertyBag, 2, 0, E_FAIL},
      {IID_IUnknown, 1, 1, E_NOINTERFACE},   {IID_IUnknown, 0, 0, E_NOINTERFACE},
      {IID_IObjectSafety, 2, 2, E_NOINTERFACE},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IObjectSafety_SetInterfaceSafetyOptions(&c.iid, c.mask, c.enabled), c.result)
        << "mask " << c.mask << " enabled " << c.enabled;
  }
  // Nothing was stored: the answers are as before.
  uint32_t supported = 0;
  uint32_t enabled = 0;
  EXPECT_EQ(IObjectSafety_GetInterfaceSafetyOptions(&IID_IDispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(enabled, 1u);
  EXPECT_EQ(IObjectSafety_GetInterfaceSafetyOptions(&IID_IPersistStream, &supported, &enabled), S_OK);
  EXPECT_EQ(enabled, 2u);
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
