// LVEvents: the process-wide notification hub and the vocabulary in which
// notifications are expressed. Observers are attached to the hub; any code
// may then broadcast a notification to all of them, or put a query to them
// one after another until one answers.
//
// This program creates the hub at start-up and frees it at the end; it
// attaches no observer and sends nothing through it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/guid.h"
#include "support/variant.h"

namespace ostrivane {

// What a notification is about.
enum class TLVNotifyActions : std::uint8_t {
  LVNotify_None,  // dropped by broadcasts; queries still go out
  LVNotify_General,
  LVNotify_Bible,
  LVNotify_Song,
  LVNotify_NurseryMsg,
  LVNotify_Video,
  LVNotify_Presentation,
  LVNotify_Preview,
  LVNotify_Stage,
  LVNotify_Status,
  LVNotify_Destroy,
  LVNotify_User,
};

// What happened or what is asked. One byte: senders may pass any value of
// 0..255, not only the named ones.
enum class TLVNotify_General : std::uint8_t {
  LVAction_Test,
  LVAction_AddSong,
  LVAction_AddItemIfNotExists,
  LVAction_UpdateSongCache,
  LVNotify_LoadItem,
  LVAction_LoadItem,
  LVAction_PresentationState,
  LVEvent_NewObjectLoaded,
  LVAction_Clear,
  LVAction_Draw,
  LVAction_SetTransitionMSecs,
  LVAction_Borders,
  LVAction_Visible,
  LVAction_Monitor,
  LVAction_ClosePP,
  LVAction_ClosePresentationIfPrimaryMonitor,
  LVAction_UpdateGamma,
  LVQuery_Size,
  LVQuery_Visible,
  LVQuery_CurrentPage,
  LVQuery_EVRActive,
  LVQuery_CloseOnESC,
  LVNotify_VideoRepaintNeeded,
  LVEvent_Video_Play,
  LVEvent_Video_Pause,
  LVAction_Video_Stop,
  LVAction_Video_Play,
  LVAction_Video_StopIfNotOverlay,
  LVAction_VideoBGColor,
  LVAction_VideoCloseOtherVideos,
  LVAction_VideoShowCursor,
  LVAction_FadeInVideo,
  LVAction_BGVideoPrepare,
  LVAction_BGVideoPlay,
  LVAction_BGVideoPrepare2,
  LVAction_RequestMsg,
  LVAction_Chat,
  LVAction_BibleAdded,
  LVAction_PresentationClosed,
  LVAction_OnPresentationDestroy,
  LVAction_Destroy,
  LVEvent_SettingsChanged,
  LVAction_Presentation_PageChanged,
  LVAction_Presenter_SetPage,
  LVAction_Presenter_Black,
  LVAction_Presenter_BGOnly,
  LVAction_Presenter_PrevPage,
  LVAction_Presenter_NextPage,
  LVAction_Presenter_Bridge,
  LVAction_Presenter_Chorus,
  LVAction_Presenter_NextSong,
  LVAction_Presenter_PrevSong,
  LVAction_Presenter_Logo,
  LVAction_Presenter_VideoPlay,
  LVAction_Presenter_VideoPause,
  LVAction_Presenter_VideoStop,
  LVAction_Remote_VideoPlay,
  LVAction_Remote_VideoPause,
  LVAction_Remote_VideoStop,
  LVAction_Remote_NextPage,
  LVAction_Remote_PrevPage,
  LVAction_Msg_P1set,
  LVAction_Msg_P1show,
  LVAction_Msg_P1hide,
  LVAction_ReloadIfFilename,
};

// Root of the objects a sender may pass along with a message; an observer
// recognises them with dynamic_cast.
class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = default;
  TObject& operator=(const TObject&) = default;
  TObject(TObject&&) = default;
  TObject& operator=(TObject&&) = default;
  virtual ~TObject() = default;
};

// The message handed to observers. It lives on the sender's side for one
// broadcast or query; what an observer writes into it is seen by the sender
// and by every observer called after it.
struct TLVBroadCastMessage {
  TLVNotifyActions Category = TLVNotifyActions::LVNotify_None;
  TLVNotify_General Action = TLVNotify_General::LVAction_Test;
  Variant Param1;              // empty unless the sender gives one
  Variant Param2;              // empty unless the sender gives one
  Variant Result;              // an observer's answer to a query; empty when built
  TObject* AObject = nullptr;  // not owned by the message
};

// {9DCA1E55-21FD-4037-9441-AA6D4D79D482}
inline constexpr TGUID IID_ILVObserver{
    0x9DCA1E55, 0x21FD, 0x4037, {0x94, 0x41, 0xAA, 0x6D, 0x4D, 0x79, 0xD4, 0x82}};

// An observer of the hub. Held by counted reference (std::shared_ptr) while
// attached, compared by identity. Derived from the Variant's interface base
// so that an observer can travel as an interface reference in a Variant.
class ILVObserver : public IInterface {
 public:
  static constexpr const TGUID& IID = IID_ILVObserver;

  virtual void HandleMessage(TLVBroadCastMessage& Message) = 0;
};

// The notification hub.
//
// Observers are called on the thread that sends, one after another, in the
// order they were attached. Attach and Detach may be used from any thread at
// any time, also by an observer while it is being called. The hub's lock
// guards only its observer list and is never held while an observer runs.
//
// A broadcast or query walks the observers that were attached when it
// started (at most that many, in that order):
// - an observer attached meanwhile is not called by it;
// - an observer detached meanwhile, before the walk reached it, is skipped:
//   once Detach has returned on the sending thread, that observer hears
//   nothing more from this walk. (A Detach from another thread may still
//   race with a call that is already under way.)
// - the observer being called is kept alive by the walk's own counted
//   reference, so it may detach itself, or be detached, while it runs.
//
// An exception from an observer ends the walk at that observer and reaches
// the sender; the observers after it are not called.
class TLVEventCentral {
 public:
  TLVEventCentral();
  ~TLVEventCentral();  // releases every attached observer without telling it
  TLVEventCentral(const TLVEventCentral&) = delete;
  TLVEventCentral& operator=(const TLVEventCentral&) = delete;

  // Appends the observer unless it is attached already (then nothing
  // changes). A null observer is ignored.
  void Attach(const std::shared_ptr<ILVObserver>& AObserver);
  // Removes the observer; one that is not attached changes nothing.
  void Detach(const std::shared_ptr<ILVObserver>& AObserver);

  // Broadcasts Category and Action with the given parameters; Result starts
  // empty, AObject null unless given. Action is converted with the Variant
  // runtime's integer conversion and its low eight bits are kept; a failed
  // conversion raises before any observer is called. A Category of
  // LVNotify_None reaches nobody.
  //
  // Note for callers: a literal 0 as fourth argument is a null AObject, not a
  // Param2; write Variant(0) for the latter.
  void Notify(TLVNotifyActions Category, const Variant& Action);
  void Notify(TLVNotifyActions Category, const Variant& Action, Variant Param1);
  void Notify(TLVNotifyActions Category, const Variant& Action, Variant Param1, Variant Param2);
  void Notify(TLVNotifyActions Category, const Variant& Action, Variant Param1, TObject* AObject);

  // Puts Category, Action and Param1 to the observers in turn until one
  // leaves Result non-empty (null counts as an answer), and returns Result:
  // empty when nobody answered. There is no category test.
  Variant Query(TLVNotifyActions Category, const Variant& Action, Variant Param1);

  // Broadcasts LVNotify_Song / LVAction_UpdateSongCache with the file name as
  // Param1.
  void UpdateSongCache(const std::u16string& AbsoluteFileName);

  // Reports nothing and changes nothing.
  void Error(const TLVNotifyActions& Msg, const std::u16string& ErrorMsg);

  // Number of attached observers (for diagnostics and tests).
  [[nodiscard]] std::size_t ObserverCount() const;
  // Whether the hub holds an observer list (it has none while no observer
  // is attached).
  [[nodiscard]] bool HasObserverList() const;

 private:
  // The observer list with its lock. Every operation runs under the lock as
  // a whole. Counted references are never released while the lock is held,
  // so that an observer's destructor may use the hub.
  class TObserverList {
   public:
    using Observers = std::vector<std::shared_ptr<ILVObserver>>;

    TObserverList() = default;
    ~TObserverList();
    TObserverList(const TObserverList&) = delete;
    TObserverList& operator=(const TObserverList&) = delete;

    void Add(const std::shared_ptr<ILVObserver>& AObserver);
    void Remove(const ILVObserver* AObserver);
    [[nodiscard]] bool Contains(const ILVObserver* AObserver) const;
    [[nodiscard]] Observers Snapshot() const;
    [[nodiscard]] std::size_t Count() const;
    [[nodiscard]] bool Exists() const;

   private:
    mutable std::mutex FLock;
    std::unique_ptr<Observers> FItems;  // null while no observer is attached
  };

  void BroadCast(TLVBroadCastMessage& Message);
  void BroadCastQuery(TLVBroadCastMessage& Message);

  TObserverList FObservers;
};

// The one hub of the process: null before InitializeEventCentral and after
// FinalizeEventCentral.
extern TLVEventCentral* EventCentral;

// Module start-up: creates the hub (the first of the process-wide modules).
// Does nothing when it exists already.
void InitializeEventCentral();
// Module shutdown (the last): sets EventCentral to null first, then frees
// the hub and with it every observer reference still attached.
void FinalizeEventCentral();

}  // namespace ostrivane
