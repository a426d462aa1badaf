// zqlines --modem-*: the tool as a user runs it, on a registry store of the
// test's own, checked both by its own listing and by what the modem provider
// reads from the class.
#include "childprocess.h"
#include "modemdiscovery.h"
#include "modemsim_process.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using zq::modem::ModemInfo;
using zq::modem::test::ModemSimProcess;
using zqtest::ChildProcess;

struct Outcome {
    int code = -1;
    std::string out, err;
};

class ZqlinesModems : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        store_ = dir_.filePath("registry.json");
        qputenv("ZQ_REGISTRY_FILE", store_.toLocal8Bit());
    }
    void TearDown() override { qunsetenv("ZQ_REGISTRY_FILE"); }

    Outcome Zqlines(const QStringList& args)
    {
        ChildProcess p;
        const ChildProcess::Setup setup { {},
            { "ZQ_REGISTRY_FILE=" + store_, "XDG_CONFIG_HOME=" + dir_.path() } };
        Outcome r;
        if (!p.Start(QStringLiteral(ZQLINES_PATH), args, setup)) {
            ADD_FAILURE() << p.Error().toStdString();
            return r;
        }
        if (!p.WaitForExit(120000)) {
            ADD_FAILURE() << "zqlines " << args.join(' ').toStdString() << " did not end";
            return r;
        }
        r.code = p.ExitCode();
        r.out = p.Out().toStdString();
        r.err = p.Err().toStdString();
        return r;
    }

    // The modems as the provider reads them.
    static std::vector<ModemInfo> ClassModems() { return zq::modem::ListClassModems(); }
    static const ModemInfo* Named(const std::vector<ModemInfo>& modems, const std::string& name)
    {
        const auto it
            = std::find_if(modems.begin(), modems.end(), [&](const ModemInfo& m) { return m.name == name; });
        return it == modems.end() ? nullptr : &*it;
    }

    QTemporaryDir dir_;
    QString store_;
};

TEST_F(ZqlinesModems, AddListAndRemoveAsTheProviderReadsThem)
{
    Outcome r = Zqlines({ "--modem-list" });
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("The modem provider is off."), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("No modems"), std::string::npos) << r.out;

    // A full path below /dev/ is kept as the provider reads it back.
    r = Zqlines({ "--modem-add", "Desk modem", "--port", "/dev/null", "--init", "ATX3 S7=45" });
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("The modem provider is on."), std::string::npos) << r.out;
    // A port that is not there now (unplugged) is accepted with a warning.
    r = Zqlines({ "--modem-add", "Travel modem", "--port", "ttyZQNOTHERE7" });
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("warning"), std::string::npos) << r.err;

    std::vector<ModemInfo> modems = ClassModems();
    ASSERT_EQ(modems.size(), 2u);
    const ModemInfo* desk = Named(modems, "Desk modem");
    const ModemInfo* travel = Named(modems, "Travel modem");
    ASSERT_TRUE(desk && travel);
    EXPECT_EQ(desk->device, "/dev/null");
    EXPECT_EQ(desk->userInit, "ATX3 S7=45");
    EXPECT_EQ(travel->device, "/dev/ttyZQNOTHERE7");
    EXPECT_EQ(travel->userInit, "");
    EXPECT_NE(desk->subkey, travel->subkey);
    EXPECT_EQ(desk->subkey.size(), 4u);

    r = Zqlines({ "--modem-list" });
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("The modem provider is on."), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(desk->subkey + "  Desk modem"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("/dev/null (present)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"ATX3 S7=45\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("/dev/ttyZQNOTHERE7 (not present now)"), std::string::npos) << r.out;

    r = Zqlines({ "--modem-remove", "Desk modem" });
    EXPECT_EQ(r.code, 0) << r.err;
    modems = ClassModems();
    ASSERT_EQ(modems.size(), 1u);
    EXPECT_EQ(modems[0].name, "Travel modem");
    r = Zqlines({ "--modem-list" });
    EXPECT_EQ(r.out.find("Desk modem"), std::string::npos) << r.out;

    // Removing again, or a name never added, is an error that says so.
    r = Zqlines({ "--modem-remove", "Desk modem" });
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.err.find("no modem \"Desk modem\""), std::string::npos) << r.err;

    r = Zqlines({ "--modem-off" });
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(Zqlines({ "--modem-list" }).out.find("The modem provider is off."), std::string::npos);
    r = Zqlines({ "--modem-on" });
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(Zqlines({ "--modem-list" }).out.find("The modem provider is on."), std::string::npos);
}

TEST_F(ZqlinesModems, RefusesWhatWouldMakeABrokenModem)
{
    ASSERT_EQ(Zqlines({ "--modem-add", "Desk modem", "--port", "ttyZQNOTHERE1" }).code, 0);

    struct Case {
        QStringList args;
        std::string says;
    };
    const std::vector<Case> cases = {
        { { "--modem-add", "Desk modem", "--port", "ttyZQNOTHERE2" }, "already" },
        // A line end would end the command early and run the rest as another.
        { { "--modem-add", "Other", "--port", "ttyZQNOTHERE3", "--init", "ATX3\rATD123" }, "init string" },
        { { "--modem-add", "Other", "--port", "ttyZQNOTHERE3", "--init", "ATX3\n" }, "init string" },
        { { "--modem-add", "Other", "--port", "ttyZQNOTHERE3", "--init", "AT\x01Z" }, "init string" },
        { { "--modem-add", "Other", "--port", dir_.path() }, "not a serial port" },
        { { "--modem-add", "Other", "--port", store_ }, "not a serial port" },
        { { "--modem-add", "Other" }, "--port" },
        { { "--modem-add", "Other", "--port" }, "needs a value" },
        { { "--modem-add", "Other", "--port", "ttyZQNOTHERE3", "--speed", "9600" }, "unknown option" },
        { { "--modem-remove", "Nobody" }, "no modem" },
    };
    for (const Case& c : cases) {
        const Outcome r = Zqlines(c.args);
        EXPECT_NE(r.code, 0) << c.args.join(' ').toStdString();
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args.join(' ').toStdString() << ": " << r.err;
    }
    const std::vector<ModemInfo> modems = ClassModems();
    ASSERT_EQ(modems.size(), 1u);
    EXPECT_EQ(modems[0].device, "/dev/ttyZQNOTHERE1");
}

TEST_F(ZqlinesModems, ScanAddsTheModemThatAnswersOnly)
{
    ModemSimProcess sim("info ZQ test modem 2.1\n");
    ModemSimProcess silent("start: mute\n");
    ASSERT_FALSE(sim.device().empty());
    ASSERT_FALSE(silent.device().empty());
    const QString simPort = QString::fromStdString(sim.device());
    const QString silentPort = QString::fromStdString(silent.device());

    Outcome r = Zqlines({ "--modem-scan", simPort, silentPort });
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    const std::string attachedTo = zq::modem::AttachedToValue(sim.device());
    const std::string name = "ZQ test modem 2.1 (" + attachedTo + ")";
    EXPECT_NE(r.out.find(sim.device() + ": found \"" + name + "\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(silent.device() + ": nothing answered"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1 modem(s) added."), std::string::npos) << r.out;
    EXPECT_TRUE(sim.waitLog("ATE0I")) << sim.log();

    std::vector<ModemInfo> modems = ClassModems();
    ASSERT_EQ(modems.size(), 1u);
    EXPECT_EQ(modems[0].name, name);
    EXPECT_EQ(modems[0].device, sim.device());
    EXPECT_NE(Zqlines({ "--modem-list" }).out.find("The modem provider is on."), std::string::npos);

    // Asked again, the port holding a modem of the class is left alone.
    r = Zqlines({ "--modem-scan", simPort });
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("a modem of the class is on it already"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("0 modem(s) added."), std::string::npos) << r.out;
    EXPECT_EQ(ClassModems().size(), 1u);

    // A port named that cannot be asked is an error, not "nothing found".
    r = Zqlines({ "--modem-scan", "/dev/ttyZQNOTHERE4" });
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.err.find("/dev/ttyZQNOTHERE4: cannot be opened"), std::string::npos) << r.err;

    // A scanned modem is removed like any other.
    r = Zqlines({ "--modem-remove", QString::fromStdString(name) });
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(ClassModems().empty());
}

} // namespace
