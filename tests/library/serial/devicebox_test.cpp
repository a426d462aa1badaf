// The device box against a small component with a fixed device list: the
// link follows the component, and the user's pick selects its device.
#include "zqcommbox.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

namespace {

// A component whose devices are a list of names; selecting one clamps the
// index to the list and tells the registered boxes, as the line component does.
class NamedDevicesIO : public TzqBaseIO {
public:
    explicit NamedDevicesIO(std::vector<std::string> names = {})
        : names_(std::move(names))
    {
    }
    int index = -1;
    int fills = 0;

    void SetNames(std::vector<std::string> names)
    {
        names_ = std::move(names);
        ClearDevices();
    }
    void EnumDevices() override
    {
        ClearDevices();
        for (const std::string& n : names_) {
            auto* d = new TzqDevice;
            d->Name = n;
            AddDevice(d);
        }
    }
    void DevicesChanged() override
    {
        EnumDevices();
        TzqBaseIO::DevicesChanged();
    }
    int GetDeviceIndex() override { return index; }
    void SetDeviceIndex(int Value) override
    {
        index = std::min(Value, DeviceCount() - 1);
        TzqBaseIO::SetDeviceIndex(Value);
    }
    void FillDeviceList(TStrings* Strings) override
    {
        ++fills;
        TzqBaseIO::FillDeviceList(Strings);
    }

private:
    std::vector<std::string> names_;
};

std::vector<std::string> Texts(const QComboBox& box)
{
    std::vector<std::string> out;
    for (int i = 0; i < box.count(); ++i)
        out.push_back(box.itemText(i).toStdString());
    return out;
}

struct ChangeCounter {
    int changes = 0;
    int indexAtChange = -2;
    int fillsAtChange = -1;
    const NamedDevicesIO* io = nullptr;
    const TzqDeviceBox* box = nullptr;
    void Changed(TObject*)
    {
        ++changes;
        indexAtChange = box->currentIndex();
        fillsAtChange = io ? io->fills : -1;
    }
};

using Names = std::vector<std::string>;

// What the user does: the keyboard moves the selection of a closed list,
// which the combo box reports as an activation.
void PickNext(TzqDeviceBox& box)
{
    QTest::keyClick(&box, Qt::Key_Down);
}

TEST(DeviceBox, IsAPickOnlyList)
{
    TzqDeviceBox box;
    EXPECT_FALSE(box.isEditable());
    EXPECT_EQ(box.zqComm(), nullptr);
    EXPECT_EQ(box.currentIndex(), -1);
}

TEST(DeviceBox, ComponentWithoutDevicesGivesEmptyListAndItsIndex)
{
    NamedDevicesIO io;
    TzqDeviceBox box;
    box.SetzqComm(&io);
    EXPECT_EQ(box.count(), 0);
    EXPECT_EQ(box.currentIndex(), io.GetDeviceIndex());
    EXPECT_EQ(io.NotifyList->Count(), 1);
}

TEST(DeviceBox, LinkListsTheDevicesWithTheirDescriptorsAndSelectsTheComponentsDevice)
{
    NamedDevicesIO io({ "first", "second", "third" });
    io.index = 1;
    TzqDeviceBox box;
    box.SetzqComm(&io);
    EXPECT_EQ(Texts(box), (Names { "first", "second", "third" }));
    EXPECT_EQ(box.currentIndex(), 1);
    EXPECT_EQ(box.itemData(2).value<void*>(), static_cast<void*>(io.GetDevice(2)));
}

TEST(DeviceBox, PickInUnlinkedBoxChangesNothingAndRaisesNoChange)
{
    NamedDevicesIO io({ "a", "b" });
    TzqDeviceBox box;
    ChangeCounter counter { .box = &box };
    box.OnChange = TNotifyEvent(&counter, &ChangeCounter::Changed);
    box.addItems({ "stale 1", "stale 2" });
    box.setCurrentIndex(0);
    PickNext(box);
    EXPECT_EQ(counter.changes, 0);
    EXPECT_EQ(io.index, -1);
    EXPECT_EQ(io.NotifyList->Count(), 0);
}

TEST(DeviceBox, PickSelectsTheDeviceAndRaisesChangeAfterTheListWasRebuilt)
{
    NamedDevicesIO io({ "a", "b", "c" });
    io.index = 0;
    TzqDeviceBox box;
    box.SetzqComm(&io);
    ChangeCounter counter { .io = &io, .box = &box };
    box.OnChange = TNotifyEvent(&counter, &ChangeCounter::Changed);
    const int fillsBefore = io.fills;

    PickNext(box);
    EXPECT_EQ(io.index, 1);
    EXPECT_EQ(counter.changes, 1);
    EXPECT_EQ(counter.indexAtChange, 1);
    EXPECT_GT(counter.fillsAtChange, fillsBefore);
    EXPECT_EQ(Texts(box), (Names { "a", "b", "c" }));
    EXPECT_EQ(io.NotifyList->Count(), 1);
}

TEST(DeviceBox, ComponentSelectionChangeReselects)
{
    NamedDevicesIO io({ "a", "b", "c" });
    TzqDeviceBox box;
    box.SetzqComm(&io);
    io.SetDeviceIndex(2);
    EXPECT_EQ(box.currentIndex(), 2);
    // Codes other than the device notice leave the box alone.
    box.setCurrentIndex(0);
    io.BroadcastNotify(NOTIFY_OPENED);
    io.BroadcastNotify(NOTIFY_CLOSED);
    EXPECT_EQ(box.currentIndex(), 0);
}

TEST(DeviceBox, RelinkingTheSameComponentRebuildsTheListWithOneHandler)
{
    NamedDevicesIO io({ "a" });
    TzqDeviceBox box;
    box.SetzqComm(&io);
    io.SetNames({ "x", "y" });
    io.index = 1;
    box.SetzqComm(&io);
    EXPECT_EQ(Texts(box), (Names { "x", "y" }));
    EXPECT_EQ(box.currentIndex(), 1);
    box.RefreshDevices();
    EXPECT_EQ(io.NotifyList->Count(), 1);
    EXPECT_EQ(box.zqComm(), &io);
}

TEST(DeviceBox, SwitchingLinksLeavesTheOldComponentWithoutTheHandler)
{
    NamedDevicesIO a({ "a1", "a2" }), b({ "b1" });
    b.index = 0;
    TzqDeviceBox box;
    box.SetzqComm(&a);
    box.SetzqComm(&b);
    EXPECT_EQ(a.NotifyList->Count(), 0);
    EXPECT_EQ(b.NotifyList->Count(), 1);
    EXPECT_EQ(Texts(box), (Names { "b1" }));

    a.SetNames({ "a1", "a2", "a3" });
    a.DevicesChanged();
    a.SetDeviceIndex(1);
    EXPECT_EQ(Texts(box), (Names { "b1" }));
    EXPECT_EQ(box.currentIndex(), 0);

    // Still following the new one.
    b.SetNames({ "b1", "b2" });
    b.DevicesChanged();
    EXPECT_EQ(Texts(box), (Names { "b1", "b2" }));
}

TEST(DeviceBox, UnlinkingEmptiesTheListAndWithdrawsTheHandler)
{
    NamedDevicesIO io({ "a" });
    TzqDeviceBox box;
    box.SetzqComm(&io);
    box.SetzqComm(nullptr);
    EXPECT_EQ(box.count(), 0);
    EXPECT_EQ(box.currentIndex(), -1);
    EXPECT_EQ(io.NotifyList->Count(), 0);
}

TEST(DeviceBox, FreeingTheComponentEmptiesTheLinkButKeepsTheTexts)
{
    auto io = std::make_unique<NamedDevicesIO>(Names { "a", "b" });
    io->index = 1;
    TzqDeviceBox box;
    ChangeCounter counter { .box = &box };
    box.OnChange = TNotifyEvent(&counter, &ChangeCounter::Changed);
    box.SetzqComm(io.get());
    io.reset();
    EXPECT_EQ(box.zqComm(), nullptr);
    EXPECT_EQ(box.currentIndex(), -1);
    EXPECT_EQ(Texts(box), (Names { "a", "b" }));
    // Unlinked now: a pick goes nowhere.
    PickNext(box);
    EXPECT_EQ(counter.changes, 0);
    TMessage msg { WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, 0 };
    EXPECT_FALSE(box.ForwardDeviceChange(msg));
}

TEST(DeviceBox, FreeingTheBoxWithdrawsItsHandler)
{
    NamedDevicesIO io({ "a" });
    auto box = std::make_unique<TzqDeviceBox>();
    box->SetzqComm(&io);
    box.reset();
    EXPECT_EQ(io.NotifyList->Count(), 0);
    io.DevicesChanged(); // must not reach the freed box
}

// A component whose device list cannot be read.
class BrokenListIO : public NamedDevicesIO {
public:
    void FillDeviceList(TStrings*) override { throw Exception("no devices to be had"); }
};

TEST(DeviceBox, FailedLinkLeavesTheBoxUnlinkedFromBoth)
{
    auto a = std::make_unique<NamedDevicesIO>(Names { "a" });
    BrokenListIO broken;
    TzqDeviceBox box;
    ChangeCounter counter { .box = &box };
    box.OnChange = TNotifyEvent(&counter, &ChangeCounter::Changed);
    box.SetzqComm(a.get());
    EXPECT_THROW(box.SetzqComm(&broken), Exception);
    EXPECT_EQ(box.zqComm(), nullptr);
    EXPECT_EQ(a->NotifyList->Count(), 0);
    EXPECT_EQ(broken.NotifyList->Count(), 0);
    // The old component may go now without the box noticing.
    a.reset();
    box.addItems({ "x", "y" });
    box.setCurrentIndex(0);
    PickNext(box);
    EXPECT_EQ(counter.changes, 0);
}

TEST(DeviceBox, ForwardDeviceChangeNeedsALinkAndRebuildsOnAPortChange)
{
    TzqDeviceBox box;
    TMessage msg { WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, 0 };
    EXPECT_FALSE(box.ForwardDeviceChange(msg));

    NamedDevicesIO io({ "a" });
    box.SetzqComm(&io);
    io.SetNames({ "a", "b" });
    EXPECT_TRUE(box.ForwardDeviceChange(msg));
    EXPECT_EQ(Texts(box), (Names { "a", "b" }));

    TMessage other { WM_DEVICECHANGE, 0x0018, 0, 0 };
    EXPECT_FALSE(box.ForwardDeviceChange(other));
}

TEST(DeviceBox, ResetOnChangedIsKeptAndPublished)
{
    TzqDeviceBox box;
    EXPECT_FALSE(box.ResetOnChanged());
    EXPECT_TRUE(box.setProperty("ResetOnChanged", true));
    EXPECT_TRUE(box.ResetOnChanged());
    NamedDevicesIO io({ "a" });
    EXPECT_TRUE(box.setProperty("zqComm", QVariant::fromValue<TzqBaseIO*>(&io)));
    EXPECT_EQ(box.zqComm(), &io);
    EXPECT_EQ(box.count(), 1);
}

} // namespace
