// Real run-time loading: all ten names or nothing.
#include "driver_binding.h"
#include "fake_env.h"

using namespace qvtest;

TEST(DriverBinding, RealLoadNeedsAllTenNames) {
  qv::rp1210::InstallTestDriver(nullptr);
  qv::rp1210::ResetContext();
  EXPECT_FALSE(qv::rp1210::BindDriver("COM4", "qvfake_novkl"));
  EXPECT_EQ(Ctx().binding.references, 0u);
  EXPECT_FALSE(qv::rp1210::BindDriver("COM4", "qvfake_missing_library"));
  ASSERT_TRUE(qv::rp1210::BindDriver("COM4", "qvfake_full"));
  EXPECT_EQ(Ctx().binding.references, 1u);
  const auto& api = Ctx().binding.api;
  EXPECT_EQ(api.configureVKL(0, 0), 135);
  uint8_t block[16] = {};
  EXPECT_EQ(api.getHardwareStatus(0x81, block), 0);
  EXPECT_EQ(block[0], 5);
  qv::rp1210::ReleaseDriver();
  EXPECT_FALSE(qv::rp1210::DriverBound());
}
