#include "platform/net/Connectivity.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

namespace platform {

namespace {

class InterfaceConnectivity final : public IConnectivity {
  public:
    bool IsConnected() override {
        ifaddrs* list = nullptr;
        if (getifaddrs(&list) != 0) {
            return false;
        }
        bool connected = false;
        for (ifaddrs* i = list; i != nullptr && !connected; i = i->ifa_next) {
            if (i->ifa_addr == nullptr) {
                continue;
            }
            const int family = i->ifa_addr->sa_family;
            const unsigned flags = i->ifa_flags;
            connected = (family == AF_INET || family == AF_INET6) && (flags & IFF_UP) != 0 &&
                        (flags & IFF_RUNNING) != 0 && (flags & IFF_LOOPBACK) == 0;
        }
        freeifaddrs(list);
        return connected;
    }
};

}  // namespace

IConnectivity& SystemConnectivity() noexcept {
    static InterfaceConnectivity connectivity;
    return connectivity;
}

}  // namespace platform
