#pragma once
// A drop-down list of a communication component's devices: picking an
// entry selects the device, and the list follows the component when its
// devices or its selection change.
#include "zqbaseio.h"
#include "zqcommbox_export.h"

#include <QComboBox>

class ZQCOMMBOX_EXPORT TzqDeviceBox : public QComboBox {
    Q_OBJECT
    Q_MOC_INCLUDE("zqbaseio.h")
    Q_PROPERTY(TzqBaseIO* zqComm READ zqComm WRITE SetzqComm)
    Q_PROPERTY(bool ResetOnChanged READ ResetOnChanged WRITE SetResetOnChanged)
public:
    explicit TzqDeviceBox(QWidget* AOwner = nullptr);
    ~TzqDeviceBox() override;

    TzqBaseIO* zqComm() const { return zqComm_; }
    void SetzqComm(TzqBaseIO* Value);
    bool ResetOnChanged() const { return resetOnChanged_; }
    void SetResetOnChanged(bool Value) { resetOnChanged_ = Value; }

    void RefreshDevices();
    void DeviceNotify(TzqBaseIO* Sender, int Code);
    virtual bool ForwardDeviceChange(TMessage& Msg);

    // Raised after the user's pick has selected the device.
    TNotifyEvent OnChange;

protected:
    virtual void Change();
    virtual void Notification(QObject* AComponent, TOperation Operation);

private:
    TNotifyHandler Handler() { return TNotifyHandler(this, &TzqDeviceBox::DeviceNotify); }
    TzqBaseIO* zqComm_ = nullptr;
    bool resetOnChanged_ = false;
    QMetaObject::Connection watch_;
};
