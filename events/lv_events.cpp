#include "events/lv_events.h"

#include <algorithm>
#include <utility>

namespace ostrivane {

namespace {

// The Action argument as stored in a message: the Variant runtime's integer
// conversion, low eight bits kept (256 arrives as 0, -1 as 255).
TLVNotify_General ActionFromVariant(const Variant& Action) {
  const std::int32_t value = Action.ToInt32();
  return static_cast<TLVNotify_General>(static_cast<std::uint8_t>(value & 0xFF));
}

TLVBroadCastMessage MakeMessage(TLVNotifyActions Category, const Variant& Action) {
  TLVBroadCastMessage message;
  message.Category = Category;
  message.Action = ActionFromVariant(Action);
  return message;
}

// The hub behind EventCentral; owned by this module.
std::unique_ptr<TLVEventCentral>& OwnedEventCentral() {
  static std::unique_ptr<TLVEventCentral> hub;
  return hub;
}

}  // namespace

TLVEventCentral* EventCentral = nullptr;

// --- observer list ---------------------------------------------------------

TLVEventCentral::TObserverList::~TObserverList() {
  // Release the observers after letting go of the lock: an observer's
  // destructor may still call Detach on this list.
  std::unique_ptr<Observers> items;
  {
    const std::lock_guard lock(FLock);
    items = std::move(FItems);
  }
  items.reset();
}

void TLVEventCentral::TObserverList::Add(const std::shared_ptr<ILVObserver>& AObserver) {
  const std::lock_guard lock(FLock);
  if (!FItems) {
    FItems = std::make_unique<Observers>();
  }
  const auto same = [&](const std::shared_ptr<ILVObserver>& o) {
    return o.get() == AObserver.get();
  };
  if (std::none_of(FItems->begin(), FItems->end(), same)) {
    FItems->push_back(AObserver);
  }
}

void TLVEventCentral::TObserverList::Remove(const ILVObserver* AObserver) {
  // Declared before the lock, so released after it.
  std::shared_ptr<ILVObserver> removed;
  std::unique_ptr<Observers> released;
  {
    const std::lock_guard lock(FLock);
    if (!FItems) {
      return;
    }
    const auto it = std::find_if(FItems->begin(), FItems->end(),
                                 [&](const auto& o) { return o.get() == AObserver; });
    if (it != FItems->end()) {
      removed = std::move(*it);
      FItems->erase(it);
    }
    if (FItems->empty()) {
      released = std::move(FItems);
    }
  }
}

bool TLVEventCentral::TObserverList::Contains(const ILVObserver* AObserver) const {
  const std::lock_guard lock(FLock);
  return FItems && std::any_of(FItems->begin(), FItems->end(),
                               [&](const auto& o) { return o.get() == AObserver; });
}

TLVEventCentral::TObserverList::Observers TLVEventCentral::TObserverList::Snapshot() const {
  const std::lock_guard lock(FLock);
  return FItems ? *FItems : Observers{};
}

std::size_t TLVEventCentral::TObserverList::Count() const {
  const std::lock_guard lock(FLock);
  return FItems ? FItems->size() : 0;
}

bool TLVEventCentral::TObserverList::Exists() const {
  const std::lock_guard lock(FLock);
  return FItems != nullptr;
}

// --- hub -------------------------------------------------------------------

TLVEventCentral::TLVEventCentral() = default;

TLVEventCentral::~TLVEventCentral() = default;

void TLVEventCentral::Attach(const std::shared_ptr<ILVObserver>& AObserver) {
  if (AObserver) {
    FObservers.Add(AObserver);
  }
}

void TLVEventCentral::Detach(const std::shared_ptr<ILVObserver>& AObserver) {
  if (AObserver) {
    FObservers.Remove(AObserver.get());
  }
}

void TLVEventCentral::Notify(TLVNotifyActions Category, const Variant& Action) {
  TLVBroadCastMessage message = MakeMessage(Category, Action);
  BroadCast(message);
}

void TLVEventCentral::Notify(TLVNotifyActions Category, const Variant& Action, Variant Param1) {
  TLVBroadCastMessage message = MakeMessage(Category, Action);
  message.Param1 = std::move(Param1);
  BroadCast(message);
}

void TLVEventCentral::Notify(TLVNotifyActions Category, const Variant& Action, Variant Param1,
                             Variant Param2) {
  TLVBroadCastMessage message = MakeMessage(Category, Action);
  message.Param1 = std::move(Param1);
  message.Param2 = std::move(Param2);
  BroadCast(message);
}

void TLVEventCentral::Notify(TLVNotifyActions Category, const Variant& Action, Variant Param1,
                             TObject* AObject) {
  TLVBroadCastMessage message = MakeMessage(Category, Action);
  message.Param1 = std::move(Param1);
  message.AObject = AObject;
  BroadCast(message);
}

Variant TLVEventCentral::Query(TLVNotifyActions Category, const Variant& Action, Variant Param1) {
  TLVBroadCastMessage message = MakeMessage(Category, Action);
  message.Param1 = std::move(Param1);
  BroadCastQuery(message);
  return message.Result;
}

void TLVEventCentral::UpdateSongCache(const std::u16string& AbsoluteFileName) {
  TLVBroadCastMessage message;
  message.Category = TLVNotifyActions::LVNotify_Song;
  message.Action = TLVNotify_General::LVAction_UpdateSongCache;
  message.Param1 = Variant(AbsoluteFileName);
  BroadCast(message);
}

void TLVEventCentral::Error(const TLVNotifyActions& /*Msg*/, const std::u16string& /*ErrorMsg*/) {}

std::size_t TLVEventCentral::ObserverCount() const { return FObservers.Count(); }

bool TLVEventCentral::HasObserverList() const { return FObservers.Exists(); }

// Both walks take their own counted references to the observers attached at
// the start (so the count is read once and later attachments are left out),
// call them without holding the lock, and skip one that has been detached
// before it was reached.
void TLVEventCentral::BroadCast(TLVBroadCastMessage& Message) {
  if (Message.Category == TLVNotifyActions::LVNotify_None) {
    return;
  }
  const TObserverList::Observers observers = FObservers.Snapshot();
  for (const auto& observer : observers) {
    if (FObservers.Contains(observer.get())) {
      observer->HandleMessage(Message);
    }
  }
}

void TLVEventCentral::BroadCastQuery(TLVBroadCastMessage& Message) {
  const TObserverList::Observers observers = FObservers.Snapshot();
  for (const auto& observer : observers) {
    if (FObservers.Contains(observer.get())) {
      observer->HandleMessage(Message);
      if (!Message.Result.IsEmpty()) {
        return;
      }
    }
  }
}

// --- module ----------------------------------------------------------------

void InitializeEventCentral() {
  auto& hub = OwnedEventCentral();
  if (!hub) {
    hub = std::make_unique<TLVEventCentral>();
    EventCentral = hub.get();
  }
}

void FinalizeEventCentral() {
  EventCentral = nullptr;
  std::unique_ptr<TLVEventCentral> hub = std::move(OwnedEventCentral());
  hub.reset();
}

}  // namespace ostrivane
