#include "zqcommbox.h"

namespace {
// The box's items as a string list for the component to fill.
class ComboItems : public TStrings {
public:
    explicit ComboItems(QComboBox* box)
        : box_(box)
    {
    }
    void Clear() override { box_->clear(); }
    int AddObject(const std::string& S, TPersistent* Object) override
    {
        box_->addItem(QString::fromStdString(S), QVariant::fromValue(static_cast<void*>(Object)));
        return box_->count() - 1;
    }

private:
    QComboBox* box_;
};
} // namespace

TzqDeviceBox::TzqDeviceBox(QWidget* AOwner)
    : QComboBox(AOwner)
{
    setEditable(false); // pick only, no typing
    connect(this, &QComboBox::activated, this, [this](int) { Change(); });
}

TzqDeviceBox::~TzqDeviceBox()
{
    // The component must never call into a box that is gone.
    if (zqComm_)
        zqComm_->UnregisterNotify(Handler());
}

void TzqDeviceBox::SetzqComm(TzqBaseIO* Value)
{
    const QSignalBlocker quiet(this);
    clear();
    setCurrentIndex(-1);
    if (zqComm_ && zqComm_ != Value) {
        zqComm_->UnregisterNotify(Handler());
        disconnect(watch_);
        // Unlinked until the new component has filled the list: if that
        // throws, the box holds no reference it is no longer told about.
        zqComm_ = nullptr;
    }
    if (Value) {
        ComboItems items(this);
        Value->FillDeviceList(&items);
        setCurrentIndex(Value->GetDeviceIndex());
        Value->RegisterNotify(Handler());
        if (Value != zqComm_)
            watch_ = connect(
                Value, &QObject::destroyed, this, [this](QObject* gone) { Notification(gone, opRemove); });
    }
    zqComm_ = Value;
}

void TzqDeviceBox::RefreshDevices()
{
    SetzqComm(zqComm_);
}

void TzqDeviceBox::DeviceNotify(TzqBaseIO*, int Code)
{
    if (Code == NOTIFY_DEVICES)
        RefreshDevices();
}

void TzqDeviceBox::Change()
{
    if (!zqComm_)
        return;
    zqComm_->SetDeviceIndex(currentIndex());
    if (OnChange)
        OnChange(this);
}

void TzqDeviceBox::Notification(QObject* AComponent, TOperation Operation)
{
    if (Operation == opRemove && AComponent == zqComm_) {
        // The component is going: no call into it; the items stay shown.
        zqComm_ = nullptr;
        disconnect(watch_);
        const QSignalBlocker quiet(this);
        setCurrentIndex(-1);
    }
}

bool TzqDeviceBox::ForwardDeviceChange(TMessage& Msg)
{
    return zqComm_ ? zqComm_->HandleDeviceChange(Msg) : false;
}
