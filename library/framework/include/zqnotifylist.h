#pragma once
// The handlers registered with a component for medium and device notices.
#include "zqclasses_export.h"
#include "zqtypes.h"

#include <memory>
#include <vector>

class ZQCLASSES_EXPORT TzqNotifyList {
public:
    int Add(const TNotifyHandler& Handler);
    void Delete(int Index);
    TNotifyHandler GetItem(int Index) const;
    int IndexOf(const TNotifyHandler& Handler) const;
    int Count() const { return static_cast<int>(items_.size()); }
    void Clear();
    // Calls every handler in list order. The count is read once; handlers
    // may add or remove entries meanwhile: a removed entry is not called,
    // and an entry added during the broadcast waits for the next one.
    void Broadcast(TzqBaseIO* Sender, int Code);

private:
    struct Entry {
        TNotifyHandler handler;
        bool removed = false;
    };
    std::vector<std::shared_ptr<Entry>> items_;
};
