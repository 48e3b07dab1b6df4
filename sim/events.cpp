// Events of the simulated platform: notify-signal events, event groups and the
// task-priority levels their notify functions run at.
//
// A signalled event's notify function runs as soon as the current TPL is below
// the event's: at once when signalled from the driver's entry or a host step
// (TPL_APPLICATION), after the running notify function returns when signalled
// from inside one at the same level. Pending events run highest TPL first, in
// signal order within a level, as real firmware dispatches them.
#include "sim/platform.h"

namespace sim {

namespace {

bool IsNotifyTpl(EFI_TPL tpl) { return tpl == TPL_APPLICATION || tpl == TPL_CALLBACK || tpl == TPL_NOTIFY; }

}  // namespace

EFI_STATUS Platform::DoCreateEvent(UINT32 type, EFI_TPL tpl, EFI_EVENT_NOTIFY notify, const void *context,
                                   const EFI_GUID *group, EFI_EVENT *event) {
  if (event == nullptr) {
    Fault("CreateEvent with a null Event slot");
    return EFI_INVALID_PARAMETER;
  }
  const bool notify_signal = (type & EVT_NOTIFY_SIGNAL) != 0;
  const bool notify_wait = (type & EVT_NOTIFY_WAIT) != 0;
  if (notify_signal && notify_wait) return EFI_INVALID_PARAMETER;
  if ((notify_signal || notify_wait) && (notify == nullptr || !IsNotifyTpl(tpl))) return EFI_INVALID_PARAMETER;

  auto record = std::make_unique<SimEvent>();
  record->type = type;
  record->tpl = tpl;
  record->notify = notify;
  record->context = const_cast<void *>(context);
  if (group != nullptr) {
    record->in_group = true;
    record->group = *group;
  }
  *event = record.get();
  events_.push_back(std::move(record));
  return EFI_SUCCESS;
}

SimEvent *Platform::FindLiveEvent(EFI_EVENT event) const {
  for (const auto &e : events_) {
    if (e.get() == event) return e->closed ? nullptr : e.get();
  }
  return nullptr;
}

const SimEvent *Platform::FindEvent(EFI_EVENT event) const {
  for (const auto &e : events_) {
    if (e.get() == event) return e.get();
  }
  return nullptr;
}

std::vector<const SimEvent *> Platform::events() const {
  std::vector<const SimEvent *> out;
  for (const auto &e : events_) out.push_back(e.get());
  return out;
}

void Platform::QueueEvent(SimEvent *event) {
  ++event->signal_count;
  if ((event->type & EVT_NOTIFY_SIGNAL) == 0 || event->pending) return;
  event->pending = true;
  event->queue_order = ++queue_counter_;
}

void Platform::DispatchPending() {
  for (;;) {
    SimEvent *next = nullptr;
    for (const auto &e : events_) {
      if (!e->pending || e->closed || e->tpl <= current_tpl_) continue;
      if (next == nullptr || e->tpl > next->tpl || (e->tpl == next->tpl && e->queue_order < next->queue_order)) {
        next = e.get();
      }
    }
    if (next == nullptr) return;

    next->pending = false;
    ++next->notify_count;
    const EFI_TPL saved = current_tpl_;
    current_tpl_ = next->tpl;
    Call call = BeginCall("Notify", {{"Event", HexText(reinterpret_cast<uintptr_t>(next))},
                                     {"NotifyTpl", DecText(next->tpl)},
                                     {"NotifyContext", HexText(reinterpret_cast<uintptr_t>(next->context))}});
    if (next->in_group) call.AddField("EventGroup", GuidText(next->group));
    next->notify(next, next->context);
    call.FinishVoid();
    current_tpl_ = saved;
  }
}

EFI_STATUS Platform::DoSignalEvent(EFI_EVENT event) {
  SimEvent *target = FindLiveEvent(event);
  if (target == nullptr) {
    Fault("SignalEvent of an event that does not exist or was closed");
    return EFI_INVALID_PARAMETER;
  }
  // An event in a group stands for the whole group.
  if (target->in_group) {
    for (const auto &e : events_) {
      if (!e->closed && e->in_group && GuidEquals(e->group, target->group)) QueueEvent(e.get());
    }
  } else {
    QueueEvent(target);
  }
  DispatchPending();
  return EFI_SUCCESS;
}

EFI_STATUS Platform::DoCloseEvent(EFI_EVENT event) {
  SimEvent *target = FindLiveEvent(event);
  if (target == nullptr) {
    Fault("CloseEvent of an event that does not exist or was closed");
    return EFI_INVALID_PARAMETER;
  }
  target->closed = true;
  target->pending = false;
  // Its protocol-notify registrations go with it.
  for (auto it = registrations_.begin(); it != registrations_.end();) {
    it = (*it)->event == target ? registrations_.erase(it) : it + 1;
  }
  return EFI_SUCCESS;
}

EFI_TPL Platform::DoRaiseTpl(EFI_TPL tpl) {
  const EFI_TPL old = current_tpl_;
  if (tpl < old) Fault("RaiseTPL to a level below the current one");
  current_tpl_ = tpl;
  return old;
}

void Platform::DoRestoreTpl(EFI_TPL tpl) {
  if (tpl > current_tpl_) Fault("RestoreTPL to a level above the current one");
  current_tpl_ = tpl;
  DispatchPending();
}

void Platform::SignalEventGroup(const EFI_GUID &group) {
  for (const auto &e : events_) {
    if (!e->closed && e->in_group && GuidEquals(e->group, group)) QueueEvent(e.get());
  }
  DispatchPending();
}

void Platform::SignalEndOfDxe() { SignalEventGroup(EFI_END_OF_DXE_EVENT_GROUP_GUID); }

}  // namespace sim
