// Publication of one "_osc._udp" service in the default domain through the Avahi client.
//
// The client runs on an Avahi threaded poll of its own and waits for a daemon that is not
// running yet (or restarts); without one, Publish simply has no visible effect. A name that
// collides on the network moves to Avahi's alternative name.
// Publish and Withdraw: any one thread at a time (the OSC receive task), never the poll thread.
#pragma once

#include <string>

#include "hostframework/AUTypes.h"

struct AvahiThreadedPoll;
struct AvahiClient;
struct AvahiEntryGroup;

namespace TB {

class BonjourPublisher {
public:
    static constexpr const char* kServiceType = "_osc._udp";

    BonjourPublisher();
    ~BonjourPublisher();  // withdraws and stops the poll thread
    BonjourPublisher(const BonjourPublisher&) = delete;
    BonjourPublisher& operator=(const BonjourPublisher&) = delete;

    // Replaces any earlier publication.
    void Publish(const std::string& name, UInt16 port);
    void Withdraw();

    // The name currently registered with the daemon (after collisions), or empty.
    std::string RegisteredName();

private:
    friend struct BonjourPublisherCallbacks;
    // Under the poll lock (or on the poll thread).
    void Register(AvahiClient* client);
    void StartClient();

    AvahiThreadedPoll* m_poll = nullptr;
    AvahiClient* m_client = nullptr;
    AvahiEntryGroup* m_group = nullptr;
    std::string m_name;  // current name, may have moved after a collision
    UInt16 m_port = 0;
    bool m_wanted = false;
    bool m_registered = false;
};

}  // namespace TB
