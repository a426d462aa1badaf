#include "errorreport.h"
#include "testio.h"

#include <gtest/gtest.h>

#include <QLineEdit>

#include <memory>

namespace {

struct Notices {
    std::vector<std::pair<TzqBaseIO*, int>> seen;
    void OnNotify(TzqBaseIO* s, int c) { seen.emplace_back(s, c); }
};

TEST(NotifyList, HandlersAreEqualByFunctionAndObject)
{
    Notices a, b;
    TestIO io;
    EXPECT_EQ(io.RegisterNotify(TNotifyHandler(&a, &Notices::OnNotify)), 0);
    EXPECT_EQ(io.RegisterNotify(TNotifyHandler(&b, &Notices::OnNotify)), 1);
    // The same function on the same object is one registration.
    EXPECT_EQ(io.RegisterNotify(TNotifyHandler(&a, &Notices::OnNotify)), 0);
    EXPECT_EQ(io.NotifyList->Count(), 2);

    io.BroadcastNotify(NOTIFY_DEVICES);
    ASSERT_EQ(a.seen.size(), 1u);
    EXPECT_EQ(a.seen[0], std::make_pair(static_cast<TzqBaseIO*>(&io), NOTIFY_DEVICES));

    io.UnregisterNotify(TNotifyHandler(&a, &Notices::OnNotify));
    EXPECT_EQ(io.NotifyList->IndexOf(TNotifyHandler(&b, &Notices::OnNotify)), 0);
    io.UnregisterNotify(TNotifyHandler(&a, &Notices::OnNotify)); // not there: nothing happens
    EXPECT_EQ(io.NotifyList->Count(), 1);
}

TEST(NotifyList, BroadcastSurvivesHandlersChangingTheList)
{
    TzqNotifyList list;
    std::vector<int> order;
    int tag[4];
    bool mutated = false;
    auto handler = [&](int i) {
        return TNotifyHandler::Bind(&tag[i], nullptr, [&, i](TzqBaseIO*, int) {
            order.push_back(i);
            if (i == 0 && !mutated) {
                mutated = true;
                // Removes the next entry and appends a new one mid-broadcast.
                list.Delete(1);
                list.Add(
                    TNotifyHandler::Bind(&tag[3], nullptr, [&](TzqBaseIO*, int) { order.push_back(3); }));
            }
        });
    };
    list.Add(handler(0));
    list.Add(handler(1));
    list.Add(handler(2));
    list.Broadcast(nullptr, 1);
    EXPECT_EQ(order, (std::vector<int> { 0, 2 }));
    order.clear();
    list.Broadcast(nullptr, 1);
    EXPECT_EQ(order, (std::vector<int> { 0, 2, 3 }));
}

TEST(BaseIO, OpenCloseAndActive)
{
    TestIO io;
    Notices n;
    io.RegisterNotify(TNotifyHandler(&n, &Notices::OnNotify));
    EXPECT_FALSE(io.Active());
    io.Close(); // closed: nothing happens, no notice
    EXPECT_TRUE(n.seen.empty());
    io.SetActive(true);
    EXPECT_TRUE(io.Active());
    io.SetActive(true); // same value: no second open
    io.SetActive(false);
    EXPECT_FALSE(io.IsOpened());
    ASSERT_EQ(n.seen.size(), 2u);
    EXPECT_EQ(n.seen[0].second, NOTIFY_OPENED);
    EXPECT_EQ(n.seen[1].second, NOTIFY_CLOSED);

    io.openSucceeds = false;
    io.SetActive(true);
    EXPECT_EQ(io.Handle, INVALID_HANDLE_VALUE);
}

TEST(BaseIO, ActiveWhileLoadingIsAppliedByLoaded)
{
    TestIO io;
    io.BeginLoading();
    io.SetActive(true);
    EXPECT_FALSE(io.IsOpened());
    EXPECT_TRUE(io.Active()); // reads the streamed value while loading
    io.Loaded();
    EXPECT_TRUE(io.IsOpened());
    io.Close();
}

TEST(BaseIO, LoadedReportsFailuresInABoxAndCarriesOn)
{
    class FailingOpen : public TestIO {
    public:
        void Open() override { throw Exception("no port"); }
    } io;
    std::vector<zq::ui::ErrorReport> reports;
    auto old = zq::ui::SetErrorReportHook([&](const zq::ui::ErrorReport& r) { reports.push_back(r); });
    io.BeginLoading();
    io.SetActive(true);
    io.Loaded();
    zq::ui::SetErrorReportHook(old);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].text, "error");
    EXPECT_EQ(reports[0].caption, "Error");
}

TEST(BaseIO, FatalErrorConvention)
{
    RecordingLog log;
    TestIO io;
    io.SetLog(&log);

    // No handler: the line is logged without prefix, then the exception.
    try {
        io.FatalError(1, 2, "boom", false);
        FAIL() << "expected an exception";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "boom");
    }
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.levels[0], 0);
    EXPECT_EQ(log.lines[0], "Fatal Error: 1, 2, boom");

    // A handler that clears RaiseException: logged, returns normally.
    int calls = 0;
    io.OnFatalError = TOnFatalErrorEvent::Bind(
        &calls, nullptr, [&](TObject* sender, Cardinal code, Cardinal, const std::string&, bool& raise) {
            EXPECT_EQ(sender, &io);
            EXPECT_EQ(code, 7u);
            ++calls;
            raise = false;
        });
    EXPECT_NO_THROW(io.FatalError(7, 0, "quiet", false));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(log.lines.back(), "Fatal Error: 7, 0, quiet");

    // ShowOnly shows instead of raising; loading neither raises nor shows.
    io.OnFatalError = nullptr;
    std::vector<zq::ui::ErrorReport> reports;
    auto old = zq::ui::SetErrorReportHook([&](const zq::ui::ErrorReport& r) { reports.push_back(r); });
    EXPECT_NO_THROW(io.FatalError(1, 0, "shown", true));
    io.BeginLoading();
    EXPECT_NO_THROW(io.FatalError(1, 0, "while loading", false));
    EXPECT_NO_THROW(io.FatalError(1, 0, "while loading", true));
    io.Loaded();
    zq::ui::SetErrorReportHook(old);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].caption, "Application Error");
    EXPECT_EQ(reports[0].text, "shown");
}

TEST(BaseIO, LogPrefixJoinsTheFormatAndEmptyMessagesAreSeparators)
{
    RecordingLog log;
    TestIO io;
    io.SetLog(&log);
    EXPECT_EQ(io.LogPrefix, "TzqBaseIO"); // the class name by default
    io.LogPrefix = "pre: ";
    io.WriteLog(1, "");
    io.WriteLog(1, "hello");
    io.WriteLogFmt(2, "%d%%", { 50 });
    EXPECT_EQ(log.separators, 1);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], "pre: hello");
    EXPECT_EQ(log.lines[1], "pre: 50%");
    EXPECT_EQ(log.levels[1], 2);
}

TEST(BaseIO, DeviceListAndDeviceChanges)
{
    TestIO io;
    TStringList names;
    io.FillDeviceList(nullptr); // no devices: enumerates, nothing to fill
    EXPECT_EQ(io.enumCalls, 1);
    auto* d = new TzqDevice;
    d->Name = "first";
    io.AddDevice(d);
    EXPECT_EQ(d->Index, 0);
    EXPECT_EQ(d->Owner, &io);
    EXPECT_EQ(io.GetDevice(0), d);
    EXPECT_EQ(io.GetDevice(1), nullptr);
    EXPECT_EQ(io.GetDevice(-1), nullptr);
    names.Add("stale");
    io.FillDeviceList(&names);
    EXPECT_EQ(io.enumCalls, 1);
    ASSERT_EQ(names.Count(), 1);
    EXPECT_EQ(names.Strings(0), "first");
    EXPECT_EQ(names.Objects(0), d);

    Notices n;
    io.RegisterNotify(TNotifyHandler(&n, &Notices::OnNotify));
    DEV_BROADCAST_HDR volume;
    volume.dbch_devicetype = 2;
    TMessage m { WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume) };
    EXPECT_FALSE(io.HandleDeviceChange(m));
    DEV_BROADCAST_HDR port;
    port.dbch_devicetype = DBT_DEVTYP_PORT;
    m.LParam = reinterpret_cast<LPARAM>(&port);
    EXPECT_TRUE(io.HandleDeviceChange(m));
    TMessage nodes { WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0 };
    EXPECT_TRUE(io.HandleDeviceChange(nodes));
    EXPECT_EQ(n.seen.size(), 2u);
    io.SetDeviceIndex(5); // the base ignores the value and tells the listeners
    EXPECT_EQ(n.seen.back().second, NOTIFY_DEVICES);
    io.ClearDevices();
    EXPECT_EQ(io.DeviceCount(), 0);
}

TEST(BaseIO, LinksAreClearedWhenTheirTargetsGo)
{
    TestIO io;
    auto* log = new RecordingLog;
    auto* proc = new TestProcessor;
    auto* edit = new QLineEdit;
    io.SetLog(log);
    io.SetDataProcessor(proc);
    io.SetTerminal(edit);
    EXPECT_EQ(proc->Comm(), &io);
    delete log;
    EXPECT_EQ(io.Log(), nullptr);
    delete proc;
    EXPECT_EQ(io.DataProcessor(), nullptr);
    EXPECT_EQ(io.NotifyList->Count(), 0);
    delete edit;
    EXPECT_EQ(io.Terminal(), nullptr);
    EXPECT_EQ(io.TerminalWindow, nullptr);
    const char bytes[] = "xy";
    io.DoReceive(bytes, 2); // nothing left to reach
    io.WriteLog(0, "still fine");
}

TEST(BaseIO, ComponentGoingAwayUnlinksItsProcessor)
{
    auto* io = new TestIO;
    TestProcessor proc;
    proc.SetComm(io);
    delete io;
    EXPECT_EQ(proc.Comm(), nullptr);
}

TEST(BaseIO, PublishedPropertiesAreSettableByName)
{
    TestIO io;
    QLineEdit edit;
    RecordingLog log;
    EXPECT_TRUE(io.setProperty("TerminalEcho", true));
    EXPECT_TRUE(io.TerminalEcho);
    EXPECT_TRUE(io.setProperty("Terminal", QVariant::fromValue<QWidget*>(&edit)));
    EXPECT_TRUE(io.setProperty("TerminalUsage", "tuReceive"));
    EXPECT_EQ(io.TerminalUsage(), tuReceive);
    EXPECT_EQ(io.TerminalWindow, &edit);
    EXPECT_TRUE(io.setProperty("Log", QVariant::fromValue<TzqCustomLogFile*>(&log)));
    EXPECT_EQ(io.Log(), &log);
    io.index = 4;
    EXPECT_EQ(io.property("DeviceIndex").toInt(), 4);
    io.SetTerminal(nullptr);
}

TEST(BaseIO, AbstractOperationsRaise)
{
    class Bare : public TzqBaseIO {
    } bare;
    EXPECT_THROW(bare.SendChar('a'), EAbstractError);
    EXPECT_THROW(bare.PurgeAll(), EAbstractError);
    EXPECT_THROW(bare.GetDeviceIndex(), EAbstractError);
}

} // namespace
