// TestMain.cpp: runs the suite inside a Qt application and reports how many database tests ran
// on each driver, so that a run that silently skipped MariaDB is visible.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <iostream>
#include <map>
#include <string>

namespace {

class DriverCounter : public ::testing::EmptyTestEventListener {
public:
    void OnTestEnd(const ::testing::TestInfo& info) override {
        const char* param = info.value_param();
        if (param == nullptr) {
            ++counts[info.result()->Skipped() ? "skipped" : "no database"];
            return;
        }
        const std::string driver =
            std::string(param).find("QMYSQL") != std::string::npos ? "QMYSQL" : "QSQLITE";
        ++counts[info.result()->Skipped() ? driver + " skipped" : driver];
    }
    void OnTestProgramEnd(const ::testing::UnitTest&) override {
        std::cout << "Tests run per driver:";
        for (const auto& [name, count] : counts)
            std::cout << "  " << name << ": " << count;
        std::cout << std::endl;
    }

private:
    std::map<std::string, int> counts;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new DriverCounter);
    return RUN_ALL_TESTS();
}
