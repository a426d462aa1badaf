#include "zqnotifylist.h"

#include <stdexcept>

int TzqNotifyList::Add(const TNotifyHandler& Handler)
{
    auto e = std::make_shared<Entry>();
    e->handler = Handler;
    items_.push_back(std::move(e));
    return Count() - 1;
}

void TzqNotifyList::Delete(int Index)
{
    if (Index < 0 || Index >= Count())
        throw std::out_of_range("List index out of bounds (" + std::to_string(Index) + ")");
    items_[Index]->removed = true;
    items_.erase(items_.begin() + Index);
}

TNotifyHandler TzqNotifyList::GetItem(int Index) const
{
    if (Index < 0 || Index >= Count())
        throw std::out_of_range("List index out of bounds (" + std::to_string(Index) + ")");
    return items_[Index]->handler;
}

int TzqNotifyList::IndexOf(const TNotifyHandler& Handler) const
{
    for (int i = 0; i < Count(); ++i)
        if (items_[i]->handler == Handler)
            return i;
    return -1;
}

void TzqNotifyList::Clear()
{
    for (auto& e : items_)
        e->removed = true;
    items_.clear();
}

void TzqNotifyList::Broadcast(TzqBaseIO* Sender, int Code)
{
    // A snapshot of the entries keeps each one alive while it may be called,
    // whatever the handlers do to the list.
    const std::vector<std::shared_ptr<Entry>> snapshot = items_;
    for (const auto& e : snapshot) {
        if (!e->removed)
            e->handler(Sender, Code);
    }
}
