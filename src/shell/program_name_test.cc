#include "shell/program_name.h"

#include "gtest/gtest.h"
#include "shell/shell_test_support.h"

namespace gateway {
namespace {

TEST(ProgramNameTest, DropsTheDirectoryAndAFourCharacterExtension) {
  const struct {
    const char* path;
    const char* name;
  } kCases[] = {
      {"/opt/gateway/Zorvan_Server.exe", "Zorvan_Server"},
      {"/usr/local/bin/Zorvan_Server", "Zorvan_Server"},
      {"Zorvan_Server.exe", "Zorvan_Server"},
      // Only an extension of exactly four characters, dot included, goes.
      {"/bin/gateway.sh", "gateway.sh"},
      {"/bin/gateway.conf", "gateway.conf"},
      {"/bin/gate.way.bin", "gate.way"},
      // A name that is nothing but an extension stays whole.
      {"/bin/.exe", ".exe"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ProgramNameFromPath(QString::fromUtf8(c.path)), QString::fromUtf8(c.name)) << c.path;
  }
}

TEST(ProgramNameTest, RunningExecutableGivesItsOwnName) {
  EXPECT_EQ(ProgramName(), QStringLiteral("shell_test"));
}

}  // namespace
}  // namespace gateway
