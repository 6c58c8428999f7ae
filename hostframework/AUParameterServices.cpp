// Parameter services: set-and-notify, coalescing listeners delivered on run loops, value maps,
// value formatting and gesture events.
//
// Listeners live in a process-wide list. A set with no listener anywhere costs one atomic load
// beyond the unit's SetParameter (scripts may set parameters from a thread that also renders).
// Each listener keeps, per (object, parameter, event type), the latest value and whether a
// delivery is already scheduled on its run loop; a delivery waits until `interval` has passed
// since the previous one, so a burst of sets arrives as one callback with the last value.
#include "hostframework/AUParameterServices.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <vector>

#include "hostframework/MPServices.h"
#include "hostframework/RunLoop.h"

namespace {

typedef std::chrono::steady_clock Clock;
constexpr AudioUnitParameterID kAnyParameter = 0xFFFFFFFF;

struct Registration {
    void* object;
    AudioUnitEvent event;  // the parameter (or any parameter of a unit) and the event type
};

bool Matches(const Registration& r, AudioUnitEventType type, const AudioUnitParameter& p) {
    if (r.event.mEventType != type) return false;
    const AudioUnitParameter& q = r.event.mArgument.mParameter;
    if (q.mAudioUnit != p.mAudioUnit) return false;
    if (q.mParameterID == kAnyParameter) return true;
    return q.mParameterID == p.mParameterID && q.mScope == p.mScope && q.mElement == p.mElement;
}

struct PendingKey {
    void* object;
    AudioUnit unit;
    AudioUnitParameterID id;
    AudioUnitScope scope;
    AudioUnitElement element;
    bool operator<(const PendingKey& o) const {
        return std::tie(object, unit, id, scope, element) < std::tie(o.object, o.unit, o.id, o.scope, o.element);
    }
};

struct Pending {
    AudioUnitParameterValue value = 0;
    Clock::time_point lastDelivered{};
    bool scheduled = false;
};

}  // namespace

struct AUListenerBase : std::enable_shared_from_this<AUListenerBase> {
    AUParameterListenerProc paramProc = nullptr;
    AUEventListenerProc eventProc = nullptr;
    void* refCon = nullptr;
    TB::RunLoop* loop = nullptr;
    Clock::duration interval{};

    std::mutex lock;                   // registrations, pending, disposed
    std::recursive_mutex delivery;     // held while a callback runs; Dispose waits for it
    std::vector<Registration> registrations;
    std::map<PendingKey, Pending> pending;
    bool disposed = false;

    void Call(void* object, const AudioUnitEvent& event, AudioUnitParameterValue value) {
        if (paramProc) paramProc(refCon, object, &event.mArgument.mParameter, value);
        else if (eventProc) eventProc(refCon, object, &event, UpTime().value, value);
    }

    void QueueValue(void* object, const AudioUnitParameter& p, AudioUnitParameterValue value);
    void Deliver(const PendingKey& key);
    void QueueGesture(void* object, const AudioUnitEvent& event);
};

namespace {

struct ListenerRegistry {
    std::mutex lock;
    std::vector<std::shared_ptr<AUListenerBase>> listeners;
};
ListenerRegistry& Registry() {
    static auto* registry = new ListenerRegistry();
    return *registry;
}
std::atomic<int> g_registrations{0};  // registrations across all listeners

std::shared_ptr<AUListenerBase> Find(AUParameterListenerRef ref) {
    ListenerRegistry& reg = Registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    for (auto& l : reg.listeners)
        if (l.get() == ref) return l;
    return nullptr;
}

// Listeners (but the sender) with a registration for the event on this parameter.
std::vector<std::pair<std::shared_ptr<AUListenerBase>, void*>> Interested(AUParameterListenerRef sender,
                                                                          AudioUnitEventType type,
                                                                          const AudioUnitParameter& p) {
    std::vector<std::pair<std::shared_ptr<AUListenerBase>, void*>> out;
    ListenerRegistry& reg = Registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    for (auto& l : reg.listeners) {
        if (l.get() == sender) continue;
        std::lock_guard<std::mutex> lguard(l->lock);
        for (const Registration& r : l->registrations)
            if (Matches(r, type, p)) out.emplace_back(l, r.object);
    }
    return out;
}

void NotifyValue(AUParameterListenerRef sender, const AudioUnitParameter& p, AudioUnitParameterValue value) {
    for (auto& [listener, object] : Interested(sender, kAudioUnitEvent_ParameterValueChange, p))
        listener->QueueValue(object, p, value);
}

OSStatus CreateListener(AUParameterListenerProc paramProc, AUEventListenerProc eventProc, void* refCon,
                        TB::RunLoop* runLoop, Float32 interval, AUParameterListenerRef* out) {
    if (out == nullptr || (paramProc == nullptr && eventProc == nullptr)) return paramErr;
    auto l = std::make_shared<AUListenerBase>();
    l->paramProc = paramProc;
    l->eventProc = eventProc;
    l->refCon = refCon;
    l->loop = runLoop ? runLoop : (TB::RunLoop::Current() ? TB::RunLoop::Current() : &TB::RunLoop::Main());
    const double seconds = std::isfinite(interval) && interval > 0 ? std::min<double>(interval, 3600.0) : 0.0;
    l->interval = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    ListenerRegistry& reg = Registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    reg.listeners.push_back(l);
    *out = l.get();
    return noErr;
}

}  // namespace

void AUListenerBase::QueueValue(void* object, const AudioUnitParameter& p, AudioUnitParameterValue value) {
    const PendingKey key{object, p.mAudioUnit, p.mParameterID, p.mScope, p.mElement};
    double delaySeconds = 0;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (disposed) return;
        Pending& entry = pending[key];
        entry.value = value;
        if (entry.scheduled) return;  // the delivery already on its way takes the new value
        entry.scheduled = true;
        const auto earliest = entry.lastDelivered + interval;
        const auto now = Clock::now();
        if (entry.lastDelivered != Clock::time_point{} && earliest > now)
            delaySeconds = std::chrono::duration<double>(earliest - now).count();
    }
    std::weak_ptr<AUListenerBase> weak = weak_from_this();
    auto deliver = [weak, key](auto...) {
        if (auto self = weak.lock()) self->Deliver(key);
    };
    if (delaySeconds > 0) loop->AddTimer(delaySeconds, 0, deliver);
    else loop->Post(deliver);
}

void AUListenerBase::Deliver(const PendingKey& key) {
    std::lock_guard<std::recursive_mutex> calling(delivery);
    AudioUnitParameterValue value;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (disposed) return;
        auto it = pending.find(key);
        if (it == pending.end() || !it->second.scheduled) return;
        it->second.scheduled = false;
        it->second.lastDelivered = Clock::now();
        value = it->second.value;
    }
    AudioUnitEvent event;
    std::memset(&event, 0, sizeof event);
    event.mEventType = kAudioUnitEvent_ParameterValueChange;
    event.mArgument.mParameter = AudioUnitParameter{key.unit, key.id, key.scope, key.element};
    Call(key.object, event, value);
}

void AUListenerBase::QueueGesture(void* object, const AudioUnitEvent& event) {
    std::weak_ptr<AUListenerBase> weak = weak_from_this();
    loop->Post([weak, object, event] {
        auto self = weak.lock();
        if (!self) return;
        std::lock_guard<std::recursive_mutex> calling(self->delivery);
        {
            std::lock_guard<std::mutex> guard(self->lock);
            if (self->disposed) return;
        }
        self->Call(object, event, 0);
    });
}

// ---------------------------------------------------------------------------------------------

OSStatus AUParameterSet(AUParameterListenerRef sendingListener, void*, const AudioUnitParameter* param,
                        AudioUnitParameterValue value, UInt32 bufferOffsetInFrames) {
    if (param == nullptr) return paramErr;
    OSStatus result = AudioUnitSetParameter(param->mAudioUnit, param->mParameterID, param->mScope, param->mElement,
                                            value, bufferOffsetInFrames);
    if (result != noErr) return result;
    if (g_registrations.load(std::memory_order_acquire) == 0) return noErr;
    NotifyValue(sendingListener, *param, value);
    return noErr;
}

OSStatus AUParameterListenerNotify(AUParameterListenerRef sendingListener, void*, const AudioUnitParameter* param) {
    if (param == nullptr) return paramErr;
    if (g_registrations.load(std::memory_order_acquire) == 0) return noErr;
    AudioUnitParameterValue value = 0;
    OSStatus result =
        AudioUnitGetParameter(param->mAudioUnit, param->mParameterID, param->mScope, param->mElement, &value);
    if (result != noErr) return result;
    NotifyValue(sendingListener, *param, value);
    return noErr;
}

OSStatus AUListenerCreate(AUParameterListenerProc proc, void* refCon, TB::RunLoop* runLoop, void*,
                          Float32 notificationInterval, AUParameterListenerRef* outListener) {
    if (proc == nullptr) return paramErr;
    return CreateListener(proc, nullptr, refCon, runLoop, notificationInterval, outListener);
}

OSStatus AUEventListenerCreate(AUEventListenerProc proc, void* refCon, TB::RunLoop* runLoop, void*,
                               Float32 notificationInterval, Float32, AUEventListenerRef* outListener) {
    if (proc == nullptr) return paramErr;
    return CreateListener(nullptr, proc, refCon, runLoop, notificationInterval, outListener);
}

OSStatus AUListenerDispose(AUParameterListenerRef listener) {
    std::shared_ptr<AUListenerBase> l;
    {
        ListenerRegistry& reg = Registry();
        std::lock_guard<std::mutex> guard(reg.lock);
        auto it = std::find_if(reg.listeners.begin(), reg.listeners.end(),
                               [listener](const auto& p) { return p.get() == listener; });
        if (it == reg.listeners.end()) return paramErr;
        l = *it;
        reg.listeners.erase(it);
    }
    // Waits for a callback running on another thread; on the listener's own thread (a callback
    // disposing its listener) the recursive lock lets it through.
    std::lock_guard<std::recursive_mutex> calling(l->delivery);
    std::lock_guard<std::mutex> guard(l->lock);
    g_registrations.fetch_sub((int)l->registrations.size(), std::memory_order_acq_rel);
    l->registrations.clear();
    l->pending.clear();
    l->disposed = true;
    return noErr;
}

namespace {
OSStatus AddRegistration(AUParameterListenerRef listener, void* object, const AudioUnitEvent& event) {
    auto l = Find(listener);
    if (!l) return paramErr;
    std::lock_guard<std::mutex> guard(l->lock);
    l->registrations.push_back({object, event});
    g_registrations.fetch_add(1, std::memory_order_acq_rel);
    return noErr;
}
OSStatus RemoveRegistration(AUParameterListenerRef listener, void* object, const AudioUnitEvent& event) {
    auto l = Find(listener);
    if (!l) return paramErr;
    std::lock_guard<std::mutex> guard(l->lock);
    const auto& p = event.mArgument.mParameter;
    const size_t before = l->registrations.size();
    std::erase_if(l->registrations, [&](const Registration& r) {
        const auto& q = r.event.mArgument.mParameter;
        return r.object == object && r.event.mEventType == event.mEventType && q.mAudioUnit == p.mAudioUnit &&
               q.mParameterID == p.mParameterID && q.mScope == p.mScope && q.mElement == p.mElement;
    });
    g_registrations.fetch_sub(int(before - l->registrations.size()), std::memory_order_acq_rel);
    return noErr;
}
AudioUnitEvent ValueEvent(const AudioUnitParameter& p) {
    AudioUnitEvent e;
    std::memset(&e, 0, sizeof e);
    e.mEventType = kAudioUnitEvent_ParameterValueChange;
    e.mArgument.mParameter = p;
    return e;
}
}  // namespace

OSStatus AUListenerAddParameter(AUParameterListenerRef listener, void* object, const AudioUnitParameter* param) {
    if (param == nullptr) return paramErr;
    return AddRegistration(listener, object, ValueEvent(*param));
}

OSStatus AUListenerRemoveParameter(AUParameterListenerRef listener, void* object, const AudioUnitParameter* param) {
    if (param == nullptr) return paramErr;
    return RemoveRegistration(listener, object, ValueEvent(*param));
}

OSStatus AUEventListenerAddEventType(AUEventListenerRef listener, void* object, const AudioUnitEvent* event) {
    if (event == nullptr) return paramErr;
    // Property-change events are not carried by these services (units tell property listeners).
    if (event->mEventType > kAudioUnitEvent_EndParameterChangeGesture) return paramErr;
    return AddRegistration(listener, object, *event);
}

OSStatus AUEventListenerNotify(AUEventListenerRef sendingListener, void*, const AudioUnitEvent* event) {
    if (event == nullptr) return paramErr;
    if (event->mEventType == kAudioUnitEvent_ParameterValueChange)
        return AUParameterListenerNotify(sendingListener, nullptr, &event->mArgument.mParameter);
    if (event->mEventType > kAudioUnitEvent_EndParameterChangeGesture) return paramErr;
    if (g_registrations.load(std::memory_order_acquire) == 0) return noErr;
    for (auto& [listener, object] : Interested(sendingListener, event->mEventType, event->mArgument.mParameter))
        listener->QueueGesture(object, *event);
    return noErr;
}

// ---------------------------------------------------------------------------------------------
// Value maps and formatting

namespace {
bool Range(const AudioUnitParameter* param, Float32& minValue, Float32& maxValue) {
    if (param == nullptr) return false;
    AudioUnitParameterInfo info;
    std::memset(&info, 0, sizeof info);
    UInt32 size = sizeof info;
    if (AudioUnitGetProperty(param->mAudioUnit, kAudioUnitProperty_ParameterInfo, param->mScope, param->mParameterID,
                             &info, &size) != noErr)
        return false;
    minValue = info.minValue;
    maxValue = info.maxValue;
    return std::isfinite(minValue) && std::isfinite(maxValue) && maxValue > minValue;
}
}  // namespace

Float32 AUParameterValueToLinear(Float32 value, const AudioUnitParameter* param) {
    Float32 lo, hi;
    if (!Range(param, lo, hi) || !std::isfinite(value)) return 0.f;
    return std::clamp((value - lo) / (hi - lo), 0.f, 1.f);
}

Float32 AUParameterValueFromLinear(Float32 linear, const AudioUnitParameter* param) {
    Float32 lo, hi;
    if (!Range(param, lo, hi)) return 0.f;
    if (!std::isfinite(linear)) linear = 0.f;
    linear = std::clamp(linear, 0.f, 1.f);
    return lo + linear * (hi - lo);
}

// The text takes at most 32 bytes with its terminator: `digits` significant digits in fixed
// notation, switching to exponent notation for magnitudes of 1e9 and above.
char* AUParameterFormatValue(Float64 value, const AudioUnitParameter*, char* textBuffer, UInt32 digits) {
    if (textBuffer == nullptr) return nullptr;
    if (digits == 0) digits = 1;
    if (digits > 15) digits = 15;
    if (!std::isfinite(value)) {
        std::snprintf(textBuffer, 32, "%s", std::isnan(value) ? "nan" : (value < 0 ? "-inf" : "inf"));
        return textBuffer;
    }
    const double magnitude = std::fabs(value);
    if (magnitude >= 1e9) {
        std::snprintf(textBuffer, 32, "%.*g", (int)digits, value);
        return textBuffer;
    }
    int intDigits = magnitude >= 1.0 ? (int)std::floor(std::log10(magnitude)) + 1 : 1;
    int decimals = std::max(0, (int)digits - intDigits);
    std::snprintf(textBuffer, 32, "%.*f", decimals, value);
    return textBuffer;
}
