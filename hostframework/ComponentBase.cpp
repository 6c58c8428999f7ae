#include "hostframework/ComponentBase.h"

#include <exception>

ComponentBase::ComponentBase(AudioComponentInstance inInstance) : m_componentInstance(inInstance) {}
ComponentBase::~ComponentBase() {}

void ComponentBase::PostConstructor() {}
void ComponentBase::PreDestructor() {}

AudioComponentDescription ComponentBase::GetComponentDescription() const {
    AudioComponentDescription desc{};
    GetComponentInfo(m_componentInstance, &desc);
    return desc;
}

OSStatus ComponentBase::Version() { return 0x00010000; }

AudioComponentInstance ComponentBase::InstanceFromOpenParams(const ComponentParameters* params) {
    return params && params->count >= 1 ? reinterpret_cast<AudioComponentInstance>(params->params[0]) : nullptr;
}

OSStatus ComponentBase::Close(ComponentBase* unit) {
    if (unit == nullptr) return paramErr;
    OSStatus result = noErr;
    try {
        unit->PreDestructor();
    } catch (...) {
        result = ResultFromCurrentException();
    }
    try {
        delete unit;
    } catch (...) {
        result = ResultFromCurrentException();
    }
    return result;
}

OSStatus ComponentBase::ResultFromCurrentException() noexcept {
    try {
        throw;
    } catch (OSStatus status) {
        return status;
    } catch (SInt16 status) {
        return status;
    } catch (const std::bad_alloc&) {
        return memFullErr;
    } catch (...) {
        return -1;
    }
}
