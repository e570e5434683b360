#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/SystemdUnit.h"
#include "service/svcZORWinEvtExporter.h"

namespace zor {
namespace {

// The packaged unit (packaging/, for a program installed in
// /opt/zor-event-exporter) is exactly what --install writes for that path.
TEST(ServiceUnitTest, ThePackagedUnitIsWhatInstallWrites) {
  std::ifstream file(std::string(ZOR_SOURCE_DIR) + "/packaging/svcZORWinEvtExporter.service");
  ASSERT_TRUE(file);
  std::stringstream text;
  text << file.rdbuf();
  const TSystemdUnit unit{TsvcZORWinEvtExporter::Name, TsvcZORWinEvtExporter::Description,
                          TsvcZORWinEvtExporter::DisplayName, {"/opt/zor-event-exporter/zor-event-exporter"}};
  EXPECT_EQ(text.str(), RenderSystemdUnit(unit));
}

}  // namespace
}  // namespace zor
