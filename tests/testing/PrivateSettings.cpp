// Every test process keeps its per-user settings (the language choice, the
// component registry) in a folder of its own, so that test processes running
// side by side never see each other's writes. Child processes inherit it.

#include <gtest/gtest.h>

#include <QSettings>
#include <cstdlib>
#include <memory>

#include "testing/TempDir.h"

namespace vark::test {
namespace {

class PrivateSettings : public ::testing::Environment {
public:
    void SetUp() override {
        m_dir = std::make_unique<TempDir>();
        const std::string config = m_dir->path().string();
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(config));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                           QString::fromStdString(config));
    }
    void TearDown() override { m_dir.reset(); }

private:
    std::unique_ptr<TempDir> m_dir;
};

const auto* const kPrivateSettings = ::testing::AddGlobalTestEnvironment(new PrivateSettings);

}  // namespace
}  // namespace vark::test
