#include "osc/BonjourPublisher.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>

namespace TB {

// The Avahi callbacks run on the poll thread with the poll lock held.
struct BonjourPublisherCallbacks {
    static void Client(AvahiClient* client, AvahiClientState state, void* userdata) {
        BonjourPublisher* self = static_cast<BonjourPublisher*>(userdata);
        switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            self->Register(client);
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
            // The host name is changing: drop the records; RUNNING registers them again.
            if (self->m_group) avahi_entry_group_reset(self->m_group);
            self->m_registered = false;
            break;
        case AVAHI_CLIENT_FAILURE:
            // The daemon went away: this client never reconnects, so make a new one (not from
            // inside its own callback).
            self->m_registered = false;
            if (const AvahiPoll* api = avahi_threaded_poll_get(self->m_poll)) {
                struct timeval now;
                api->timeout_new(api, avahi_elapse_time(&now, 0, 0), Recreate, self);
            }
            break;
        case AVAHI_CLIENT_CONNECTING:
            break;
        }
    }

    static void Group(AvahiEntryGroup* group, AvahiEntryGroupState state, void* userdata) {
        BonjourPublisher* self = static_cast<BonjourPublisher*>(userdata);
        if (group != self->m_group) return;
        switch (state) {
        case AVAHI_ENTRY_GROUP_ESTABLISHED:
            self->m_registered = true;
            break;
        case AVAHI_ENTRY_GROUP_COLLISION: {
            char* alternative = avahi_alternative_service_name(self->m_name.c_str());
            if (alternative) {
                self->m_name = alternative;
                avahi_free(alternative);
            }
            self->m_registered = false;
            avahi_entry_group_reset(group);
            self->Register(avahi_entry_group_get_client(group));
            break;
        }
        case AVAHI_ENTRY_GROUP_FAILURE:
            self->m_registered = false;
            break;
        case AVAHI_ENTRY_GROUP_UNCOMMITED:
        case AVAHI_ENTRY_GROUP_REGISTERING:
            break;
        }
    }

    static void Recreate(AvahiTimeout* timeout, void* userdata) {
        BonjourPublisher* self = static_cast<BonjourPublisher*>(userdata);
        avahi_threaded_poll_get(self->m_poll)->timeout_free(timeout);
        if (self->m_client) avahi_client_free(self->m_client);  // frees its entry group too
        self->m_client = nullptr;
        self->m_group = nullptr;
        self->StartClient();
    }
};

BonjourPublisher::BonjourPublisher() = default;

BonjourPublisher::~BonjourPublisher() {
    if (!m_poll) return;
    avahi_threaded_poll_stop(m_poll);
    if (m_client) avahi_client_free(m_client);
    avahi_threaded_poll_free(m_poll);
}

void BonjourPublisher::StartClient() {
    int error = 0;
    // With NO_FAIL the client waits for a daemon that is not running yet; the callback may run
    // inside this call, with the new client as its argument.
    m_client = avahi_client_new(avahi_threaded_poll_get(m_poll), AVAHI_CLIENT_NO_FAIL,
                                BonjourPublisherCallbacks::Client, this, &error);
}

void BonjourPublisher::Register(AvahiClient* client) {
    if (!m_wanted || !client || avahi_client_get_state(client) != AVAHI_CLIENT_S_RUNNING) return;
    if (!m_group) {
        m_group = avahi_entry_group_new(client, BonjourPublisherCallbacks::Group, this);
        if (!m_group) return;
    }
    if (!avahi_entry_group_is_empty(m_group)) return;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int result = avahi_entry_group_add_service(m_group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
                                                         m_name.c_str(), kServiceType, nullptr, nullptr, m_port, nullptr);
        if (result == AVAHI_ERR_COLLISION) {
            char* alternative = avahi_alternative_service_name(m_name.c_str());
            if (!alternative) return;
            m_name = alternative;
            avahi_free(alternative);
            continue;
        }
        if (result < 0) return;
        avahi_entry_group_commit(m_group);
        return;
    }
}

void BonjourPublisher::Publish(const std::string& name, UInt16 port) {
    if (!m_poll) {
        m_poll = avahi_threaded_poll_new();
        if (!m_poll) return;
        m_name = name;
        m_port = port;
        m_wanted = true;
        StartClient();
        if (avahi_threaded_poll_start(m_poll) < 0) {
            if (m_client) avahi_client_free(m_client);
            m_client = nullptr;
            m_group = nullptr;
            avahi_threaded_poll_free(m_poll);
            m_poll = nullptr;
        }
        return;
    }
    avahi_threaded_poll_lock(m_poll);
    if (m_group) avahi_entry_group_reset(m_group);
    m_registered = false;
    m_name = name;
    m_port = port;
    m_wanted = true;
    if (!m_client) StartClient();
    else Register(m_client);
    avahi_threaded_poll_unlock(m_poll);
}

void BonjourPublisher::Withdraw() {
    if (!m_poll) return;
    avahi_threaded_poll_lock(m_poll);
    m_wanted = false;
    m_registered = false;
    if (m_group) {
        avahi_entry_group_free(m_group);
        m_group = nullptr;
    }
    avahi_threaded_poll_unlock(m_poll);
}

std::string BonjourPublisher::RegisteredName() {
    if (!m_poll) return std::string();
    avahi_threaded_poll_lock(m_poll);
    std::string result = m_registered ? m_name : std::string();
    avahi_threaded_poll_unlock(m_poll);
    return result;
}

}  // namespace TB
